// Is this the named sheet, on realistic scans: a scan of another sheet is
// refused naming what it reads, also turned upside down and through the
// program; the right sheet in each period lettering is read and accepted;
// a title that names another sheet over the sheet's own corner labels is
// taken as misread, with a note. The corner labels are read only where the
// title does not name the sheet.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "corners/find_corners.hpp"
#include "corners/sheet_reading.hpp"
#include "support/in_process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"
#include "tools/corners_tool.hpp"

namespace georef::tools {
namespace {

using synthesis::Lettering;
using synthesis::RealisticScanOptions;
using synthesis::SheetCorner;
using synthesis::VariedRealisticOptions;
using synthesis::WriteRealisticScan;

// How the labels are read, for one test.
class LabelReadingFor {
public:
    explicit LabelReadingFor(corners::LabelReading mode) : m_was(corners::CurrentLabelReading()) {
        corners::SetLabelReading(mode);
    }
    ~LabelReadingFor() { corners::SetLabelReading(m_was); }
    LabelReadingFor(const LabelReadingFor&) = delete;
    LabelReadingFor& operator=(const LabelReadingFor&) = delete;

private:
    corners::LabelReading m_was;
};

class SheetIdentityScansTest : public ::testing::Test {
protected:
    std::string Draw(int sheet, const std::string& name, RealisticScanOptions options) {
        options.dpi = 150.0;
        WriteRealisticScan(sheet, m_dir.File(name), options);
        return m_dir.File(name);
    }
    test::TempDir m_dir;
};

TEST_F(SheetIdentityScansTest, AScanOfAnotherSheetIsRefusedNamingWhatItReads) {
    RealisticScanOptions options;
    const std::string scan = Draw(40573, "40573.jpg", options);
    // Sheets 40572 and 40573 have the same shape to a few metres: only the
    // print tells them apart.
    const corners::FindResult found = corners::FindCorners(40572, scan);
    EXPECT_FALSE(found.Found());
    EXPECT_EQ(found.refusal, "the scan reads 4057/3, not 4057/2");
    ASSERT_TRUE(found.measured);  // the frame itself was found and checked
    EXPECT_TRUE(found.identity.contradicted);
    EXPECT_GE(found.identity.labelsRead, 6);

    const test::ToolResult r = test::RunInProcess(
        RunCornersTool, {"georef-corners", "40572", scan, m_dir.File("c.txt"), "--report", m_dir.File("r.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the scan reads 4057/3, not 4057/2"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(m_dir.File("c.txt")).good());
    EXPECT_TRUE(std::ifstream(m_dir.File("r.png")).good());

    options.turnDegrees = 180;
    const std::string turned = Draw(40573, "40573-180.jpg", options);
    const corners::FindResult upsideDown = corners::FindCorners(40574, turned);
    EXPECT_EQ(upsideDown.turnDegrees, 180);
    EXPECT_EQ(upsideDown.refusal, "the scan reads 4057/3, not 4057/4");
}

// The batch reads a hand-made corner file's margin from the scan it has
// decoded for the run, and keeps one OCR engine per thread from sheet to
// sheet: both read what a fresh engine reads from the file. The picture's
// reduced copy is made from the search's, to within a level.
TEST_F(SheetIdentityScansTest, TheDecodedScanAndAKeptEngineReadAsTheFileDoes) {
    RealisticScanOptions options;
    options.dpi = 150.0;
    const synthesis::RealisticScan drawn = WriteRealisticScan(40573, m_dir.File("40573.jpg"), options);
    const corners::IdentityCheck fromFile = corners::CheckSheetIdentity(40573, m_dir.File("40573.jpg"), drawn.corners);
    EXPECT_EQ(fromFile.reading.titleSheet, 40573) << corners::DescribeReading(fromFile.reading);
    EXPECT_FALSE(fromFile.verdict.contradicted);
    EXPECT_EQ(corners::ReadingNote(fromFile.reading, fromFile.verdict).rfind("read: title 4057/3", 0), 0u);

    const test::JpegImage pixels = test::ReadJpeg(m_dir.File("40573.jpg"));
    const corners::ScanImage decoded(m_dir.File("40573.jpg"), pixels.rgb.data(), pixels.width, pixels.height);
    for (int round = 0; round < 2; ++round) {  // the second on the engine the first left
        const corners::IdentityCheck fromMemory = corners::CheckSheetIdentity(40573, decoded, drawn.corners);
        EXPECT_EQ(corners::DescribeReading(fromMemory.reading), corners::DescribeReading(fromFile.reading));
        EXPECT_EQ(fromMemory.verdict.message, fromFile.verdict.message);
    }

    const cv::Mat search = decoded.ReadReduced(2);
    const cv::Mat picture = decoded.ReadReduced(4);  // from the search's copy
    const corners::ScanImage fresh(m_dir.File("40573.jpg"), pixels.rgb.data(), pixels.width, pixels.height);
    const cv::Mat direct = fresh.ReadReduced(4);
    ASSERT_EQ(picture.size(), direct.size());
    EXPECT_EQ(search.cols, pixels.width / 2);
    cv::Mat difference;
    cv::absdiff(picture, direct, difference);
    double largest = 0.0;
    cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
    EXPECT_LE(largest, 1.0);
}

TEST_F(SheetIdentityScansTest, TheRightSheetIsReadInEveryLetteringAndAccepted) {
    const LabelReadingFor every(corners::LabelReading::always);  // how legible the labels are
    for (const Lettering style : {Lettering::plain, Lettering::serif, Lettering::italic, Lettering::smallCaps}) {
        RealisticScanOptions options = VariedRealisticOptions(21);
        options.lettering = style;
        options.tornCorner = SheetCorner::none;
        const std::string scan = Draw(40574, "style.jpg", options);
        const corners::FindResult found = corners::FindCorners(40574, scan);
        SCOPED_TRACE(static_cast<int>(style));
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_TRUE(found.reading.attempted);
        EXPECT_EQ(found.reading.titleSheet, 40574) << found.reading.titleText;
        EXPECT_GE(found.identity.labelsAgreeing, 4) << corners::DescribeReading(found.reading);
        EXPECT_EQ(found.identity.labelsAgreeing, found.identity.labelsRead);
        EXPECT_TRUE(found.identity.message.empty()) << found.identity.message;
    }
}

// The title that names the sheet identifies it alone: the labels are not
// read, and the verdict is the one a reading of every label gives. A title
// naming another sheet, or none legible, has the labels read to decide.
TEST_F(SheetIdentityScansTest, TheLabelsAreReadOnlyWhenTheTitleDoesNotNameTheSheet) {
    RealisticScanOptions options;
    options.dpi = 150.0;
    const synthesis::RealisticScan drawn = WriteRealisticScan(40573, m_dir.File("40573.jpg"), options);
    test::JpegImage pixels = test::ReadJpeg(m_dir.File("40573.jpg"));
    const corners::ScanImage scan(m_dir.File("40573.jpg"), pixels.rgb.data(), pixels.width, pixels.height);

    const corners::IdentityCheck named = corners::CheckSheetIdentity(40573, scan, drawn.corners);
    EXPECT_EQ(named.reading.titleSheet, 40573);
    EXPECT_TRUE(named.reading.labelsSkipped);
    EXPECT_EQ(named.verdict.labelsRead, 0);
    EXPECT_FALSE(named.verdict.contradicted);
    EXPECT_EQ(corners::ReadingNote(named.reading, named.verdict),
              "read: title 4057/3; corner labels not read (the title names the sheet)");
    {
        const LabelReadingFor every(corners::LabelReading::always);
        const corners::IdentityCheck all = corners::CheckSheetIdentity(40573, scan, drawn.corners);
        EXPECT_EQ(all.reading.titleSheet, 40573);
        EXPECT_FALSE(all.reading.labelsSkipped);
        EXPECT_GE(all.verdict.labelsAgreeing, 6) << corners::DescribeReading(all.reading);
        EXPECT_FALSE(all.verdict.contradicted);
    }

    const corners::IdentityCheck other = corners::CheckSheetIdentity(40574, scan, drawn.corners);
    EXPECT_FALSE(other.reading.labelsSkipped);
    EXPECT_GE(other.verdict.labelsRead, 6) << corners::DescribeReading(other.reading);
    EXPECT_TRUE(other.verdict.contradicted);
    EXPECT_EQ(other.verdict.message, "the scan reads 4057/3, not 4057/4");

    // The margin above the top side blanked, title and all: the labels left are read.
    const double topY = std::max(drawn.corners[1].y, drawn.corners[2].y);  // up from the bottom edge
    const int blankRows = pixels.height - static_cast<int>(topY) - 8;
    ASSERT_GT(blankRows, 0);
    std::fill(pixels.rgb.begin(), pixels.rgb.begin() + static_cast<std::ptrdiff_t>(blankRows) * pixels.width * 3, 255);
    const corners::ScanImage untitled(m_dir.File("40573.jpg"), pixels.rgb.data(), pixels.width, pixels.height);
    const corners::IdentityCheck labelsOnly = corners::CheckSheetIdentity(40573, untitled, drawn.corners);
    EXPECT_FALSE(labelsOnly.reading.titleSheet);
    EXPECT_FALSE(labelsOnly.reading.labelsSkipped);
    EXPECT_GE(labelsOnly.verdict.labelsAgreeing, 4) << corners::DescribeReading(labelsOnly.reading);
    EXPECT_FALSE(labelsOnly.verdict.contradicted);
    const corners::IdentityCheck labelsOfAnother = corners::CheckSheetIdentity(40574, untitled, drawn.corners);
    EXPECT_TRUE(labelsOfAnother.verdict.contradicted) << labelsOfAnother.verdict.message;
}

TEST_F(SheetIdentityScansTest, AMisprintedTitleOverTheSheetsOwnLabelsIsANote) {
    RealisticScanOptions options;
    options.titleSheet = 40574;  // differs from 40572 in latitude, where the labels read 40572's
    const std::string scan = Draw(40572, "misprinted.jpg", options);
    const corners::FindResult found = corners::FindCorners(40572, scan);
    ASSERT_TRUE(found.Found()) << found.refusal;
    EXPECT_EQ(found.reading.titleSheet, 40574);
    EXPECT_NE(found.identity.message.find("the title reads 4057/4 but the corner labels show 4057/2"),
              std::string::npos)
        << found.identity.message;

    // Without the reading the scan is taken as named.
    corners::FindOptions unchecked;
    unchecked.checkIdentity = false;
    const corners::FindResult plain = corners::FindCorners(40572, scan, unchecked);
    ASSERT_TRUE(plain.Found());
    EXPECT_FALSE(plain.reading.attempted);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ((*plain.corners)[k].x, (*found.corners)[k].x);
        EXPECT_EQ((*plain.corners)[k].y, (*found.corners)[k].y);
    }
}

}  // namespace
}  // namespace georef::tools
