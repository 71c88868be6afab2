#pragma once
// The run's parameters derived from the command line.

#include <optional>

namespace georef::driver {

// Conversion of a command-line argument as strtol does it in base 10:
// leading white space and a sign are accepted, conversion stops at the first
// character that is not a digit, no digit gives 0. Values beyond the range of
// a long saturate (as strtol does).
long ParseDecimal(const char* text) noexcept;

// Tile edge in pixels: dpi times 15.748032 inches (400 mm, 10 000 m at
// 1:25 000), in single precision, truncated toward zero.
int TileSizeFromDpi(int dpi) noexcept;

// Pixel edge in metres of the output frame: 10 000 / tileSize in double
// precision, rounded to single precision.
float PixelSizeFromTileSize(int tileSize) noexcept;

// The tile size for a dpi, when the dpi gives a usable tile: at least one
// pixel, and a pixel buffer of tileSize * tileSize * 3 bytes that a 32-bit
// signed count can address. Empty for any other dpi.
std::optional<int> CheckedTileSize(long dpi) noexcept;

}  // namespace georef::driver
