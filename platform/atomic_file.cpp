#include "platform/atomic_file.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

namespace georef::platform {

namespace {

std::runtime_error SystemError(const std::string& what, const std::string& name) {
    return std::runtime_error(what + " " + name + ": " + std::strerror(errno));
}

// The directory part of a path, with its trailing '/', or "" for a bare name.
std::string DirectoryOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

AtomicFile::AtomicFile(std::string target, Access access)
    : m_target(std::move(target)), m_registered(m_target + ".tmp-XXXXXX"), m_access(access) {
    // mkstemp writes the name into the registered buffer before it creates
    // the file, so a signal handler never misses the file.
    const int fd = ::mkstemp(m_registered.Buffer());
    if (fd < 0) {
        throw SystemError("cannot create a temporary file for", m_target);
    }
    m_temporary.assign(m_registered.Buffer());
    // mkstemp creates the file 0600; give it the permissions a plain fopen would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (m_access == Access::byName) {
        ::close(fd);
        return;
    }
    m_stream = ::fdopen(fd, "wb");
    if (m_stream == nullptr) {
        const int saved = errno;
        ::close(fd);
        ::unlink(m_temporary.c_str());
        errno = saved;
        throw SystemError("cannot open the temporary file", m_temporary);
    }
}

AtomicFile::~AtomicFile() {
    if (m_stream != nullptr) {
        std::fclose(m_stream);
    }
    if (!m_committed) {
        ::unlink(m_temporary.c_str());
    }
}

bool SyncFileSystem(const std::string& directory) noexcept {
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::syncfs(fd) == 0;
    ::close(fd);
    return synced;
}

void AtomicFile::Commit(Durability durability) {
    if (m_committed || (m_access == Access::stream && m_stream == nullptr)) {
        throw std::runtime_error("temporary file already closed: " + m_temporary);
    }
    const bool sync = durability == Durability::synced;
    if (m_access == Access::stream) {
        std::FILE* stream = m_stream;
        m_stream = nullptr;
        const bool flushed = std::fflush(stream) == 0 && (!sync || ::fsync(::fileno(stream)) == 0);
        const int flushErrno = errno;
        const bool closed = std::fclose(stream) == 0;
        if (!flushed || !closed) {
            errno = flushed ? errno : flushErrno;
            throw SystemError("cannot write", m_temporary);
        }
    } else if (sync) {
        // The writer has closed the file; its content goes to disk before the rename.
        const int fd = ::open(m_temporary.c_str(), O_RDONLY);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        const int syncErrno = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        if (!synced) {
            errno = syncErrno;
            throw SystemError("cannot write", m_temporary);
        }
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        throw SystemError("cannot replace", m_target);
    }
    m_committed = true;
    m_registered.Release();  // the name is the target's now
    if (durability == Durability::renamedOnly) {
        return;
    }
    // Make the rename itself durable.
    const std::string dir = DirectoryOf(m_target);
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

}  // namespace georef::platform
