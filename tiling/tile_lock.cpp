#include "tiling/tile_lock.hpp"

#include "platform/file_system.hpp"

namespace georef::tiling {

namespace {
constexpr std::int64_t kIndexSpan = std::int64_t{1} << 19;  // tile indices -2^18 .. 2^18 - 1
}

std::int64_t TileLockOffset(int tileX, int tileY) noexcept {
    const std::int64_t row = tileX / 10000 + kIndexSpan / 2;
    const std::int64_t column = tileY / 10000 + kIndexSpan / 2;
    return row * kIndexSpan + column;
}

std::optional<platform::RegionLock> LockTile(const std::string& outputDirectory, int tileX, int tileY) {
    return platform::RegionLock::Acquire(platform::JoinPath(outputDirectory, kTileLockFile),
                                         TileLockOffset(tileX, tileY));
}

}  // namespace georef::tiling
