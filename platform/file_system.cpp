#include "platform/file_system.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace georef::platform {

namespace fs = std::filesystem;

bool Exists(const std::string& name) noexcept {
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    return !ec && fs::exists(status);
}

bool IsDirectory(const std::string& name) noexcept {
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    return !ec && fs::is_directory(status);
}

bool IsWriteProtected(const std::string& name) noexcept {
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) {
        return false;
    }
    return ::access(name.c_str(), W_OK) != 0 || (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::optional<std::int64_t> FileSize(const std::string& name) noexcept {
    std::error_code ec;
    if (!fs::is_regular_file(name, ec) || ec) {
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(name, ec);
    if (ec) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(size);
}

std::string FileState(const std::string& name) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return {};
    }
    char text[200];
    std::snprintf(text, sizeof text, "%llu:%llu:%lld:%lld.%09ld:%lld.%09ld", static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino), static_cast<long long>(info.st_size),
                  static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec,
                  static_cast<long long>(info.st_ctim.tv_sec), info.st_ctim.tv_nsec);
    return text;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    if (dir.back() == '/') {
        return dir + name;
    }
    return dir + '/' + name;
}

}  // namespace georef::platform
