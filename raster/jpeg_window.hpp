#pragma once
// A window of a JPEG file decoded without the rest: the library skips the
// rows above it (no colour conversion or inverse transform for them) and
// transforms only the blocks of the columns it needs, which for a narrow
// strip of a large tile is a small part of decoding the whole image. The
// pixels are the bytes a decoding of the whole image gives there.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace georef::raster {

struct JpegSize {
    int width = 0;
    int height = 0;
};

// The image size its header states. Throws TileError when the file cannot
// be opened, JpegError when it is not a JPEG.
JpegSize ReadJpegSize(const std::string& path);

// Columns x .. x + width - 1 and rows y .. y + height - 1 of the image as
// RGB, three bytes a pixel, `stride` bytes from one row to the next in rgb.
// Greyscale is widened to RGB. Throws TileError when the file cannot be
// opened, JpegError when it does not decode to RGB, the window lies outside
// the image or the library gives up.
void DecodeJpegWindow(const std::string& path, int x, int y, int width, int height, std::uint8_t* rgb,
                      std::size_t stride);

// The same window handed over row by row, top first: take(row, pixels) with
// the row's index in the image and its width * 3 bytes, valid only during
// the call; take must not throw (it runs inside the library's decoding).
// Throws as DecodeJpegWindow.
using JpegRowTaker = std::function<void(int row, const std::uint8_t* rgb)>;
void DecodeJpegRows(const std::string& path, int x, int y, int width, int height, const JpegRowTaker& take);

// Rows first .. last - 1 of an image.
struct RowRange {
    int first = 0;
    int last = 0;
};

// Several row ranges of the same columns in one pass: the rows between them
// are skipped like those above the first. The ranges must be ascending and
// must not overlap.
void DecodeJpegRows(const std::string& path, int x, int width, const std::vector<RowRange>& rows,
                    const JpegRowTaker& take);

}  // namespace georef::raster
