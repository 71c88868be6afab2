#pragma once
// A file that appears under its final name only when it is complete.
//
// The content is written into a temporary file in the same directory as the
// target; Commit() flushes it to disk and renames it over the target. If the
// object goes away without a successful Commit() the temporary file is
// removed and the target is left exactly as it was. The temporary file's
// name is registered (RegisteredName), so that SIGINT, SIGTERM and SIGHUP
// remove it too once RemoveTemporariesOnSignals is installed.

#include <cstdio>
#include <string>

#include "platform/temporary_files.hpp"

namespace georef::platform {

// How far Commit() waits for the disk. A file that a later step can make
// again from its sources (a web map tile) may be renamed without waiting;
// its writer makes the whole set durable at once (SyncFileSystem) before it
// records that the set is complete.
enum class Durability {
    synced,       // the content and the rename are on disk when Commit() returns
    renamedOnly,  // complete under its name for every reader; on disk later
};

// Waits until everything written to the file system holding directory is on
// disk. Returns false when it cannot be asked.
bool SyncFileSystem(const std::string& directory) noexcept;

class AtomicFile {
public:
    // How the content reaches the temporary file: through Stream(), or by a
    // writer that opens the file by TemporaryName() itself (GDAL's drivers),
    // for which the temporary file is made empty and closed at once.
    enum class Access { stream, byName };

    // Creates the temporary file beside target. Throws std::runtime_error
    // (with the system's reason) when it cannot be created.
    explicit AtomicFile(std::string target, Access access = Access::stream);
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // The open stream of the temporary file ("wb"); owned by this object.
    // Null for Access::byName.
    std::FILE* Stream() const noexcept { return m_stream; }
    const std::string& Target() const noexcept { return m_target; }
    const std::string& TemporaryName() const noexcept { return m_temporary; }

    // Flushes, syncs (unless renamedOnly) and closes the temporary file (for
    // Access::byName the writer must have closed it), then renames it over
    // the target. Throws std::runtime_error when any step fails; the
    // temporary file is then removed by the destructor. Commits once.
    void Commit(Durability durability = Durability::synced);

private:
    std::string m_target;
    RegisteredName m_registered;  // the temporary name, where a signal handler finds it
    std::string m_temporary;
    std::FILE* m_stream = nullptr;
    Access m_access;
    bool m_committed = false;
};

}  // namespace georef::platform
