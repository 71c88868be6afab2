#pragma once
// Where a review page is put together and how it replaces the page before
// it: a new directory beside OUTDIR/review, swapped in only when complete,
// under a kernel lock of the output directory that every page writer holds
// from making that directory to the swap. A new or moved-aside directory
// found under that lock was left by a writer killed midway.

#include <filesystem>
#include <optional>

#include "platform/region_lock.hpp"

namespace georef::review {

// Held by every page writer from its new directory to the swap
// (OUTDIR/.georef-review.lock). Empty when the directory takes no lock file.
std::optional<platform::RegionLock> LockPages(const std::filesystem::path& outputDirectory);

// The new page's directory beside OUTDIR/review (.review-new-XXXXXX),
// removed unless swapped in. Throws ReviewError.
class StagingDirectory {
public:
    explicit StagingDirectory(const std::filesystem::path& outputDirectory);
    ~StagingDirectory();
    StagingDirectory(const StagingDirectory&) = delete;
    StagingDirectory& operator=(const StagingDirectory&) = delete;

    const std::filesystem::path& Path() const noexcept { return m_path; }

    // Puts the staged page in the place of target (an earlier page is moved
    // aside first, as .review-old-XXXXXX, and removed once the new one is
    // there).
    void SwapInto(const std::filesystem::path& target);

private:
    std::filesystem::path m_path;
};

}  // namespace georef::review
