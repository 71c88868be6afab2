// georef-corners as a program: from a realistic scan to a corner file that
// georef-check accepts, with its report picture; a scan turned upside down
// said so; a refusal or bad input writes no corner file and leaves an
// existing one as it was.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <string>

#include <gdal.h>

#include "geometry/corner_fit.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"
#include "tools/check_tool.hpp"
#include "tools/corners_tool.hpp"

namespace georef::tools {
namespace {

using synthesis::BorderStyle;
using synthesis::PageContent;
using synthesis::RealisticScan;
using synthesis::RealisticScanOptions;
using synthesis::SheetCorner;
using synthesis::VariedRealisticOptions;
using synthesis::WriteRealisticScan;

constexpr int kSheet = 40573;

geometry::CornerPoints ReadCorners(const std::string& path) {
    std::ifstream in(path);
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    EXPECT_TRUE(corners) << path;
    return corners.value_or(geometry::CornerPoints{});
}

class CornersToolTest : public ::testing::Test {
protected:
    // A varied realistic scan at a small resolution (with a filled border,
    // bed, stains, decoy road, bowing as its seed draws them).
    RealisticScan Draw(const std::string& name, RealisticScanOptions options) {
        options.dpi = 150.0;
        return WriteRealisticScan(kSheet, m_dir.File(name), options);
    }
    test::ToolResult Corners(std::vector<std::string> args) {
        args.insert(args.begin(), "georef-corners");
        return test::RunInProcess(RunCornersTool, args);
    }
    test::TempDir m_dir;
};

TEST_F(CornersToolTest, WrongCommandLinesAndUnreadableScansWriteNothing) {
    EXPECT_EQ(Corners({}).status, 2);
    EXPECT_EQ(Corners({"40573", "scan.jpg"}).status, 2);
    EXPECT_EQ(Corners({"4057x", "scan.jpg", "c.txt"}).status, 2);
    EXPECT_EQ(Corners({"40575", "scan.jpg", "c.txt"}).status, 2);
    EXPECT_EQ(Corners({"40573", "scan.jpg", "c.txt", "--edge", "middle"}).status, 2);
    EXPECT_EQ(Corners({"40573", "scan.jpg", "c.txt", "--dpi", "abc"}).status, 2);
    EXPECT_EQ(Corners({"40573", "scan.jpg", "scan.jpg"}).status, 2);

    test::WriteFileBytes(m_dir.File("scan.jpg"), "not an image");
    const test::ToolResult r = Corners({"40573", m_dir.File("scan.jpg"), m_dir.File("c.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read the scan"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(m_dir.File("c.txt")).good());
}

TEST_F(CornersToolTest, FindsTheCornersOfARealisticScanWhichGeorefCheckAccepts) {
    RealisticScanOptions options = VariedRealisticOptions(5);
    options.decoy = geometry::Side::top;  // a road just inside the top side, into one corner
    options.border = BorderStyle::filledMinutes;
    options.tornCorner = SheetCorner::ph;
    const RealisticScan scan = Draw("scan.jpg", options);
    const test::ToolResult r =
        Corners({std::to_string(kSheet), m_dir.File("scan.jpg"), m_dir.File("c.txt"), "--report", m_dir.File("r.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("150 dpi stated by the file"), std::string::npos) << r.out;
    const geometry::CornerPoints found = ReadCorners(m_dir.File("c.txt"));
    for (int k = 0; k < 4; ++k) {
        EXPECT_LT(std::hypot(found[k].x - scan.corners[k].x, found[k].y - scan.corners[k].y), 1.0) << k;
        EXPECT_EQ(found[k].id, k + 1);
    }
    const test::ToolResult check =
        test::RunInProcess(RunCheckTool, {"georef-check", std::to_string(kSheet), m_dir.File("c.txt")});
    EXPECT_EQ(check.status, 0) << check.err;

    // --dpi overrides the file; a file stating 72 dpi (a default, no scan
    // resolution) is not believed, and the resolution is estimated.
    const test::ToolResult given =
        Corners({std::to_string(kSheet), m_dir.File("scan.jpg"), m_dir.File("g.txt"), "--dpi", "150"});
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_NE(given.out.find("150 dpi given"), std::string::npos) << given.out;
    options.density = false;  // a JFIF header with an aspect ratio only
    Draw("plain.jpg", options);
    std::string bytes = test::ReadFileBytes(m_dir.File("plain.jpg"));
    ASSERT_EQ(bytes.compare(6, 4, "JFIF"), 0);
    bytes[13] = 1;  // dots per inch
    bytes[14] = bytes[16] = 0;
    bytes[15] = bytes[17] = 72;
    test::WriteFileBytes(m_dir.File("72dpi.jpg"), bytes);
    const test::ToolResult estimated = Corners({std::to_string(kSheet), m_dir.File("72dpi.jpg"), m_dir.File("e.txt")});
    EXPECT_EQ(estimated.status, 0) << estimated.err;
    EXPECT_NE(estimated.out.find("estimated from the frame"), std::string::npos) << estimated.out;

    // The report is a PNG GDAL reads: the overview above four insets.
    GDALAllRegister();
    GDALDatasetH png = GDALOpen(m_dir.File("r.png").c_str(), GA_ReadOnly);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(GDALGetRasterCount(png), 3);
    EXPECT_GT(GDALGetRasterXSize(png), 1000);
    GDALClose(png);
}

TEST_F(CornersToolTest, AScanTurnedUpsideDownIsSaidSoAndGetsTheSheetsOwnCorners) {
    RealisticScanOptions options = VariedRealisticOptions(12);
    options.turnDegrees = 180;
    const RealisticScan scan = Draw("turned.tif", options);
    const test::ToolResult r = Corners({std::to_string(kSheet), m_dir.File("turned.tif"), m_dir.File("c.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("the scan is turned by 180 degrees (north at the bottom); the corners carry the sheet's "
                         "own labels (LD is its south-west corner)\n"),
              std::string::npos)
        << r.out;
    const geometry::CornerPoints found = ReadCorners(m_dir.File("c.txt"));
    for (int k = 0; k < 4; ++k) {
        EXPECT_LT(std::hypot(found[k].x - scan.corners[k].x, found[k].y - scan.corners[k].y), 1.0) << k;
    }
}

TEST_F(CornersToolTest, ARefusalLeavesAnExistingCornerFileAsItWas) {
    RealisticScanOptions options = VariedRealisticOptions(6);
    options.crop = geometry::Side::right;
    Draw("cropped.jpg", options);
    test::WriteFileBytes(m_dir.File("c.txt"), "1 0 0\n2 0 1\n3 1 1\n4 1 0\n");
    const test::ToolResult r = Corners({std::to_string(kSheet), m_dir.File("cropped.jpg"), m_dir.File("c.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadFileBytes(m_dir.File("c.txt")), "1 0 0\n2 0 1\n3 1 1\n4 1 0\n");

    options = VariedRealisticOptions(6);
    options.page = PageContent::text;
    Draw("text.jpg", options);
    const test::ToolResult text = Corners({std::to_string(kSheet), m_dir.File("text.jpg"), m_dir.File("d.txt")});
    EXPECT_EQ(text.status, 1) << text.out;
    EXPECT_FALSE(std::ifstream(m_dir.File("d.txt")).good());
}

}  // namespace
}  // namespace georef::tools
