#include "batch/leftovers.hpp"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "batch/journal.hpp"
#include "platform/file_system.hpp"
#include "platform/temporary_files.hpp"
#include "tiling/tile_lock.hpp"

namespace georef::batch {

namespace {

namespace fs = std::filesystem;

constexpr const char* kTemporaryInfix = ".tmp-";

// A whole decimal number (with an optional '-') in full.
bool WholeNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 7) {
        return false;
    }
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() + text.size();
}

// The tile of a target named "X_Y.jpg" or "X_Y.jgw": its top and east edges
// in output metres; empty for any other name.
std::optional<std::pair<int, int>> TileOf(const std::string& target) {
    if (target.size() < 8) {
        return std::nullopt;
    }
    const std::string extension = target.substr(target.size() - 4);
    if (extension != ".jpg" && extension != ".jgw") {
        return std::nullopt;
    }
    const std::string stem = target.substr(0, target.size() - 4);
    const std::string::size_type underscore = stem.find('_');
    long x = 0;
    long y = 0;
    if (underscore == std::string::npos || !WholeNumber(stem.substr(0, underscore), x) ||
        !WholeNumber(stem.substr(underscore + 1), y)) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<int>(x * 10000), static_cast<int>(y * 10000));
}

std::size_t CountEntries(const std::string& directory) {
    std::size_t count = 0;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        ++count;
    }
    return count;
}

}  // namespace

int RemoveLeftoverTemporaries(const std::string& outputDirectory) noexcept {
    try {
        // The targets whose temporaries lie here, by name.
        std::set<std::string> targets;
        std::error_code error;
        for (fs::directory_iterator it(outputDirectory, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            const std::string::size_type infix = name.rfind(kTemporaryInfix);
            if (infix != std::string::npos && infix > 0) {
                targets.insert(name.substr(0, infix));
            }
        }
        if (targets.empty()) {
            return 0;
        }
        const std::size_t before = CountEntries(outputDirectory);
        for (const std::string& target : targets) {
            const std::string path = platform::JoinPath(outputDirectory, target);
            if (const std::optional<std::pair<int, int>> tile = TileOf(target)) {
                const std::optional<platform::RegionLock> lock =
                    tiling::LockTile(outputDirectory, tile->first, tile->second);
                platform::RemoveStaleTemporaries(path, lock.has_value());
            } else if (target == kJournalFile) {
                const std::optional<platform::RegionLock> lock = LockBatchFiles(outputDirectory);
                platform::RemoveStaleTemporaries(path, lock.has_value());
            }
        }
        const std::size_t after = CountEntries(outputDirectory);
        return before > after ? static_cast<int>(before - after) : 0;
    } catch (...) {
        return 0;
    }
}

}  // namespace georef::batch
