#pragma once
// RGB pixels to the bytes of an image file in memory, through GDAL's JPEG
// and PNG drivers: what georef-review sends for scans, crops and map tiles.

#include <cstdint>
#include <string>
#include <vector>

namespace georef::workbench {

// Pixels of an image, R G B per pixel, rows from the top.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 3

    RgbImage() = default;
    RgbImage(int w, int h, std::uint8_t fill) : width(w), height(h), pixels(std::size_t(w) * h * 3, fill) {}
    std::uint8_t* Row(int y) noexcept { return pixels.data() + std::size_t(y) * width * 3; }
    const std::uint8_t* Row(int y) const noexcept { return pixels.data() + std::size_t(y) * width * 3; }
};

// JPEG of the given quality (1 to 100). Throws std::runtime_error when GDAL cannot.
std::string EncodeJpeg(const RgbImage& image, int quality);

// PNG, every pixel kept. Throws std::runtime_error when GDAL cannot.
std::string EncodePng(const RgbImage& image);

}  // namespace georef::workbench
