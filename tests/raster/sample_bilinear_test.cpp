// Bilinear sampling: the arithmetic on small scans, and SamplePixel on a
// real scan.

#include "raster/tile_image.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "raster/source_raster.hpp"
#include "support/raster/scan_file.hpp"
#include "support/temp_dir.hpp"

namespace georef::raster {
namespace {

// Width x height pixels of three interleaved bytes, exactly as many as the
// scan holds, so that any read past them is caught by the address sanitizer.
struct Samples {
    Samples(int w, int h) : width(w), height(h), data(static_cast<std::size_t>(w) * h * 3, 0) {}
    std::uint8_t& At(int band, int column, int row) {
        return data[(static_cast<std::size_t>(row) * width + column) * 3 + band];
    }
    void Set(int band, int column, int row, std::uint8_t value) { At(band, column, row) = value; }
    bool Sample(double x, double y, std::uint8_t* rgb) const {
        return SampleBilinear(data.data(), width, width, height, x, y, rgb);
    }
    int width;
    int height;
    std::vector<std::uint8_t> data;
};

TEST(SampleBilinear, PositionsOutsideTheDomainLeaveThePixelUntouched) {
    const Samples scan(5, 4);  // domain: 0 <= x < 4, 0 <= y < 3
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double outside[][2] = {{-0.5, 1.0}, {1.0, -0.5}, {-1e-300, 0.0}, {4.0, 1.0},  {1.0, 3.0},
                                 {4.5, 3.5},  {nan, 1.0},  {1.0, nan},     {inf, 1.0},  {1.0, -inf},
                                 {1e300, 1.0}, {3e9, 1.0}, {1.0, -3e9}};
    for (const auto& position : outside) {
        std::uint8_t rgb[3] = {7, 8, 9};
        EXPECT_FALSE(scan.Sample(position[0], position[1], rgb)) << position[0] << "," << position[1];
        EXPECT_EQ(rgb[0], 7);
        EXPECT_EQ(rgb[1], 8);
        EXPECT_EQ(rgb[2], 9);
    }
    // The last positions inside read the last row and column and no further.
    std::uint8_t rgb[3];
    EXPECT_TRUE(scan.Sample(std::nextafter(4.0, 0.0), std::nextafter(3.0, 0.0), rgb));
    EXPECT_TRUE(scan.Sample(0.0, 0.0, rgb));
}

TEST(SampleBilinear, IntegralPositionsCopyTheSample) {
    Samples scan(6, 5);
    for (int p = 0; p < 3; ++p) {
        for (int r = 0; r < 5; ++r) {
            for (int c = 0; c < 6; ++c) {
                scan.Set(p, c, r, static_cast<std::uint8_t>(40 * p + 17 * c + 29 * r + 1));
            }
        }
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 5; ++c) {
            std::uint8_t rgb[3] = {};
            ASSERT_TRUE(scan.Sample(c, r, rgb));
            for (int p = 0; p < 3; ++p) {
                EXPECT_EQ(rgb[p], scan.At(p, c, r));
            }
        }
    }
}

TEST(SampleBilinear, TruncatesTheWeightedSumInsteadOfRounding) {
    Samples scan(3, 3);
    scan.Set(0, 1, 0, 255);  // row 0: 0 255 0; column 1: 255 0 0
    std::uint8_t rgb[3] = {};
    ASSERT_TRUE(scan.Sample(0.5, 0.0, rgb));
    EXPECT_EQ(rgb[0], 127);  // 127.5
    ASSERT_TRUE(scan.Sample(1.0, 0.5, rgb));
    EXPECT_EQ(rgb[0], 127);

    // TL 10, TR 20, BL 30, BR 40 at fx 0.25, fy 0.75: 27.5 -> 27.
    Samples square(2, 2);
    square.Set(1, 0, 0, 10);
    square.Set(1, 1, 0, 20);
    square.Set(1, 0, 1, 30);
    square.Set(1, 1, 1, 40);
    ASSERT_TRUE(square.Sample(0.25, 0.75, rgb));
    EXPECT_EQ(rgb[1], 27);
    EXPECT_EQ(rgb[0], 0);
}

TEST(SampleBilinear, EqualSamplesNeverGiveMoreThanTheirValue) {
    // Over a flat area the weighted sum can fall just below v and truncate to
    // v - 1; it must never exceed v (which would wrap 255 to 0).
    bool sawBelow = false;
    for (int v = 1; v <= 255; v += 2) {
        Samples scan(3, 3);
        scan.data.assign(scan.data.size(), static_cast<std::uint8_t>(v));
        for (int i = 1; i < 40; ++i) {
            for (int j = 1; j < 40; ++j) {
                std::uint8_t rgb[3] = {};
                ASSERT_TRUE(scan.Sample(i / 40.0 * 1.9, j / 41.0 * 1.9, rgb));
                ASSERT_LE(rgb[0], v);
                ASSERT_GE(rgb[0], v - 1);
                sawBelow = sawBelow || rgb[0] == v - 1;
            }
        }
    }
    EXPECT_TRUE(sawBelow);
}

TEST(TileImageSamplePixel, WritesBandOneFirstIntoTheIndexedPixelOnly) {
    test::TempDir dir;
    const std::string path = dir.File("red.tif");
    test::WriteScan(path, 4, 3, [](int band, int column, int) { return band == 1 ? 255 : (band == 3 ? column : 0); });
    SourceRaster scan;
    scan.Open(path);
    scan.ReadBands();

    TileImage tile;
    tile.AllocateBuffer(3);
    tile.ClearWhite();
    tile.SamplePixel(scan, scan.Width(), 4, 2.0, 1.0);  // middle pixel of the 3 x 3 tile
    const std::uint8_t* pixels = tile.Pixels();
    EXPECT_EQ(pixels[12], 255);
    EXPECT_EQ(pixels[13], 0);
    EXPECT_EQ(pixels[14], 2);
    for (int i = 0; i < 27; ++i) {
        if (i < 12 || i > 14) {
            ASSERT_EQ(pixels[i], 255) << i;
        }
    }
    // Out of the scan, out of the tile, or a wrong row length: nothing changes.
    tile.SamplePixel(scan, scan.Width(), 0, 3.0, 0.0);
    tile.SamplePixel(scan, scan.Width(), 9, 0.0, 0.0);
    tile.SamplePixel(scan, scan.Width(), -1, 0.0, 0.0);
    tile.SamplePixel(scan, scan.Width() + 1, 0, 0.0, 0.0);
    for (int i = 0; i < 27; ++i) {
        if (i < 12 || i > 14) {
            ASSERT_EQ(pixels[i], 255) << i;
        }
    }
}

}  // namespace
}  // namespace georef::raster
