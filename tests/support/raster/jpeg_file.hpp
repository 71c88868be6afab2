#pragma once
// JPEG files for tests, read and written through libjpeg itself: tiles to
// start a run from, and a way to look inside the tiles a run wrote.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/raster/rgb.hpp"

namespace georef::test {

// A 64-entry quantisation table in natural (row-major, not zigzag) order.
using QuantTable = std::array<std::uint16_t, 64>;

struct JpegImage {
    int width = 0;
    int height = 0;
    int components = 0;         // in the file: 1 grey, 3 colour, 4 CMYK
    bool progressive = false;
    QuantTable luminance{};     // quantisation table 0
    std::vector<std::uint8_t> rgb;  // decoded as RGB, top row first; empty for 4 components

    Rgb At(int column, int row) const;
};

// Decodes a whole JPEG file. Throws std::runtime_error with the library's
// message when it is not one.
JpegImage ReadJpeg(const std::string& path);

// The luminance table that libjpeg's jpeg_set_quality(quality, baseline)
// produces: compare with JpegImage::luminance to tell the quality a file
// was written with.
QuantTable LuminanceTableForQuality(int quality);

// The colour of the pixel at column c, row r (row 0 at the top).
using PixelColour = std::function<Rgb(int column, int row)>;

struct JpegOptions {
    int components = 3;  // 1: grey from the colour's r; 3: RGB; 4: CMYK from r, g, b and k = 0
    int quality = 90;
    bool progressive = false;  // libjpeg's simple progression instead of one baseline scan
};

// Writes a baseline JPEG with the library's defaults: jpeg_set_defaults,
// jpeg_set_quality(quality, TRUE), one scanline per call. Throws
// std::runtime_error on failure.
void WriteJpeg(const std::string& path, int width, int height, const PixelColour& colour,
               const JpegOptions& options = {});

// WriteJpeg of a single colour.
void WriteUniformJpeg(const std::string& path, int width, int height, Rgb colour, const JpegOptions& options = {});

}  // namespace georef::test
