// The corner finder on drawn scans: found to a fraction of a pixel through
// the graduated border, map content, a road along a side, wear, blur and JPEG;
// refused when a side is cut off, the drawn size does not match the sheet
// or there is no map; bad files end with a clear message.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <cpl_string.h>
#include <gdal.h>
#include <gdal_utils.h>

#include "corners/find_corners.hpp"
#include "platform/failure.hpp"
#include "support/raster/scan_file.hpp"
#include "support/corner_error.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::corners {
namespace {

using test::WorstError;

class FindCornersTest : public ::testing::Test {
protected:
    synthesis::RealisticScan Draw(int sheet, const synthesis::RealisticScanOptions& options,
                                  const std::string& name = "scan.jpg") {
        return synthesis::WriteRealisticScan(sheet, m_dir.File(name), options);
    }
    test::TempDir m_dir;
};

TEST_F(FindCornersTest, RefusesAScanWithoutAMapAndBadFiles) {
    // Paper with grain and nothing drawn on it.
    test::WriteScan(m_dir.File("blank.tif"), 900, 700, [](int, int c, int r) {
        return static_cast<std::uint8_t>(225 + (c * 7 + r * 13) % 11);
    });
    const FindResult blank = FindCorners(40572, m_dir.File("blank.tif"));
    EXPECT_FALSE(blank.Found());
    EXPECT_FALSE(blank.measured);
    EXPECT_NE(blank.refusal.find("no dark lines"), std::string::npos) << blank.refusal;

    test::WriteFileBytes(m_dir.File("notes.jpg"), "this is no image\n");
    EXPECT_THROW(FindCorners(40572, m_dir.File("notes.jpg")), Failure);
    EXPECT_THROW(FindCorners(40572, m_dir.File("missing.tif")), Failure);
    test::WriteScan(m_dir.File("tiny.tif"), 40, 30, [](int, int, int) { return std::uint8_t{200}; });
    try {
        FindCorners(40572, m_dir.File("tiny.tif"));
        FAIL() << "a 40 x 30 scan was searched";
    } catch (const Failure& e) {
        EXPECT_NE(std::string(e.what()).find("40 x 30 pixels"), std::string::npos) << e.what();
    }
    // 16-bit samples.
    GDALAllRegister();
    GDALDatasetH deep = GDALCreate(GDALGetDriverByName("GTiff"), m_dir.File("deep.tif").c_str(), 300, 200, 1,
                                   GDT_UInt16, nullptr);
    ASSERT_NE(deep, nullptr);
    GDALClose(deep);
    try {
        FindCorners(40572, m_dir.File("deep.tif"));
        FAIL() << "a 16-bit scan was searched";
    } catch (const Failure& e) {
        EXPECT_NE(std::string(e.what()).find("UInt16"), std::string::npos) << e.what();
    }
    EXPECT_THROW(FindCorners(40575, m_dir.File("blank.tif")), std::invalid_argument);
}

TEST_F(FindCornersTest, ReportDrawsHandMadeCornersAlsoOffTheScan) {
    test::WriteScan(m_dir.File("scan.tif"), 900, 700, [](int band, int c, int r) {
        return static_cast<std::uint8_t>((c + r * band) % 256);
    });
    // A corner set measured by hand, one corner outside the image.
    const geometry::CornerPoints corners = {geometry::CornerPoint{1, 50.0, 40.0}, {2, 60.0, 650.0},
                                            {3, 880.0, 660.0}, {4, 950.0, -30.0}};
    WriteCornerReport(m_dir.File("report.png"), m_dir.File("scan.tif"), 40572, corners);
    GDALAllRegister();
    GDALDatasetH png = GDALOpen(m_dir.File("report.png").c_str(), GA_ReadOnly);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(GDALGetRasterCount(png), 3);
    GDALClose(png);
    // A report never replaces what it cannot write.
    EXPECT_THROW(WriteCornerReport(m_dir.File("missing/report.png"), m_dir.File("scan.tif"), 40572, corners), Failure);
}

// A tilted 120 dpi JPEG with its resolution stated: filled minutes of the
// border outside the line, a road along the bottom side inside it, map
// content up to it, grain, stains, a fold and blur.
synthesis::RealisticScanOptions SmallScan() {
    synthesis::RealisticScanOptions options;
    options.dpi = 120.0;
    options.rotationDegrees = -1.7;
    options.neatLineWidth = 2.4;  // 0.2 mm: about one pixel at 120 dpi
    options.decoy = geometry::Side::bottom;
    return options;
}

TEST_F(FindCornersTest, FindsTheCentreOfTheLineThroughBorderContentRoadWearAndJpeg) {
    const synthesis::RealisticScan scan = Draw(40572, SmallScan());
    const FindResult found = FindCorners(40572, m_dir.File("scan.jpg"));
    ASSERT_TRUE(found.Found()) << found.refusal;
    EXPECT_EQ(found.dpiSource, DpiSource::stated);
    EXPECT_DOUBLE_EQ(found.dpi, 120.0);
    EXPECT_LT(WorstError(*found.corners, scan.corners), 0.5);
    EXPECT_LT(found.fit->rmsPixels, 0.5);
    EXPECT_FALSE(found.fit->Mirrored());
}

TEST_F(FindCornersTest, InnerAndOuterEdgesOfAWideLineAreFoundWhereTheyWereDrawn) {
    synthesis::RealisticScanOptions options;
    options.dpi = 110.0;
    options.rotationDegrees = 2.8;
    options.neatLineWidth = 7.0;  // at 300 dpi: about 2.6 px at 110
    options.border = synthesis::BorderStyle::minuteTicks;  // paper outside the line between the ticks
    options.frameGap = 45.0;
    options.decoy = geometry::Side::left;
    options.density = false;
    const synthesis::RealisticScan scan = Draw(40571, options, "scan.tif");
    const FindResult centre = FindCorners(40571, m_dir.File("scan.tif"));
    ASSERT_TRUE(centre.Found()) << centre.refusal;
    EXPECT_EQ(centre.dpiSource, DpiSource::estimated);
    EXPECT_NEAR(centre.dpi, 110.0, 1.0);
    EXPECT_LT(WorstError(*centre.corners, scan.corners), 0.5);
    EXPECT_NEAR(centre.lineWidth, scan.neatLineWidth, 0.5);

    // The same scan with one grey band.
    {
        char** arguments = CSLAddString(nullptr, "-b");
        arguments = CSLAddString(arguments, "2");
        GDALTranslateOptions* translate = GDALTranslateOptionsNew(arguments, nullptr);
        CSLDestroy(arguments);
        GDALDatasetH source = GDALOpen(m_dir.File("scan.tif").c_str(), GA_ReadOnly);
        GDALDatasetH grey = GDALTranslate(m_dir.File("grey.tif").c_str(), source, translate, nullptr);
        GDALTranslateOptionsFree(translate);
        ASSERT_NE(grey, nullptr);
        GDALClose(grey);
        GDALClose(source);
    }
    const FindResult grey = FindCorners(40571, m_dir.File("grey.tif"));
    ASSERT_TRUE(grey.Found()) << grey.refusal;
    EXPECT_LT(WorstError(*grey.corners, scan.corners), 0.5);

    FindOptions edges;
    edges.edge = Edge::inner;
    const FindResult inner = FindCorners(40571, m_dir.File("scan.tif"), edges);
    edges.edge = Edge::outer;
    const FindResult outer = FindCorners(40571, m_dir.File("scan.tif"), edges);
    ASSERT_TRUE(inner.Found()) << inner.refusal;
    ASSERT_TRUE(outer.Found()) << outer.refusal;
    EXPECT_LT(WorstError(*inner.corners, scan.innerEdgeCorners), 0.5);
    EXPECT_LT(WorstError(*outer.corners, scan.outerEdgeCorners), 0.5);
    EXPECT_GT((*inner.corners)[0].x, (*outer.corners)[0].x);  // LD: inner lies right of outer
    EXPECT_GT((*inner.corners)[0].y, (*outer.corners)[0].y);  // and above it
}

TEST_F(FindCornersTest, RefusesACroppedSideAndAWrongSizeForTheSheet) {
    synthesis::RealisticScanOptions options = SmallScan();
    options.crop = geometry::Side::right;  // the right side of the neat line is cut off
    Draw(40572, options);
    const FindResult cropped = FindCorners(40572, m_dir.File("scan.jpg"));
    EXPECT_FALSE(cropped.Found());
    EXPECT_FALSE(cropped.refusal.empty());

    // The scan is drawn at 120 dpi but claims 135: the frame is 11 % too small.
    Draw(40572, SmallScan());
    FindOptions claims;
    claims.dpi = 135.0;
    const FindResult wrong = FindCorners(40572, m_dir.File("scan.jpg"), claims);
    EXPECT_FALSE(wrong.Found());
    EXPECT_EQ(wrong.dpiSource, DpiSource::given);
    EXPECT_NE(wrong.refusal.find("135 dpi"), std::string::npos) << wrong.refusal;
    // Another sheet's number: the same picture has the wrong shape for it.
    const FindResult other = FindCorners(34011, m_dir.File("scan.jpg"));
    EXPECT_FALSE(other.Found()) << "corners accepted for the wrong sheet";
}

}  // namespace
}  // namespace georef::corners
