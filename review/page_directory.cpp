#include "review/page_directory.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "review/review_page.hpp"

namespace georef::review {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPageLockFile = ".georef-review.lock";
constexpr const char* kNewPagePrefix = ".review-new-";
constexpr const char* kOldPagePrefix = ".review-old-";

// A directory name mkdtemp made from prefix + "XXXXXX".
bool IsPageDirectory(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::optional<platform::RegionLock> LockPages(const fs::path& outputDirectory) {
    return platform::RegionLock::Acquire((outputDirectory / kPageLockFile).string(), 0);
}

StagingDirectory::StagingDirectory(const fs::path& outputDirectory) {
    std::string pattern = (outputDirectory / (std::string(kNewPagePrefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw ReviewError("cannot create a directory in " + outputDirectory.string() + ": " + std::strerror(errno));
    }
    m_path = pattern;
    // mkdtemp makes the directory private; the page is as readable as any file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(pattern.c_str(), 0777 & ~mask);
}

StagingDirectory::~StagingDirectory() {
    if (!m_path.empty()) {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
}

void StagingDirectory::SwapInto(const fs::path& target) {
    fs::path old;
    if (fs::exists(fs::symlink_status(target))) {
        std::string pattern = (target.parent_path() / (std::string(kOldPagePrefix) + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr || std::rename(target.c_str(), (pattern + "/page").c_str()) != 0) {
            throw ReviewError("cannot move the earlier page " + target.string() + " aside: " + std::strerror(errno));
        }
        old = pattern;
    }
    if (std::rename(m_path.c_str(), target.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        if (!old.empty()) {
            std::rename((old / "page").c_str(), target.c_str());
            fs::remove_all(old);
        }
        throw ReviewError("cannot put the page in place at " + target.string() + ": " + reason);
    }
    m_path.clear();
    if (!old.empty()) {
        std::error_code ignored;
        fs::remove_all(old, ignored);
    }
}

int RemoveLeftoverPages(const std::string& outputDirectory) noexcept {
    try {
        std::vector<fs::path> left;
        std::error_code error;
        for (fs::directory_iterator it(outputDirectory, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            std::error_code kind;
            if ((IsPageDirectory(name, kNewPagePrefix) || IsPageDirectory(name, kOldPagePrefix)) &&
                fs::is_directory(fs::symlink_status(it->path(), kind)) && !kind) {
                left.push_back(it->path());
            }
        }
        if (left.empty()) {
            return 0;
        }
        const std::optional<platform::RegionLock> lock = LockPages(outputDirectory);
        if (!lock) {
            return 0;  // no writer can be told from a leftover
        }
        int removed = 0;
        for (const fs::path& directory : left) {
            std::error_code ignored;
            removed += fs::remove_all(directory, ignored) > 0 ? 1 : 0;
        }
        return removed;
    } catch (...) {
        return 0;
    }
}

}  // namespace georef::review
