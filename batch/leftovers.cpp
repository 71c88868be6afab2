#include "batch/leftovers.hpp"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>

#include "batch/corner_source.hpp"
#include "batch/journal.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/file_system.hpp"
#include "platform/temporary_files.hpp"
#include "review/tile_reduction.hpp"
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

// A file the batch shares between all its runs in the output directory,
// written under the batch lock: summary.csv, summary-K-of-N.csv, mosaic.vrt.
bool IsBatchFile(const std::string& target) {
    static const std::regex pattern("summary(-[0-9]+-of-[0-9]+)?\\.csv|mosaic\\.vrt");
    return target == kJournalFile || std::regex_match(target, pattern);
}

// The sheet of a target in OUTDIR/corners/ ("40571.txt", ".png", ".key");
// empty for any other name.
std::optional<int> SheetOfCornerFile(const std::string& target) {
    static const std::regex pattern("([0-9]{5})\\.(txt|png|key)");
    std::smatch match;
    if (!std::regex_match(target, match, pattern)) {
        return std::nullopt;
    }
    const int sheet = std::stoi(match[1]);
    return geometry::IsValidSheetNumber(sheet) ? std::optional<int>(sheet) : std::nullopt;
}

// The targets of the temporaries in directory, by name.
std::set<std::string> TemporaryTargets(const std::string& directory) {
    std::set<std::string> targets;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::string::size_type infix = name.rfind(kTemporaryInfix);
        if (infix != std::string::npos && infix > 0) {
            targets.insert(name.substr(0, infix));
        }
    }
    return targets;
}

// Where the tiles' kept reductions are (review/tile_reduction.hpp).
std::string ReducedTilesDirectory(const std::string& outputDirectory) {
    return fs::path(review::ReducedTilePath(platform::JoinPath(outputDirectory, "0_0.jpg"))).parent_path().string();
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
        const std::string corners = FoundCornersDirectory(outputDirectory);
        const std::string hand = platform::JoinPath(corners, "hand");
        const std::set<std::string> here = TemporaryTargets(outputDirectory);
        const std::set<std::string> inCorners = TemporaryTargets(corners);
        const std::set<std::string> inHand = TemporaryTargets(hand);
        const std::string reduced = ReducedTilesDirectory(outputDirectory);
        const std::set<std::string> inReduced = TemporaryTargets(reduced);
        if (here.empty() && inCorners.empty() && inHand.empty() && inReduced.empty()) {
            return 0;
        }
        const std::size_t before =
            CountEntries(outputDirectory) + CountEntries(corners) + CountEntries(hand) + CountEntries(reduced);
        for (const std::string& target : here) {
            const std::string path = platform::JoinPath(outputDirectory, target);
            if (const std::optional<std::pair<int, int>> tile = TileOf(target)) {
                const std::optional<platform::RegionLock> lock =
                    tiling::LockTile(outputDirectory, tile->first, tile->second);
                platform::RemoveStaleTemporaries(path, lock.has_value());
            } else if (IsBatchFile(target)) {
                const std::optional<platform::RegionLock> lock = LockBatchFiles(outputDirectory);
                platform::RemoveStaleTemporaries(path, lock.has_value());
            }
        }
        for (const std::string& target : inCorners) {
            if (const std::optional<int> sheet = SheetOfCornerFile(target)) {
                const std::optional<platform::RegionLock> lock = LockSheetFiles(outputDirectory, *sheet);
                platform::RemoveStaleTemporaries(platform::JoinPath(corners, target), lock.has_value());
            }
        }
        for (const std::string& target : inHand) {
            if (SheetOfCornerFile(target) && target.substr(target.size() - 4) == ".txt") {
                platform::RemoveStaleTemporaries(platform::JoinPath(hand, target), false);
            }
        }
        for (const std::string& target : inReduced) {
            // A tile's kept reduction is written under the tile's lock.
            if (const std::optional<std::pair<int, int>> tile = TileOf(target)) {
                const std::optional<platform::RegionLock> lock =
                    tiling::LockTile(outputDirectory, tile->first, tile->second);
                platform::RemoveStaleTemporaries(platform::JoinPath(reduced, target), lock.has_value());
            }
        }
        const std::size_t after =
            CountEntries(outputDirectory) + CountEntries(corners) + CountEntries(hand) + CountEntries(reduced);
        return before > after ? static_cast<int>(before - after) : 0;
    } catch (...) {
        return 0;
    }
}

}  // namespace georef::batch
