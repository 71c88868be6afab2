// georef-publish as a whole: its command line, an OUTDIR without tiles, and
// the Cloud Optimized GeoTIFF as GDAL reads it back.

#include <gdal.h>
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "published_area.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "tools/publish_tool.hpp"

namespace georef::test {
namespace {

namespace fs = std::filesystem;

ToolResult Publish(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"georef-publish"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunInProcess([](int argc, const char* const* v, std::ostream& out, std::ostream& err) {
        return tools::RunPublishTool(argc, v, out, err);
    }, argv);
}

TEST(PublishTool, WrongCommandLinesEndWithStatus2AndWriteNothing) {
    TempDir dir;
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {dir.Path()},                                               // nothing to publish
        {dir.Path(), "--iiif", dir.File("iiif")},                   // no --iiif-base
        {dir.Path(), "--iiif-base", "https://example.org/iiif"},    // no --iiif
        {dir.Path(), "--cog", dir.File("a.tif"), "--quality", "0"},
        {dir.Path(), "--cog", dir.File("a.tif"), "--quality", "75x"},
        {dir.Path(), "--cog", dir.File("a.tif"), "--jobs", "0"},
        {dir.Path(), "--cog"},
        {dir.Path(), dir.Path(), "--cog", dir.File("a.tif")},
        {dir.Path(), "--tiles", dir.File("a.tif")},
    };
    for (const std::vector<std::string>& args : wrong) {
        const ToolResult result = Publish(args);
        EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args) << result.err;
        EXPECT_NE(result.err.find("usage: georef-publish"), std::string::npos) << result.err;
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST(PublishTool, AnOutdirWithoutTilesIsNamedAndNothingIsWritten) {
    TempDir dir;
    fs::create_directories(dir.File("empty"));
    std::ofstream(dir.File("empty/notes.txt")) << "not a tile\n";
    const ToolResult result = Publish({dir.File("empty"), "--cog", dir.File("area.tif"), "--xyz", dir.File("web")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(dir.File("empty") + " holds no tiles"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir.File("area.tif")));
    EXPECT_FALSE(fs::exists(dir.File("web")));

    const ToolResult missing = Publish({dir.File("nowhere"), "--cog", dir.File("area.tif")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no output directory"), std::string::npos) << missing.err;
}

std::string Metadata(GDALDataset& dataset, const char* key, const char* domain) {
    const char* value = dataset.GetMetadataItem(key, domain);
    return value != nullptr ? value : "";
}

TEST(PublishTool, TheCogHasTheMosaicsExtentCrsAndCloudOptimizedLayout) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    const ToolResult result = Publish({area.tiles, "--cog", dir.File("area.tif"), "--jobs", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("COG: " + dir.File("area.tif")), std::string::npos) << result.out;
    // Only the file itself: no temporary left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

    GDALAllRegister();
    std::unique_ptr<GDALDataset> cog(GDALDataset::Open(dir.File("area.tif").c_str(), GDAL_OF_RASTER));
    std::unique_ptr<GDALDataset> mosaic(GDALDataset::Open((area.tiles + "/mosaic.vrt").c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(cog && mosaic);
    EXPECT_EQ(Metadata(*cog, "LAYOUT", "IMAGE_STRUCTURE"), "COG");
    EXPECT_EQ(Metadata(*cog, "COMPRESSION", "IMAGE_STRUCTURE"), "YCbCr JPEG");
    EXPECT_EQ(Metadata(*cog, "JPEG_QUALITY", "IMAGE_STRUCTURE"), "75");

    // The same pixels at the same place, in EPSG:5514.
    std::array<double, 6> cogTransform{};
    std::array<double, 6> mosaicTransform{};
    cog->GetGeoTransform(cogTransform.data());
    mosaic->GetGeoTransform(mosaicTransform.data());
    EXPECT_EQ(cogTransform, mosaicTransform);
    EXPECT_EQ(cog->GetRasterXSize(), mosaic->GetRasterXSize());
    EXPECT_EQ(cog->GetRasterYSize(), mosaic->GetRasterYSize());
    ASSERT_NE(cog->GetSpatialRef(), nullptr);
    EXPECT_STREQ(cog->GetSpatialRef()->GetAuthorityCode(nullptr), "5514");

    GDALRasterBand* band = cog->GetRasterBand(1);
    int blockX = 0;
    int blockY = 0;
    band->GetBlockSize(&blockX, &blockY);
    EXPECT_EQ(blockX, 512);
    EXPECT_EQ(blockY, 512);
    // Overviews, each half the one before, down to one block's worth.
    ASSERT_GT(band->GetOverviewCount(), 0);
    GDALRasterBand* smallest = band->GetOverview(band->GetOverviewCount() - 1);
    EXPECT_LE(std::max(smallest->GetXSize(), smallest->GetYSize()), 512);
    EXPECT_EQ(band->GetMaskFlags(), GMF_PER_DATASET);

    // The mask: 0 where the mosaic has no tile, 255 where it has one.
    const int width = cog->GetRasterXSize();
    const int height = cog->GetRasterYSize();
    std::vector<GByte> cogMask(static_cast<std::size_t>(width) * height);
    std::vector<GByte> mosaicMask(cogMask.size());
    ASSERT_EQ(band->GetMaskBand()->RasterIO(GF_Read, 0, 0, width, height, cogMask.data(), width, height, GDT_Byte, 0,
                                            0, nullptr),
              CE_None);
    ASSERT_EQ(mosaic->GetRasterBand(1)->GetMaskBand()->RasterIO(GF_Read, 0, 0, width, height, mosaicMask.data(),
                                                                width, height, GDT_Byte, 0, 0, nullptr),
              CE_None);
    EXPECT_TRUE(cogMask == mosaicMask);
    EXPECT_NE(std::count(cogMask.begin(), cogMask.end(), 0), 0) << "the test area should have a place without tiles";
}

TEST(PublishTool, ACogThatCannotBeWrittenLeavesNothingBehind) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    const ToolResult result = Publish({area.tiles, "--cog", dir.File("missing/area.tif")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("missing/area.tif"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
}  // namespace georef::test
