// The corner finder's second look, on scans written through GDAL: a neat
// line worn away over a fifth of every side and one hidden by dense
// hatching at both corners of a side (where the border's line runs on into
// them) are found to within half a pixel, the corners carried on said to
// be; a scan with too little of its line left is refused, never answered
// with a wrong corner; solid hatching against the line and paper edges of
// nearly the sheet's shape do not keep the line from being found. (Larger
// tears: hard_sheets_test.cpp.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "corners/find_corners.hpp"
#include "support/corner_error.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::corners {
namespace {

using test::WorstError;

class WornSheetsTest : public ::testing::Test {
protected:
    // Draws the scan, finds its corners and expects them within `limit`
    // pixels of the drawn ones.
    FindResult FindWithin(int sheet, const synthesis::RealisticScanOptions& options, double limit) {
        const std::string path = m_dir.File("scan.jpg");
        const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(sheet, path, options);
        FindResult found = FindCorners(sheet, path);
        EXPECT_TRUE(found.Found()) << found.refusal;
        if (found.Found()) {
            EXPECT_LT(WorstError(*found.corners, scan.corners), limit);
        }
        return found;
    }

    test::TempDir m_dir;
};

TEST_F(WornSheetsTest, TooLittleOfTheLineLeftIsRefusedNotAnsweredWrong) {
    // A third of two sides torn off with the corner and 40 % of what is left
    // worn away: less than half of those sides shows the line. Refused, or
    // (the neat line merged with the border at this resolution) PH carried
    // on from the border's frame, seen on two thirds of both sides, exactly.
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(202);
    options.dpi = 150.0;
    options.tornCorner = synthesis::SheetCorner::ph;
    options.tearReach = 0.3;
    options.wornShare = 0.4;
    const std::string path = m_dir.File("hopeless.jpg");
    const geometry::CornerPoints truth = synthesis::WriteRealisticScan(40573, path, options).corners;
    const FindResult found = FindCorners(40573, path);
    if (found.Found()) {
        EXPECT_LT(WorstError(*found.corners, truth), 1.5);
        EXPECT_GT(found.extrapolated[2], 0.0);
    } else {
        EXPECT_FALSE(found.corners);
        EXPECT_FALSE(found.refusal.empty());
    }
}

TEST_F(WornSheetsTest, ANeatLineWornAwayInPiecesIsFoundFromThePiecesOnOneLine) {
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(203);
    options.wornShare = 0.2;
    const FindResult found = FindWithin(40574, options, 0.5);
    EXPECT_GT(found.lineWidth, 0.0);
}

TEST_F(WornSheetsTest, HatchingAtBothCornersOfASideIsToldFromTheBorderBesideIt) {
    // LD and LH hatched: the left side's neat line shows at neither corner,
    // while the border's line outside it runs into both.
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(201);
    options.hatchedCorners = 2;
    options.decoy = geometry::Side::top;
    const FindResult found = FindWithin(40572, options, 0.5);
    // Both hatched corners are reached by carrying their lines on.
    EXPECT_GT(found.extrapolated[0], 0.0);
    EXPECT_GT(found.extrapolated[1], 0.0);
    EXPECT_EQ(found.extrapolated[3], 0.0);
}

TEST_F(WornSheetsTest, SolidHatchingPressedAgainstTheLineLeavesTheRestOfTheSideToMeasure) {
    // At 150 dpi the solid patch at LD runs into the neat line from the
    // map's side: its profiles show no inner edge there, and the line is
    // taken from the rest of the stretch.
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(204);
    options.dpi = 150.0;
    options.hatchedCorners = 2;
    options.decoy = geometry::Side::left;
    FindWithin(40571, options, 0.5);
}

TEST_F(WornSheetsTest, PaperEdgesOfTheSheetsShapeGiveWayToTheWornNeatLine) {
    // Worn next to the corners of the top side, the neat line's edge covers
    // too little there; the paper's edges against the dark bed outside the
    // border make a frame of nearly the sheet's shape, and are not taken
    // while the drawn lines make one short of a corner.
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(202);
    options.wornShare = 0.2;
    FindWithin(40573, options, 0.5);
}

}  // namespace
}  // namespace georef::corners
