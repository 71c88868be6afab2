// The corner finder at low resolution, where a thin neat line may merge
// with the border's inner line, the outer frame or a road beside it: it
// finds the neat line itself or refuses, and never writes the corners of a
// darker line next to it. The scans are those on which an earlier finder
// took one side on the outer frame 11 pixels out (seed 200 at 150 dpi),
// every side on the border's inner line 4 to 5 pixels out (seed 203, where
// the neat line is now taken on the fainter line inside that line), or
// one end of a side on the border's line, 4 to 5 pixels out (seeds 206,
// 210 and 219 of the plain scan at 120 dpi, seed 220 at 150 dpi).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "corners/find_corners.hpp"
#include "corners/scan_image.hpp"
#include "support/corner_error.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"
#include "synthesis/scan_image_file.hpp"

namespace georef::corners {
namespace {

using test::WorstError;

class MergedLinesTest : public ::testing::Test {
protected:
    // Draws the varied scan of the seed (or the plain one) at the
    // resolution as a JPEG, and finds its corners; truth: the exact corners
    // drawn.
    FindResult Find(int sheet, std::uint64_t seed, double dpi, geometry::CornerPoints& truth, bool varied = true) {
        synthesis::RealisticScanOptions options;
        if (varied) {
            options = synthesis::VariedRealisticOptions(seed);
        }
        options.seed = seed;
        options.dpi = dpi;
        const std::string path = m_dir.File("scan-" + std::to_string(seed) + ".jpg");
        truth = synthesis::WriteRealisticScan(sheet, path, options).corners;
        return FindCorners(sheet, path);
    }

    test::TempDir m_dir;
};

TEST_F(MergedLinesTest, ALineBesideAThinNeatLineIsNeverTakenForIt) {
    // Seed 200: ticks, a 0.8 px neat line with a road pressed against it
    // along the top; seed 203: filled minutes, a 0.7 px neat line 4 pixels
    // inside the border's inner line, both blurred by 1.2 px.
    for (const auto& [sheet, seed] : {std::pair<int, std::uint64_t>{40571, 200}, {40574, 203}}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        geometry::CornerPoints truth{};
        const FindResult found = Find(sheet, seed, 150.0, truth);
        if (found.Found()) {
            EXPECT_LT(WorstError(*found.corners, truth), 1.5);
        } else {
            // The refusal says the line taken is not the neat line: a
            // fainter line inside it, none of the border's lines outside it,
            // or another line at each end of a side.
            EXPECT_TRUE(found.refusal.find("fainter line") != std::string::npos ||
                        found.refusal.find("none of the border's lines") != std::string::npos ||
                        found.refusal.find("(not one line)") != std::string::npos)
                << found.refusal;
        }
    }
}

TEST_F(MergedLinesTest, ANeatLineMergedWithTheBorderIsTakenOnTheFainterLineInside) {
    // Seed 203 at 150 dpi: on every side the 0.7 px neat line, blurred by
    // 1.2 px, runs into the filled minutes' dark band and shows only as a
    // shoulder on its inner flank, 3.5 to 4.5 pixels inside the band's line.
    geometry::CornerPoints truth{};
    const FindResult found = Find(40574, 203, 150.0, truth);
    ASSERT_TRUE(found.Found()) << found.refusal;
    EXPECT_LT(WorstError(*found.corners, truth), 1.0);
    const std::vector<std::string> notes = FramePlacementNotes(found);
    for (std::size_t side = 0; side < 4; ++side) {
        SCOPED_TRACE("side " + std::to_string(side));
        ASSERT_TRUE(found.fromFainter[side].has_value());
        for (const double inside : *found.fromFainter[side]) {
            EXPECT_GT(inside, 2.5);
            EXPECT_LT(inside, 5.5);
        }
        const std::string name(SideName(kSides[side]));
        EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                                [&name](const std::string& n) {
                                    return n.rfind(name + ": neat line taken on a fainter line", 0) == 0;
                                }),
                  1);
    }
}

// A road drawn along the whole left side of seed 204 at 150 dpi (a 1.1 px
// neat line standing clear of the border, filled minutes 15 px out) or at
// dpi: one casing per offset inside the neat line, in pixels (1 px wide at
// 150 dpi, in proportion at others), from `shortOf`
// pixels inside the corner LD to as far short of LH, written back as a
// JPEG. Its path, with the exact corners in truth.
// seed and sheet: another varied scan instead.
std::string DrawRoad(const test::TempDir& dir, const std::string& name, const std::vector<double>& casings,
                     double shortOfCorners, double grey, geometry::CornerPoints& truth, double dpi = 150.0,
                     std::uint64_t seed = 204, int sheet = 40571) {
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(seed);
    options.seed = seed;
    options.dpi = dpi;
    const std::string drawn = dir.File(name + "-drawn.jpg");
    truth = synthesis::WriteRealisticScan(sheet, drawn, options).corners;
    const ScanImage scan(drawn);
    cv::Mat rgb = scan.ReadWindows({cv::Rect(0, 0, scan.Width(), scan.Height())}).front();
    // Plane frame (row 0 at the top), `inside` pixels to the right of the
    // left side, a share `along` of the way from LD to LH.
    const auto plane = [&](double along, double inside) {
        return cv::Point2d(truth[0].x + along * (truth[1].x - truth[0].x) + inside,
                           scan.Height() - (truth[0].y + along * (truth[1].y - truth[0].y)));
    };
    constexpr int kShift = 4;  // sub-pixel bits of the drawing
    const auto fixed = [](const cv::Point2d& p) { return cv::Point(cvRound(p.x * 16.0), cvRound(p.y * 16.0)); };
    const double shortOf = shortOfCorners / std::fabs(truth[1].y - truth[0].y);
    for (const double inside : casings) {
        cv::line(rgb, fixed(plane(shortOf, inside)), fixed(plane(1.0 - shortOf, inside)), cv::Scalar(grey, grey, grey),
                 static_cast<int>(std::lround(dpi / 150.0)), cv::LINE_AA, kShift);
    }
    const std::string roaded = dir.File(name + ".jpg");
    synthesis::WriteScanImage(roaded,
                              synthesis::InterleavedRgb(rgb.data, rgb.cols, rgb.rows, static_cast<std::ptrdiff_t>(rgb.step)),
                              synthesis::ScanEncoding{92, dpi});
    return roaded;
}

TEST_F(MergedLinesTest, ARoadAlongASideIsNotTakenForAMergedNeatLine) {
    // A faint road, one line 4.5 pixels inside the neat line, stopping
    // 20 pixels short of both corners. Near both corners it is a fainter
    // line inside the line taken, as a neat line merged with the border
    // shows; but it lies 4.5 pixels further inside the border's outer frame
    // than the other sides' neat lines, so it is never taken for the neat
    // line.
    geometry::CornerPoints truth{};
    const std::string roaded = DrawRoad(m_dir, "faint-road", {4.5}, 20.0, 140.0, truth);
    const FindResult found = FindCorners(40571, roaded);
    if (found.Found()) {
        EXPECT_LT(WorstError(*found.corners, truth), 1.5);
        EXPECT_FALSE(found.fromFainter[0].has_value());
    }
}

TEST_F(MergedLinesTest, ADarkRoadIntoBothCornersIsNeverTakenForTheNeatLine) {
    // A dark road 5 or 6 pixels inside the neat line, running into both
    // corners: it is darker than the neat line along the whole side and was
    // taken for it, a corner file 4.5 to 5.5 pixels off. Its line lies that
    // much further inside the border's outer frame than the other sides' neat
    // lines do: refused, or found on the neat line. At 300 dpi the same road,
    // 2 px wide and 10 pixels inside, gave a corner file 9.4 pixels off.
    for (const auto& [dpi, inside] : {std::pair<double, double>{150.0, 5.0}, {150.0, 6.0}, {300.0, 10.0}}) {
        SCOPED_TRACE("road " + std::to_string(inside) + " pixels inside at " + std::to_string(dpi) + " dpi");
        geometry::CornerPoints truth{};
        const std::string roaded = DrawRoad(m_dir, "dark-road", {inside}, 0.0, 60.0, truth, dpi);
        const FindResult found = FindCorners(40571, roaded);
        if (found.Found()) {
            EXPECT_LT(WorstError(*found.corners, truth), 1.5);
        } else {
            EXPECT_NE(found.refusal.find("inside the border's outer frame"), std::string::npos) << found.refusal;
        }
    }
}

TEST_F(MergedLinesTest, ANeatLineMergedWithTheBorderOnEverySideIsTheInnermostLineInsideTheFrame) {
    // Seed 202 at 150 dpi: a 1.5 px neat line blurred by 1.4 px, 4 px
    // inside the border's thin line and filled minutes. Next to a filled
    // minute it shows only as a shoulder on the band's inner flank, next to
    // an empty one as one line with the border's thin line: no side takes
    // one line at both its ends. Next to all eight side ends it is the
    // innermost line inside the border's outer frame, alike on every side.
    geometry::CornerPoints truth{};
    const FindResult found = Find(40573, 202, 150.0, truth);
    ASSERT_TRUE(found.Found()) << found.refusal;
    EXPECT_LT(WorstError(*found.corners, truth), 0.75);
    for (std::size_t side = 0; side < 4; ++side) {
        ASSERT_TRUE(found.fromFrame[side].has_value()) << "side " << side;
        EXPECT_NEAR(*found.fromFrame[side], *found.fromFrame[0], 1.5);
        EXPECT_FALSE(found.fromFainter[side].has_value()) << "side " << side;
    }

    // The same scan with a dark road 5 pixels inside the left neat line,
    // into both corners: there the innermost line is the road's, 5 pixels
    // further inside the frame than on the other sides. Never taken.
    const std::string roaded = DrawRoad(m_dir, "merged-road", {5.0}, 0.0, 60.0, truth, 150.0, 202, 40573);
    const FindResult withRoad = FindCorners(40573, roaded);
    if (withRoad.Found()) {
        EXPECT_LT(WorstError(*withRoad.corners, truth), 1.5);
    }
}

TEST_F(MergedLinesTest, BothEndsOfASideTakeTheSameLine) {
    // A 0.8 px neat line at 120 dpi, 4.5 px inside the border's filled
    // minutes and their thin line, and at 150 dpi a 1.4 px one: near one
    // corner of a side the border's line was taken, near the other the
    // neat line, and the two agreed at the side's middle.
    struct Case {
        int sheet;
        std::uint64_t seed;
        double dpi;
        bool varied;
    };
    for (const Case& c : {Case{40573, 206, 120.0, false}, Case{40573, 210, 120.0, false},
                          Case{40574, 219, 120.0, false}, Case{40571, 220, 150.0, true}}) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        geometry::CornerPoints truth{};
        const FindResult found = Find(c.sheet, c.seed, c.dpi, truth, c.varied);
        if (found.Found()) {
            EXPECT_LT(WorstError(*found.corners, truth), 1.5);
        } else {
            EXPECT_FALSE(found.refusal.empty());
        }
    }
}

TEST_F(MergedLinesTest, ThinNeatLinesApartFromTheBorderAreStillFoundExactly) {
    // The same kind of scan where the neat line stands clear of the border.
    for (const auto& [sheet, seed] : {std::pair<int, std::uint64_t>{40572, 201}, {40571, 204}}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        geometry::CornerPoints truth{};
        const FindResult found = Find(sheet, seed, 150.0, truth);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_LT(WorstError(*found.corners, truth), 0.5);
    }
}

}  // namespace
}  // namespace georef::corners
