#include "driver/run_parameters.hpp"

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace georef::driver {

long ParseDecimal(const char* text) noexcept {
    return std::strtol(text, nullptr, 10);
}

int TileSizeFromDpi(int dpi) noexcept {
    const float inchesPerTile = 15.748032f;
    const float pixels = static_cast<float>(dpi) * inchesPerTile;
    return static_cast<int>(pixels);
}

float PixelSizeFromTileSize(int tileSize) noexcept {
    return static_cast<float>(10000.0 / static_cast<double>(tileSize));
}

std::optional<int> CheckedTileSize(long dpi) noexcept {
    // Beyond this dpi the tile buffer cannot be addressed anyway; the bound
    // keeps the float product well inside the range of an int.
    constexpr long largestDpiConsidered = 100000;
    if (dpi < 1 || dpi > largestDpiConsidered) {
        return std::nullopt;
    }
    const int tileSize = TileSizeFromDpi(static_cast<int>(dpi));
    const std::int64_t bytes = static_cast<std::int64_t>(tileSize) * tileSize * 3;
    if (tileSize < 1 || bytes > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return tileSize;
}

}  // namespace georef::driver
