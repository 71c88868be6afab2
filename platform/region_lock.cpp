#include "platform/region_lock.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace georef::platform {

namespace {

struct flock OneByte(short type, std::int64_t offset) noexcept {
    struct flock region {};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = static_cast<off_t>(offset);
    region.l_len = 1;
    region.l_pid = 0;  // must be 0 for open-file-description locks
    return region;
}

}  // namespace

std::optional<RegionLock> RegionLock::Acquire(const std::string& lockFile, std::int64_t offset) {
    const int descriptor = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return std::nullopt;
    }
    RegionLock lock(descriptor);
    struct flock region = OneByte(F_WRLCK, offset);
    while (::fcntl(descriptor, F_OFD_SETLKW, &region) != 0) {
        if (errno != EINTR) {
            return std::nullopt;  // the destructor closes the file, errno stays
        }
    }
    return lock;
}

bool RegionLock::IsHeldElsewhere(const std::string& lockFile, std::int64_t offset) {
    const int descriptor = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    struct flock region = OneByte(F_WRLCK, offset);
    const bool held = ::fcntl(descriptor, F_OFD_GETLK, &region) == 0 && region.l_type != F_UNLCK;
    ::close(descriptor);
    return held;
}

RegionLock::~RegionLock() {
    if (m_descriptor >= 0) {
        const int saved = errno;
        ::close(m_descriptor);  // releases the lock
        errno = saved;
    }
}

RegionLock::RegionLock(RegionLock&& other) noexcept : m_descriptor(other.m_descriptor) {
    other.m_descriptor = -1;
}

RegionLock& RegionLock::operator=(RegionLock&& other) noexcept {
    if (this != &other) {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
        m_descriptor = other.m_descriptor;
        other.m_descriptor = -1;
    }
    return *this;
}

}  // namespace georef::platform
