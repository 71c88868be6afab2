#pragma once
// The temporary files of a run, where they end when the run does not.
//
// A run writes each tile and world file into a temporary file beside it
// (`<name>.tmp-XXXXXX`) and renames it when complete. So that an interrupted
// run leaves none behind, the names of the temporary files alive are kept in
// a fixed table that a signal handler can read without allocating; on
// SIGINT, SIGTERM or SIGHUP the handler removes them and the process ends as
// the signal would have ended it. A run killed outright (SIGKILL, a crash)
// leaves its temporary files; RemoveStaleTemporaries lets a later run remove
// those of the files it is about to write.

#include <cstddef>
#include <string>

namespace georef::platform {

// A temporary file's name while the file may exist. The name lives in the
// table the signal handler reads when a slot is free and the name fits;
// otherwise in a buffer of its own, and a signal then leaves that file behind.
class RegisteredName {
public:
    // Slots in the table, and the longest name (bytes, without the end) a slot holds.
    static constexpr std::size_t kSlots = 16;
    static constexpr std::size_t kLongestName = 4095;

    // Holds pattern (a mkstemp template ending in XXXXXX).
    explicit RegisteredName(const std::string& pattern);
    ~RegisteredName();  // forgets the name; the file itself is the owner's to remove

    RegisteredName(const RegisteredName&) = delete;
    RegisteredName& operator=(const RegisteredName&) = delete;

    // The name, writable in place (mkstemp fills in the XXXXXX here, so the
    // handler sees the final name as soon as the file exists).
    char* Buffer() noexcept;
    // Forgets the name early: the file has been renamed or removed.
    void Release() noexcept;

private:
    int m_slot = -1;        // index into the table, -1 when held in m_own
    std::string m_own;      // the name when no slot holds it
    bool m_released = false;
};

// Installs the handler for SIGINT, SIGTERM and SIGHUP, each unless it is
// ignored (as under nohup). The handler unlinks every registered temporary
// file, restores the signal's default action and raises it again.
void RemoveTemporariesOnSignals() noexcept;

// Removes the temporary files of target (`<target>.tmp-` and six letters or
// digits, regular files) that a killed run left. With targetLocked the
// caller holds the lock every writer of target takes before making its
// temporary file, so every such file is left over and all go; without it
// only those last modified before this process started go (a live run keeps
// writing its temporary files, so files it is writing are newer). Nothing
// else is touched; failures are ignored.
void RemoveStaleTemporaries(const std::string& target, bool targetLocked = false) noexcept;

}  // namespace georef::platform
