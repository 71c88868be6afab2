#pragma once
// A square RGBA image, four bytes per pixel, top row first: a block of web
// tiles while the pyramid is made. Alpha 0 is outside the area, 255 inside.

#include <cstdint>
#include <vector>

namespace georef::publish {

enum class TileCoverage {
    empty,    // every pixel outside the area
    partial,  // the area's edge crosses the tile
    full,     // every pixel inside the area
};

struct RgbaImage {
    int size = 0;  // pixels along each side
    std::vector<std::uint8_t> pixels;  // size * size * 4

    explicit RgbaImage(int side = 0) : size(side), pixels(static_cast<std::size_t>(side) * side * 4, 0) {}

    std::uint8_t* Row(int row) noexcept { return pixels.data() + static_cast<std::size_t>(row) * size * 4; }
    const std::uint8_t* Row(int row) const noexcept {
        return pixels.data() + static_cast<std::size_t>(row) * size * 4;
    }
};

// The image averaged down to half its size (size must be even): each pixel
// from its 2 x 2 parent pixels, colours weighted by their alpha, alpha the
// rounded mean. Integer arithmetic: the same input always gives the same bytes.
RgbaImage Halve(const RgbaImage& image);

// The square of side `side` whose top-left pixel is (column, row).
RgbaImage Crop(const RgbaImage& image, int column, int row, int side);

// Copies part into image with its top-left pixel at (column, row).
void Paste(RgbaImage& image, const RgbaImage& part, int column, int row);

TileCoverage CoverageOf(const RgbaImage& image) noexcept;

// RGB with the pixels outside the area (and the transparent share of those
// on its edge) laid over white paper.
std::vector<std::uint8_t> OverWhite(const RgbaImage& image);

}  // namespace georef::publish
