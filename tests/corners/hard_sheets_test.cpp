// The corner finder on the hard sheets: a corner torn off over a light lid
// or a dark scanner bed is carried on from its sides' lines, to a fraction
// of a pixel, and said to be; a tear that leaves too little of the sides is
// refused with its figures; a neat line hidden by hatching next to a corner
// is followed into it; a worn neat line and dense hatching at the corners
// keep the exact corners, and their options are checked.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "corners/find_corners.hpp"
#include "support/corner_error.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::corners {
namespace {

using test::WorstError;

// A tilted 150 dpi JPEG of sheet 40573 with its PH corner torn off.
synthesis::RealisticScanOptions TornScan(double bedMillimetres, double reach) {
    synthesis::RealisticScanOptions options;
    options.dpi = 150.0;
    options.rotationDegrees = 1.3;
    options.seed = 7;
    options.bedMillimetres = bedMillimetres;
    options.tornCorner = synthesis::SheetCorner::ph;
    options.tearReach = reach;
    return options;
}

class HardSheetsTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(HardSheetsTest, ACornerTornOffOverLidOrBedIsCarriedOnFromItsSides) {
    for (const double bed : {0.0, 8.0}) {
        SCOPED_TRACE(bed > 0.0 ? "over a dark bed" : "over a light lid");
        const std::string path = m_dir.File("torn.jpg");
        const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(40573, path, TornScan(bed, 0.07));
        const FindResult found = FindCorners(40573, path);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, scan.corners), 0.5);
        // Only PH was carried on, by about the tear's reach (7 % of sides
        // of some 3300 and 4300 pixels, with a ragged edge).
        EXPECT_EQ(found.extrapolated[0], 0.0);
        EXPECT_EQ(found.extrapolated[1], 0.0);
        EXPECT_GT(found.extrapolated[2], 150.0);
        EXPECT_LT(found.extrapolated[2], 450.0);
        EXPECT_EQ(found.extrapolated[3], 0.0);
        WriteCornerReport(m_dir.File("torn.png"), path, 40573, found);
    }
}

TEST_F(HardSheetsTest, ATearOverAQuarterOfTheSidesIsCarriedOnFromWhatIsLeft) {
    // Too far for the stretches next to the corners: the second look, over
    // each side to its middle, carries PH's lines on from there.
    const std::string path = m_dir.File("torn.jpg");
    const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(40573, path, TornScan(0.0, 0.25));
    const FindResult found = FindCorners(40573, path);
    ASSERT_TRUE(found.Found()) << found.refusal;
    // The sides are bowed by up to 1.5 scan pixels: their pieces next to
    // the tear, carried on over a quarter of the side, put the corner 1.7 px
    // off; the top side's line from its other end, where it lies straight,
    // sits better in the fit of the four and puts it 1.2 px off.
    EXPECT_LT(WorstError(*found.corners, scan.corners), 1.5);
    EXPECT_GT(found.extrapolated[2], 600.0);
    EXPECT_EQ(found.extrapolated[0] + found.extrapolated[1] + found.extrapolated[3], 0.0);
}

TEST_F(HardSheetsTest, ATornCornerWhoseBorderMergesWithTheNeatLineIsCarriedOnAndTakenInside) {
    // Seed 203 at 150 dpi: a 0.7 px neat line merged with the filled border
    // (every side is taken on the fainter line some 4 px inside the
    // border's), with PD torn off over a quarter of its sides. The bottom
    // side shows only the border's inner edge, never both edges of a line;
    // the first look next to PD sees nothing: it was refused ("right side
    // near PD: no straight dark line over 40 % of 322 profiles"). Over a lid
    // and over a dark bed.
    for (const double bed : {0.0, 8.0}) {
        SCOPED_TRACE(bed > 0.0 ? "over a dark bed" : "over a light lid");
        synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(203);
        options.dpi = 150.0;
        options.bedMillimetres = bed;
        options.tornCorner = synthesis::SheetCorner::pd;
        options.tearReach = 0.2625;
        const std::string path = m_dir.File("merged-torn.jpg");
        const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(40574, path, options);
        const FindResult found = FindCorners(40574, path);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, scan.corners), 0.75);
        EXPECT_GT(found.extrapolated[3], 900.0);
        EXPECT_EQ(found.extrapolated[0] + found.extrapolated[1] + found.extrapolated[2], 0.0);
        // The torn sides moved inside the border's line as far near PD as
        // near their other corners, like the sides whole.
        for (Side side : {Side::right, Side::bottom}) {
            const auto& moved = found.fromFainter[static_cast<std::size_t>(side)];
            ASSERT_TRUE(moved) << SideName(side);
            EXPECT_EQ((*moved)[0], (*moved)[1]) << SideName(side);
            EXPECT_GT((*moved)[0], 3.0) << SideName(side);
        }
    }
}

TEST_F(HardSheetsTest, ANeatLineHiddenByHatchingNextToOneCornerIsFollowedIntoIt) {
    // Seed 200 at 150 dpi: dense hatching over LD and LH hides the 0.8 px
    // neat line next to them on the top and bottom sides, while the
    // border's line outside it runs into every corner; a road runs along
    // the left side. The neat line, seen on most of the stretches next to
    // LD and LH and running into PD and PH, is followed through the
    // hatching as far inside the border's line there as next to PD and PH.
    // It was refused ("left side: the only line along it is an edge from
    // paper to dark (the paper's edge?), not a drawn line").
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(200);
    options.dpi = 150.0;
    options.hatchedCorners = 2;
    options.decoy = Side::left;
    const std::string path = m_dir.File("hatched.jpg");
    const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(40571, path, options);
    const FindResult found = FindCorners(40571, path);
    ASSERT_TRUE(found.Found()) << found.refusal;
    EXPECT_LT(WorstError(*found.corners, scan.corners), 0.5);
    // Carried on through the hatching to LD and LH only, and said to be.
    EXPECT_GT(found.extrapolated[0], 60.0);
    EXPECT_GT(found.extrapolated[1], 60.0);
    EXPECT_EQ(found.extrapolated[2] + found.extrapolated[3], 0.0);
}

TEST_F(HardSheetsTest, WornLinesAndHatchingKeepTheExactCornersAndTheirOptionsAreChecked) {
    synthesis::RealisticScanOptions plain;
    plain.dpi = 60.0;
    const synthesis::RealisticScan a = synthesis::WriteRealisticScan(40571, m_dir.File("a.tif"), plain);
    synthesis::RealisticScanOptions hard = plain;
    hard.wornShare = 0.2;
    hard.hatchedCorners = 2;
    const synthesis::RealisticScan b = synthesis::WriteRealisticScan(40571, m_dir.File("b.tif"), hard);
    EXPECT_EQ(WorstError(a.corners, b.corners), 0.0);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);

    synthesis::RealisticScanOptions wrong = plain;
    wrong.wornShare = 0.5;
    EXPECT_ANY_THROW(synthesis::WriteRealisticScan(40571, m_dir.File("c.tif"), wrong));
    wrong = plain;
    wrong.hatchedCorners = 5;
    EXPECT_ANY_THROW(synthesis::WriteRealisticScan(40571, m_dir.File("c.tif"), wrong));
    wrong = plain;
    wrong.tearReach = 0.4;
    EXPECT_ANY_THROW(synthesis::WriteRealisticScan(40571, m_dir.File("c.tif"), wrong));
}

}  // namespace
}  // namespace georef::corners
