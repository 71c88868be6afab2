// The frame's geometry: each corner where the two sides meeting there
// cross, from the lines measured next to that corner.

#include <gtest/gtest.h>

#include <array>

#include "corners/frame.hpp"

namespace georef::corners {
namespace {

// A side line through a plane point with the given tilt (across per along).
SideLine Through(Side side, const PlanePoint& p, double tilt) {
    const double along = RunsDown(side) ? p.row : p.column;
    const double across = RunsDown(side) ? p.column : p.row;
    return {across - tilt * along, tilt};
}

// A sheet turned by about a degree, bowed: no two lines of a side agree.
constexpr FrameCorners kCorners = {PlanePoint{236.25, 3467.5}, PlanePoint{195.5, 183.75},
                                   PlanePoint{4450.25, 250.5}, PlanePoint{4502.0, 3534.25}};

TEST(FrameTest, EachCornerComesFromTheTwoLinesMeasuredNextToIt) {
    // Each side's two lines pass through the corners at their ends with
    // different tilts, as the lines of a bowed side do.
    SideEndLines lines;
    for (std::size_t k = 0; k < 4; ++k) {
        const CornerSides sides = kCornerSides[k];
        const double tilt = 0.01 * static_cast<double>(k + 1);
        lines[static_cast<std::size_t>(sides.downward)][static_cast<std::size_t>(EndOfDownwardSide(sides))] =
            Through(sides.downward, kCorners[k], tilt);
        lines[static_cast<std::size_t>(sides.sideways)][static_cast<std::size_t>(EndOfSidewaysSide(sides))] =
            Through(sides.sideways, kCorners[k], -tilt);
    }
    const FrameCorners corners = IntersectSides(lines);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(corners[k].column, kCorners[k].column, 1e-9) << kCornerNames[k];
        EXPECT_NEAR(corners[k].row, kCorners[k].row, 1e-9) << kCornerNames[k];
    }
}

TEST(FrameTest, OneLinePerSideGivesTheQuadrilateralOfItsSides) {
    // LD is the bottom left corner: the largest row, the smallest column.
    const std::array<PlanePoint, 4>& c = kCorners;
    const auto tilt = [](const PlanePoint& from, const PlanePoint& to, bool down) {
        return down ? (to.column - from.column) / (to.row - from.row) : (to.row - from.row) / (to.column - from.column);
    };
    SideLines lines;
    lines[static_cast<std::size_t>(Side::left)] = Through(Side::left, c[0], tilt(c[0], c[1], true));
    lines[static_cast<std::size_t>(Side::top)] = Through(Side::top, c[1], tilt(c[1], c[2], false));
    lines[static_cast<std::size_t>(Side::right)] = Through(Side::right, c[2], tilt(c[2], c[3], true));
    lines[static_cast<std::size_t>(Side::bottom)] = Through(Side::bottom, c[3], tilt(c[3], c[0], false));
    const FrameCorners corners = IntersectSides(lines);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(corners[k].column, c[k].column, 1e-6) << kCornerNames[k];
        EXPECT_NEAR(corners[k].row, c[k].row, 1e-6) << kCornerNames[k];
    }
}

}  // namespace
}  // namespace georef::corners
