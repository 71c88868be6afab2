// A seam strip's pixel: as fine as its length asks, but a JPEG tile level
// (1/2, 1/4, 1/8 of the mosaic's pixels) when one is a little coarser, so
// that the strip is decoded at the scale the overview already read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <gdal.h>

#include "review/mosaic.hpp"
#include "support/temp_dir.hpp"

namespace georef::review {
namespace {

constexpr int kWidth = 8000;   // mosaic pixels of 1 m, easting 0 to 8000
constexpr int kHeight = 400;   // northing 0 to 400

// West of easting 4000 red, east of it blue, as a GeoTIFF.
std::string WriteMosaic(const test::TempDir& dir) {
    GDALAllRegister();
    const std::string path = dir.File("mosaic.tif");
    GDALDatasetH d = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kWidth, kHeight, 3, GDT_Byte, nullptr);
    double gt[6] = {0.0, 1.0, 0.0, kHeight, 0.0, -1.0};
    GDALSetGeoTransform(d, gt);
    std::vector<unsigned char> row(static_cast<std::size_t>(kWidth) * 3);
    for (int x = 0; x < kWidth; ++x) {
        row[3 * x] = x < kWidth / 2 ? 220 : 20;
        row[3 * x + 2] = x < kWidth / 2 ? 20 : 220;
    }
    int bands[3] = {1, 2, 3};
    for (int y = 0; y < kHeight; ++y) {
        EXPECT_EQ(GDALDatasetRasterIO(d, GF_Write, 0, y, kWidth, 1, row.data(), kWidth, 1, GDT_Byte, 3, bands, 3,
                                      kWidth * 3, 1),
                  CE_None);
    }
    GDALClose(d);
    return path;
}

// The parallel at northing 200 from easting west to east (output frame X =
// -northing, Y = -easting).
SharedEdge Parallel(double west, double east) {
    SharedEdge edge;
    edge.from = {-200.0, -west};
    edge.to = {-200.0, -east};
    return edge;
}

TEST(SeamStripLevel, AStripTakesATileLevelOnlyWhenOneIsALittleCoarser) {
    const test::TempDir dir;
    const Mosaic mosaic = Mosaic::Open(WriteMosaic(dir));
    StripOptions options;
    options.maxLengthPixels = 1200;
    // 7000 m ask for 5.8 m pixels: the 1/8 level's 8 m are near enough.
    const std::optional<WrittenImage> level = mosaic.WriteSeamStrip(Parallel(500.0, 7500.0), dir.File("a.jpg"), options);
    ASSERT_TRUE(level);
    EXPECT_EQ(level->width, 875);
    // 3000 m ask for 2.5 m: the 1/4 level's 4 m would be too coarse.
    const std::optional<WrittenImage> own = mosaic.WriteSeamStrip(Parallel(500.0, 3500.0), dir.File("b.jpg"), options);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->width, 1200);
    // 1000 m: the mosaic's own pixels, never finer.
    const std::optional<WrittenImage> full = mosaic.WriteSeamStrip(Parallel(3500.0, 4500.0), dir.File("c.jpg"), options);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->width, 1000);

    // The strip at the coarser level still shows the mosaic where it lies:
    // red in its western part, blue in its eastern, the edge in the middle row.
    GDALDatasetH strip = GDALOpen(dir.File("a.jpg").c_str(), GA_ReadOnly);
    ASSERT_NE(strip, nullptr);
    const int width = GDALGetRasterXSize(strip);
    const int middle = GDALGetRasterYSize(strip) / 4;
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    int bands[3] = {1, 2, 3};
    ASSERT_EQ(GDALDatasetRasterIO(strip, GF_Read, 0, middle, width, 1, row.data(), width, 1, GDT_Byte, 3, bands, 3,
                                  width * 3, 1),
              CE_None);
    GDALClose(strip);
    // Easting 4000 lies 3500 m along: column 437.5 of 875.
    for (const int x : {50, 400}) {
        EXPECT_GT(row[3 * x], 180) << x;
        EXPECT_LT(row[3 * x + 2], 60) << x;
    }
    for (const int x : {475, 825}) {
        EXPECT_LT(row[3 * x], 60) << x;
        EXPECT_GT(row[3 * x + 2], 180) << x;
    }
}

}  // namespace
}  // namespace georef::review
