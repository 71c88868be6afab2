// The corner finder at 150 dpi on a sheet whose thin neat line merges with
// the border on every side (seed 202: a 1.5 px line blurred by 1.4 px, 4 px
// inside the border's thin line and filled minutes) and whose corner PH is
// torn off with the border's frame there: the neat line is the innermost
// line inside the frame, measured beyond the tear on the two sides that
// lose their frame, and PH is carried on from their lines. A tear leaving
// too little of the sides is refused, never written wrong.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "corners/find_corners.hpp"
#include "support/corner_error.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::corners {
namespace {

using test::WorstError;

class TornMergedTest : public ::testing::Test {
protected:
    // Draws seed 202 of the varied scans at 150 dpi, PH torn off over the
    // share `reach` of its two sides, over a dark bed (bed > 0, mm) or a
    // light lid, as a JPEG, and finds its corners; truth: the corners drawn.
    FindResult Find(double reach, double bed, geometry::CornerPoints& truth) {
        constexpr std::uint64_t kSeed = 202;
        synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(kSeed);
        options.seed = kSeed;
        options.dpi = 150.0;
        options.bedMillimetres = bed;
        options.tornCorner = synthesis::SheetCorner::ph;
        options.tearReach = reach;
        const std::string path = m_dir.File("torn.jpg");
        truth = synthesis::WriteRealisticScan(40573, path, options).corners;
        return FindCorners(40573, path);
    }

    test::TempDir m_dir;
};

TEST_F(TornMergedTest, ATornCornerIsCarriedOnFromTheLinesInsideTheFramesBeyondTheTear) {
    // A small tear over a lid and a large one (22.5 % of the sides) over a
    // dark bed, whose torn edge is a step from dark to paper beside the frame.
    for (const auto& [reach, bed] : {std::pair<double, double>{0.085, 0.0}, {0.225, 8.0}}) {
        SCOPED_TRACE("tear " + std::to_string(reach) + ", bed " + std::to_string(bed) + " mm");
        geometry::CornerPoints truth{};
        const FindResult found = Find(reach, bed, truth);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, truth), 0.75);
        // PH alone carried on, over the frame's tear at least (its sides are
        // some 3300 and 4300 pixels long).
        EXPECT_EQ(found.extrapolated[0], 0.0);
        EXPECT_EQ(found.extrapolated[1], 0.0);
        EXPECT_GT(found.extrapolated[2], reach * 3300.0);
        EXPECT_EQ(found.extrapolated[3], 0.0);
        for (std::size_t side = 0; side < 4; ++side) {
            ASSERT_TRUE(found.fromFrame[side].has_value()) << "side " << side;
            EXPECT_NEAR(*found.fromFrame[side], *found.fromFrame[0], 1.5) << "side " << side;
        }
    }
}

TEST_F(TornMergedTest, ATearOverMoreThanHalfOfASideIsNeverWrittenWrong) {
    // 30 % of each side torn away with the frame further still: refused, or
    // found as exactly.
    geometry::CornerPoints truth{};
    const FindResult found = Find(0.3, 8.0, truth);
    if (found.Found()) {
        EXPECT_LT(WorstError(*found.corners, truth), 1.5);
    } else {
        EXPECT_FALSE(found.refusal.empty());
    }
}

}  // namespace
}  // namespace georef::corners
