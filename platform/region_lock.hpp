#pragma once
// An exclusive kernel lock on one byte of a lock file, held while the object
// lives.
//
// The lock is an open-file-description lock (fcntl F_OFD_SETLKW): it excludes
// other processes, on this machine or on others sharing the file over a file
// system that honours POSIX locks, and other threads of this process that
// took their own RegionLock. The kernel drops it when the holder closes the
// file or dies, so no stale lock survives a crash or kill -9. The lock file
// itself is never removed: its existence means nothing.

#include <cstdint>
#include <optional>
#include <string>

namespace georef::platform {

class RegionLock {
public:
    // Opens (creating it if needed) the lock file and waits, without a time
    // limit, until it holds the byte at offset exclusively. Empty when the
    // lock file cannot be opened for writing or the file system refuses locks
    // (errno then tells why).
    static std::optional<RegionLock> Acquire(const std::string& lockFile, std::int64_t offset);

    ~RegionLock();
    RegionLock(RegionLock&& other) noexcept;
    RegionLock& operator=(RegionLock&& other) noexcept;
    RegionLock(const RegionLock&) = delete;
    RegionLock& operator=(const RegionLock&) = delete;

    // True when another holder has the byte at offset of lockFile right now
    // (for tests and diagnostics; the answer may be stale at once).
    static bool IsHeldElsewhere(const std::string& lockFile, std::int64_t offset);

private:
    explicit RegionLock(int descriptor) noexcept : m_descriptor(descriptor) {}
    int m_descriptor = -1;
};

}  // namespace georef::platform
