// mosaic.vrt places every tile pixel where the tile's world file puts the
// pixel's outer corner: GDAL reads the pixel's value at the pixel's centre.

#include <gtest/gtest.h>

#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "area.hpp"
#include "batch/mosaic.hpp"
#include "support/in_process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "tools/batch_tool.hpp"

namespace georef::batch {
namespace {

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

TEST(Mosaic, WithoutTilesNoMosaicIsWritten) {
    const test::TempDir dir;
    EXPECT_EQ(WriteMosaic(dir.Path(), 629), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File(kMosaicFile)));
}

TEST(Mosaic, GdalReadsEveryTilePixelAtThePlaceItsWorldFileGives) {
    const test::TempDir dir;
    const std::string out = dir.File("out");
    const test::ToolResult batch = test::RunInProcess(
        BatchMain, {"georef-batch", Area::Get().ScanDir(), out, std::to_string(kOutputDpi), "--config",
                    Area::Get().Config()});
    ASSERT_EQ(batch.status, 0) << batch.err;

    GDALAllRegister();
    const GDALDatasetH mosaic = GDALOpen((out + "/" + kMosaicFile).c_str(), GA_ReadOnly);
    ASSERT_NE(mosaic, nullptr);
    const OGRSpatialReferenceH frame = GDALGetSpatialRef(mosaic);
    ASSERT_NE(frame, nullptr);
    EXPECT_STREQ(OSRGetAuthorityCode(frame, nullptr), "5514");
    std::array<double, 6> transform{};
    ASSERT_EQ(GDALGetGeoTransform(mosaic, transform.data()), CE_None);

    int tiles = 0;
    double westEdge = 1e300;
    double northEdge = -1e300;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        if (entry.path().extension() != ".jgw") {
            continue;
        }
        ++tiles;
        std::ifstream world(entry.path());
        std::array<double, 6> lines{};
        for (double& value : lines) {
            world >> value;
        }
        westEdge = std::min(westEdge, lines[4]);
        northEdge = std::max(northEdge, lines[5]);
        std::filesystem::path jpeg = entry.path();
        const test::JpegImage tile = test::ReadJpeg(jpeg.replace_extension(".jpg").string());
        // Lines 5 and 6: easting and northing of the top-left pixel's outer corner.
        for (const auto& [row, column] : std::array<std::pair<int, int>, 4>{
                 {{0, 0}, {0, tile.width - 1}, {tile.height - 1, 0}, {tile.height / 2, tile.width / 3}}}) {
            const double easting = lines[4] + (column + 0.5) * lines[0];
            const double northing = lines[5] + (row + 0.5) * lines[3];
            const int mosaicColumn = static_cast<int>(std::floor((easting - transform[0]) / transform[1]));
            const int mosaicRow = static_cast<int>(std::floor((northing - transform[3]) / transform[5]));
            std::array<unsigned char, 3> rgb{};
            for (int band = 1; band <= 3; ++band) {
                ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(mosaic, band), GF_Read, mosaicColumn, mosaicRow, 1, 1,
                                       &rgb[static_cast<std::size_t>(band - 1)], 1, 1, GDT_Byte, 0, 0),
                          CE_None);
            }
            const test::Rgb expected = tile.At(column, row);
            EXPECT_EQ(rgb[0], expected.r) << entry.path() << " row " << row << " column " << column;
            EXPECT_EQ(rgb[1], expected.g) << entry.path() << " row " << row << " column " << column;
            EXPECT_EQ(rgb[2], expected.b) << entry.path() << " row " << row << " column " << column;
        }
    }
    // The mask is set over every tile and clear where the area has no tile.
    const GDALRasterBandH mask = GDALGetMaskBand(GDALGetRasterBand(mosaic, 1));
    EXPECT_EQ(GDALGetMaskFlags(GDALGetRasterBand(mosaic, 1)), GMF_PER_DATASET);
    int slotsWithout = 0;
    for (int row = 0; row < GDALGetRasterYSize(mosaic) / 629; ++row) {
        for (int column = 0; column < GDALGetRasterXSize(mosaic) / 629; ++column) {
            // Names: tileX / 10 000 grows southward, tileY / 10 000 westward.
            const int tileRow = static_cast<int>(std::lround(-transform[3] / 10000.0)) + row;
            const int tileColumn = static_cast<int>(std::lround(-transform[0] / 10000.0)) - 1 - column;
            const bool present = std::filesystem::exists(out + "/" + std::to_string(tileRow) + "_" +
                                                         std::to_string(tileColumn) + ".jpg");
            slotsWithout += present ? 0 : 1;
            unsigned char value = 1;
            ASSERT_EQ(GDALRasterIO(mask, GF_Read, column * 629 + 300, row * 629 + 300, 1, 1, &value, 1, 1, GDT_Byte,
                                   0, 0),
                      CE_None);
            EXPECT_EQ(value, present ? 255 : 0) << tileRow << "_" << tileColumn;
        }
    }
    EXPECT_GT(slotsWithout, 0);
    GDALClose(mosaic);
    // The mosaic's corner is the outer corner of its north-west pixel, not
    // half a pixel beside it, and its pixels are exactly 10 000 m / 629.
    EXPECT_DOUBLE_EQ(transform[0], westEdge);
    EXPECT_DOUBLE_EQ(transform[3], northEdge);
    EXPECT_DOUBLE_EQ(transform[1], 10000.0 / 629);
    EXPECT_DOUBLE_EQ(transform[5], -10000.0 / 629);
    EXPECT_GT(tiles, 4);
    EXPECT_NE(batch.out.find("mosaic: " + std::to_string(tiles) + " tiles"), std::string::npos) << batch.out;
}

}  // namespace
}  // namespace georef::batch
