// Windows of real JPEG files decoded alone: the bytes of the whole image's
// decoding there, and of GDAL's reading of the same window, wherever the
// window lies; refusals for what is no window of an RGB image.

#include "raster/jpeg_window.hpp"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gdal.h>
#include <gtest/gtest.h>

#include "raster/tile_image.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"

namespace georef::raster {
namespace {

using test::JpegOptions;
using test::Rgb;

constexpr int kWidth = 700;   // neither a multiple of the 16-pixel MCU
constexpr int kHeight = 530;

// Lines, blotches and noise: colour that changes within every block, so a
// window that took its chroma from the wrong neighbours would show it.
Rgb Busy(int c, int r) {
    const std::uint32_t h = static_cast<std::uint32_t>(c) * 73856093u ^ static_cast<std::uint32_t>(r) * 19349663u;
    const int noise = static_cast<int>(h % 23);
    const bool line = (c + 2 * r) % 37 < 3 || (3 * c - r + 1000) % 53 < 2;
    return Rgb{static_cast<std::uint8_t>(line ? 30 + noise : 200 + noise % 40),
               static_cast<std::uint8_t>((c * 7 + r * 3) % 251),
               static_cast<std::uint8_t>(line ? 180 : (r * 5) % 200 + noise)};
}

struct Window {
    int x, y, w, h;
};

std::vector<std::uint8_t> Decoded(const std::string& path, const Window& win) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(win.w) * win.h * 3, 7);
    DecodeJpegWindow(path, win.x, win.y, win.w, win.h, rgb.data(), static_cast<std::size_t>(win.w) * 3);
    return rgb;
}

std::vector<std::uint8_t> ThroughGdal(const std::string& path, const Window& win) {
    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    EXPECT_NE(dataset, nullptr);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(win.w) * win.h * 3);
    int bands[3] = {1, 2, 3};
    if (GDALGetRasterCount(dataset) == 1) {
        bands[1] = bands[2] = 1;
    }
    EXPECT_EQ(GDALDatasetRasterIO(dataset, GF_Read, win.x, win.y, win.w, win.h, rgb.data(), win.w, win.h, GDT_Byte,
                                  3, bands, 3, 3 * win.w, 1),
              CE_None);
    GDALClose(dataset);
    return rgb;
}

std::vector<Window> Windows() {
    std::vector<Window> windows = {
        {0, 0, kWidth, kHeight},                  // the whole image
        {0, 0, 1, 1},                             // its first pixel
        {kWidth - 1, kHeight - 1, 1, 1},          // its last
        {kWidth - 40, 0, 40, kHeight},            // a strip down the right edge
        {0, kHeight - 17, kWidth, 17},            // rows at the bottom
        {333, 261, 129, 128},                     // inside, off every block boundary
        {16, 32, 16, 16},                         // exactly one MCU
    };
    std::mt19937 random(21);
    for (int k = 0; k < 12; ++k) {
        const int x = static_cast<int>(random() % kWidth), y = static_cast<int>(random() % kHeight);
        const int w = 1 + static_cast<int>(random() % (kWidth - x)), h = 1 + static_cast<int>(random() % (kHeight - y));
        windows.push_back({x, y, w, h});
    }
    return windows;
}

TEST(JpegWindow, GivesTheBytesOfTheWholeDecodingAndOfGdalWhereverItLies) {
    test::TempDir dir;
    struct Kind {
        std::string name;
        JpegOptions options;
    };
    JpegOptions grey;
    grey.components = 1;
    JpegOptions progressive;
    progressive.progressive = true;
    JpegOptions tile;  // as the tiles are written: the library's defaults at quality 70
    tile.quality = 70;
    for (const Kind& kind : {Kind{"tile", tile}, Kind{"grey", grey}, Kind{"progressive", progressive}}) {
        const std::string path = dir.File(kind.name + ".jpg");
        test::WriteJpeg(path, kWidth, kHeight, Busy, kind.options);
        const test::JpegImage whole = test::ReadJpeg(path);
        const JpegSize size = ReadJpegSize(path);
        EXPECT_EQ(size.width, kWidth);
        EXPECT_EQ(size.height, kHeight);
        for (const Window& win : Windows()) {
            SCOPED_TRACE(kind.name + " window " + std::to_string(win.x) + "," + std::to_string(win.y) + " " +
                         std::to_string(win.w) + "x" + std::to_string(win.h));
            const std::vector<std::uint8_t> window = Decoded(path, win);
            std::vector<std::uint8_t> expected;
            for (int r = win.y; r < win.y + win.h; ++r) {
                const std::uint8_t* row = whole.rgb.data() + (static_cast<std::size_t>(r) * kWidth + win.x) * 3;
                expected.insert(expected.end(), row, row + static_cast<std::size_t>(win.w) * 3);
            }
            EXPECT_TRUE(window == expected);
            EXPECT_TRUE(window == ThroughGdal(path, win));
        }
        // Several row ranges in one pass, near and far apart, of one column span.
        const std::vector<RowRange> ranges = {{3, 20}, {20, 21}, {40, 97}, {301, 302}, {500, kHeight}};
        std::vector<int> seen;
        bool same = true;
        DecodeJpegRows(path, 205, 311, ranges, [&](int row, const std::uint8_t* rgb) {
            seen.push_back(row);
            same = same && std::equal(rgb, rgb + 311 * 3, whole.rgb.data() + (static_cast<std::size_t>(row) * kWidth + 205) * 3);
        });
        EXPECT_TRUE(same) << kind.name;
        std::vector<int> wanted;
        for (const RowRange& range : ranges) {
            for (int r = range.first; r < range.last; ++r) {
                wanted.push_back(r);
            }
        }
        EXPECT_EQ(seen, wanted) << kind.name;
    }
}

TEST(JpegWindow, RefusesWhatIsNoWindowOfAnRgbImage) {
    test::TempDir dir;
    const std::string path = dir.File("tile.jpg");
    test::WriteUniformJpeg(path, 64, 48, Rgb{10, 20, 30});
    std::vector<std::uint8_t> rgb(64 * 48 * 3);
    for (const Window& outside : {Window{-1, 0, 4, 4}, Window{0, 0, 65, 4}, Window{60, 40, 4, 9}, Window{0, 0, 0, 4}}) {
        EXPECT_THROW(DecodeJpegWindow(path, outside.x, outside.y, outside.w, outside.h, rgb.data(), 64 * 3),
                     JpegError);
    }
    const std::string cmyk = dir.File("cmyk.jpg");
    JpegOptions four;
    four.components = 4;
    test::WriteUniformJpeg(cmyk, 64, 48, Rgb{10, 20, 30}, four);
    EXPECT_THROW(DecodeJpegWindow(cmyk, 0, 0, 4, 4, rgb.data(), 64 * 3), JpegError);
    const auto nothing = [](int, const std::uint8_t*) {};
    EXPECT_THROW(DecodeJpegRows(path, 0, 8, {{10, 20}, {15, 30}}, nothing), JpegError);  // overlapping
    EXPECT_THROW(DecodeJpegRows(path, 0, 8, {{20, 30}, {0, 10}}, nothing), JpegError);   // descending
    EXPECT_THROW(DecodeJpegRows(path, 0, 8, {}, nothing), JpegError);
    EXPECT_THROW(DecodeJpegRows(path, 0, 8, {{40, 49}}, nothing), JpegError);            // beyond the last row
    const std::string text = dir.File("text.jpg");
    test::WriteFileBytes(text, "not a JPEG");
    EXPECT_THROW(ReadJpegSize(text), JpegError);
    EXPECT_THROW(ReadJpegSize(dir.File("missing.jpg")), TileError);
}

}  // namespace
}  // namespace georef::raster
