#include "tiling/world_file.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/temp_dir.hpp"

namespace georef::tiling {
namespace {

float PixelSizeOf(int tileSize) {
    return static_cast<float>(10000.0 / tileSize);
}

TEST(FormatNumber, WritesSixSignificantDigitsAndThreeExponentDigits) {
    EXPECT_EQ(FormatNumber(2.5), "2.5");
    EXPECT_EQ(FormatNumber(-2.5), "-2.5");
    EXPECT_EQ(FormatNumber(static_cast<double>(PixelSizeOf(6299))), "1.58755");
    EXPECT_EQ(FormatNumber(-480000.0), "-480000");
    EXPECT_EQ(FormatNumber(999999.0), "999999");
    EXPECT_EQ(FormatNumber(-1050000.0), "-1.05e+006");
    EXPECT_EQ(FormatNumber(1000000.0), "1e+006");
    EXPECT_EQ(FormatNumber(0.000025), "2.5e-005");
    EXPECT_EQ(FormatNumber(0.0001), "0.0001");
    EXPECT_EQ(FormatNumber(1e100), "1e+100");
    EXPECT_EQ(FormatNumber(-12340000000.0), "-1.234e+010");
}

TEST(WorldFileText, SixLinesForTileSize4000) {
    EXPECT_EQ(WorldFileText(PixelSizeOf(4000), 1040000, 520000), "2.5\n0\n0\n-2.5\n-530000\n-1.04e+006\n");
}

TEST(WorldFileText, WestEdgeEastingAndTopEdgeNorthing) {
    EXPECT_EQ(WorldFileText(PixelSizeOf(6299), 1050000, 470000),
              "1.58755\n0\n0\n-1.58755\n-480000\n-1.05e+006\n");
    // A tile south-east of the origin: both corner values turn positive.
    EXPECT_EQ(WorldFileText(2.5f, -10000, -20000), "2.5\n0\n0\n-2.5\n10000\n10000\n");
}

TEST(TileFileName, NamesTileByItsTenKilometreIndices) {
    EXPECT_EQ(TileFileName("out", 1040000, 520000, ".jgw"), "out/104_52.jgw");
    EXPECT_EQ(TileFileName("out/", 1040000, 520000, ".jpg"), "out/104_52.jpg");
    EXPECT_EQ(TileFileName("o", -10000, 0, ".jpg"), "o/-1_0.jpg");
    const std::string longDirectory(400, 'd');
    EXPECT_EQ(TileFileName(longDirectory, 2140000, 2130000, ".jgw"), longDirectory + "/214_213.jgw");
}

TEST(WriteWorldFile, ReplacesAnExistingFileWhole) {
    test::TempDir dir;
    const std::string path = dir.File("104_52.jgw");
    test::WriteFileBytes(path, "an older, much longer world file text\n");
    WriteWorldFile(path, "2.5\n0\n0\n-2.5\n-530000\n-1.04e+006\n");
    EXPECT_EQ(test::ReadFileBytes(path), "2.5\n0\n0\n-2.5\n-530000\n-1.04e+006\n");
}

TEST(WriteWorldFile, FailsWhenTheDirectoryIsMissing) {
    test::TempDir dir;
    EXPECT_THROW(WriteWorldFile(dir.File("missing/104_52.jgw"), "2.5\n"), std::runtime_error);
}

}  // namespace
}  // namespace georef::tiling
