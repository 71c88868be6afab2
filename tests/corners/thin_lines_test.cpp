// Thin neat lines blurred at a low resolution: a line 1 px wide seen
// through a blur of 1.3 px is a dip 3 px wide from edge to edge. Where a
// filled border close outside hides its outer edge, its centre lies half
// that width beyond its inner edge, and the drawn width reported (and used
// for the line's inner and outer edges) is the line's own.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "corners/find_corners.hpp"
#include "support/corner_error.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::corners {
namespace {

using test::WorstError;

class ThinLinesTest : public ::testing::Test {
protected:
    // Draws the scan of the options as a JPEG and finds its corners.
    FindResult Find(int sheet, const synthesis::RealisticScanOptions& options, synthesis::RealisticScan& drawn,
                    Edge edge = Edge::centre) {
        const std::string path = m_dir.File("scan-" + std::to_string(options.seed) + ".jpg");
        drawn = synthesis::WriteRealisticScan(sheet, path, options);
        FindOptions find;
        find.edge = edge;
        find.checkIdentity = false;
        return FindCorners(sheet, path, find);
    }

    test::TempDir m_dir;
};

TEST_F(ThinLinesTest, BlurredLinesMergedWithTheFilledBorderAt150DpiAreFoundOnTheirCentre) {
    // Filled minutes 5 to 6 pixels outside the line, whose blur runs into
    // the line's: on most profiles of one side the paper does not come back
    // between them. Both were refused while such profiles put the centre
    // 1.5 px inside the line ("bottom side: a line 4.7 pixels inside the one
    // that runs along the whole side reaches the corner PD but is not seen
    // near the other end"; "bottom side: the line taken lies 16.9 pixels
    // inside the outermost line near LD but 13.8 near PD (not one line)"),
    // and reported the line 0.30 and 0.49 px wide.
    struct Case {
        int sheet;
        std::uint64_t seed;
    };
    for (const auto& [sheet, seed] : {Case{40572, 217}, Case{40573, 222}}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(seed);
        options.dpi = 150.0;
        synthesis::RealisticScan drawn;
        const FindResult found = Find(sheet, options, drawn);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, drawn.corners), 0.5);
        EXPECT_GT(found.lineWidth, 0.5 * drawn.neatLineWidth);
        EXPECT_LT(found.lineWidth, drawn.neatLineWidth + 0.5);
    }
}

TEST_F(ThinLinesTest, AFaintLineBesideTheBordersDarkerLineIsFollowedIntoTheCorner) {
    // Seed 205 at 150 dpi: a 0.9 px line under a 1.2 px blur, the border's
    // inner line 5 px outside it and a road 6 px inside it along most of the
    // bottom side. Next to PD the neat line shows only its inner edge, on
    // too few profiles to count as a line there; the border's line runs
    // into both corners. Plain and worn, it was refused ("bottom side: its
    // line stops short of corner PD, where a line 10.0 pixels outside it
    // runs on; ..."); torn off at another corner, it was refused as "a line
    // 5.9 pixels inside the one that runs along the whole side reaches the
    // corner LD but is not seen near the other end".
    struct Case {
        const char* name;
        void (*change)(synthesis::RealisticScanOptions&);
    };
    const Case cases[] = {
        {"plain", [](synthesis::RealisticScanOptions&) {}},
        {"worn", [](synthesis::RealisticScanOptions& o) { o.wornShare = 0.2; }},
        {"torn over lid",
         [](synthesis::RealisticScanOptions& o) {
             o.bedMillimetres = 0.0;
             o.tornCorner = synthesis::SheetCorner::lh;
             o.tearReach = 0.05;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(205);
        options.dpi = 150.0;
        c.change(options);
        synthesis::RealisticScan drawn;
        const FindResult found = Find(40572, options, drawn);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, drawn.corners), 0.6);
    }
}

TEST_F(ThinLinesTest, TheOuterFrameIsFollowedToTheOtherCornerBeforeTheTwoEndsAreCompared) {
    // Seed 205 at 150 dpi with corner LH torn off over a dark bed. Next to
    // PH the right side's outermost line is the border's (the frame is not
    // seen there), next to PD the outer frame; fitted next to their corners,
    // the two agreed within the bow allowed at the middle, and the neat
    // line, 9 and 15 px inside them, was taken for two lines ("right side:
    // the line taken lies 8.9 pixels inside the outermost line near PH but
    // 15.4 near PD (not one line)"); the bottom side's faint line followed
    // into PD was refused so too. Without these sides the border's gap was
    // not known and the torn top side not placed: "top side: the gap from
    // the neat line to the border's outer frame agrees on 1 other sides (2
    // needed)", and with a large tear "left side: its line stops 530 pixels
    // short of corner LH, where nothing is seen (torn off or hidden?); ...".
    struct Case {
        double reach;
        double worst;  // px
    };
    for (const Case& c : {Case{0.05, 0.75}, Case{0.15, 1.0}}) {
        SCOPED_TRACE("tear reach " + std::to_string(c.reach));
        synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(205);
        options.dpi = 150.0;
        options.bedMillimetres = 8.0;
        options.tornCorner = synthesis::SheetCorner::lh;
        options.tearReach = c.reach;
        synthesis::RealisticScan drawn;
        const FindResult found = Find(40572, options, drawn);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, drawn.corners), c.worst);
    }
}

TEST_F(ThinLinesTest, AFaintLineHiddenBesideARoadIsSeenWhereItRunsIntoItsCorners) {
    // Seed 200 at 150 dpi: a 0.8 px line under a 1.2 px blur, and a road
    // pressed 6 px inside the top side over most of its length, but not
    // next to its corners. The line shows only on the half of each stretch
    // next to its corner, so the outer frame was the only line of the side:
    // plain, the side was placed from its frame; with a corner torn off it
    // was refused ("top side: near both corners a fainter line runs 12.5
    // and 12.5 pixels inside the line taken ..."), and with a large tear, as
    // its frame could not be placed from too few sides ("top side: the line
    // taken shows none of the border's lines outside it ...").
    for (const double reach : {0.0, 0.05, 0.15}) {
        SCOPED_TRACE("tear reach " + std::to_string(reach));
        synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(200);
        options.dpi = 150.0;
        options.bedMillimetres = 0.0;
        options.tornCorner = reach > 0.0 ? synthesis::SheetCorner::ld : synthesis::SheetCorner::none;
        options.tearReach = reach;
        synthesis::RealisticScan drawn;
        const FindResult found = Find(40571, options, drawn);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, drawn.corners), 0.75);
        for (Side side : kSides) {
            EXPECT_FALSE(found.fromFrame[static_cast<std::size_t>(side)]) << SideName(side);
        }
    }
}

TEST_F(ThinLinesTest, ALineTooFaintNextToItsCornersIsLookedAtAgainCountingFainterLines) {
    // Seed 207 at 150 dpi: a 0.6 px line under a 1.3 px blur is a dip of
    // about 0.18 of the contrast, below the 0.2 a line needs, so the top
    // side showed only its outer frame's edge ("top side: the only line
    // along it is an edge from paper to dark (the paper's edge?), not a
    // drawn line"). Counting every line is kept for the first look: at 0.15
    // from the start, a hatched scan found now (seed 201) was refused.
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(207);
    options.dpi = 150.0;
    synthesis::RealisticScan drawn;
    const FindResult found = Find(40574, options, drawn);
    ASSERT_TRUE(found.Found()) << found.refusal;
    EXPECT_LT(WorstError(*found.corners, drawn.corners), 0.75);
}

TEST_F(ThinLinesTest, TheInnerEdgeOfA120DpiLineLiesHalfItsDrawnWidthInside) {
    // The plain scan at 120 dpi: a 0.8 px line blurred by 0.7 px. Its drawn
    // width once came out as 0.06 px, the inner edge then 0.4 px outside.
    synthesis::RealisticScanOptions options;
    options.seed = 203;
    options.dpi = 120.0;
    synthesis::RealisticScan drawn;
    const FindResult inner = Find(40574, options, drawn, Edge::inner);
    ASSERT_TRUE(inner.Found()) << inner.refusal;
    EXPECT_NEAR(inner.lineWidth, drawn.neatLineWidth, 0.25);
    EXPECT_LT(WorstError(*inner.corners, drawn.innerEdgeCorners), 0.3);
}

}  // namespace
}  // namespace georef::corners
