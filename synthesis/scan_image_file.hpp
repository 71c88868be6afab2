#pragma once
// Writing a drawn scan through GDAL: JPEG for a name ending in .jpg or
// .jpeg, TIFF (deflate) otherwise, optionally with the resolution a scanner
// records (TIFF resolution tags, JFIF density), and never half-written: the
// image is written under a temporary name beside the target and renamed over
// it when complete.

#include <cstddef>
#include <cstdint>
#include <string>

namespace georef::synthesis {

// An 8-bit RGB image held by the caller: sample (column, row) of band k is at
// band[k] + column * pixelStep + row * lineStep (bytes); row 0 is the top.
struct RgbImageView {
    const std::uint8_t* band[3] = {nullptr, nullptr, nullptr};
    std::ptrdiff_t pixelStep = 1;
    std::ptrdiff_t lineStep = 0;
    int width = 0;
    int height = 0;
};

// The view of interleaved RGB rows (three bytes a pixel) lineStep bytes apart.
RgbImageView InterleavedRgb(const std::uint8_t* data, int width, int height, std::ptrdiff_t lineStep);

struct ScanEncoding {
    int jpegQuality = 92;     // 10 to 100, JPEG only
    double densityDpi = 0.0;  // > 0: record this resolution, pixels per inch
};

// True when the name ends in .jpg or .jpeg (any case): such scans are JPEG.
bool IsJpegName(const std::string& path);

// Writes the image to path. Throws georef::Failure when it cannot be
// written; the file under path is then left as it was.
void WriteScanImage(const std::string& path, const RgbImageView& image, const ScanEncoding& encoding);

}  // namespace georef::synthesis
