#pragma once
// The four sides of a sheet's neat line as the corner finder handles them.
// Frame: plane pixels of the scan, column c from the left and row r from the
// top, the centre of pixel (c, r) at (c, r).

#include <array>

#include "geometry/side.hpp"

namespace georef::corners {

using Side = geometry::Side;
using geometry::kSides;

const char* SideName(Side side) noexcept;

// Left and right sides run along rows; top and bottom along columns.
constexpr bool RunsDown(Side side) noexcept { return side == Side::left || side == Side::right; }
// +1 when the side's outward direction (away from the map) is towards
// larger columns or rows, -1 otherwise.
constexpr int Outward(Side side) noexcept { return side == Side::right || side == Side::bottom ? 1 : -1; }

// A nearly straight side: across = a + b * along, where along is the row and
// across the column for left and right sides, and the other way round for
// top and bottom (plane frame, pixels).
struct SideLine {
    double a = 0.0;
    double b = 0.0;

    double Across(double along) const noexcept { return a + b * along; }
};

struct PlanePoint {
    double column = 0.0;
    double row = 0.0;
};

// Where a left or right side's line meets a top or bottom side's line.
PlanePoint Intersect(const SideLine& downward, const SideLine& sideways) noexcept;

// The corners of the sheet in the corner file's order LD, LH, PH, PD, each
// as the pair of sides that meet there (the downward side first).
struct CornerSides {
    Side downward;
    Side sideways;
};
inline constexpr std::array<CornerSides, 4> kCornerSides = {
    CornerSides{Side::left, Side::bottom}, CornerSides{Side::left, Side::top},
    CornerSides{Side::right, Side::top}, CornerSides{Side::right, Side::bottom}};
inline constexpr std::array<const char*, 4> kCornerNames = {"LD", "LH", "PH", "PD"};

// Which end of a side a corner lies at: 0 at the end with the smaller along
// coordinate (the top end of a left or right side, the left end of a top or
// bottom side), 1 at the other.
constexpr int EndOfDownwardSide(CornerSides corner) noexcept { return corner.sideways == Side::top ? 0 : 1; }
constexpr int EndOfSidewaysSide(CornerSides corner) noexcept { return corner.downward == Side::left ? 0 : 1; }

// A frame's side lines, one per side (Side order).
using SideLines = std::array<SideLine, 4>;
// A frame's side lines, one near each end of each side (Side order; end
// [0] at the smaller along coordinate).
using SideEndLines = std::array<std::array<SideLine, 2>, 4>;
// The frame's corners LD, LH, PH, PD, plane frame.
using FrameCorners = std::array<PlanePoint, 4>;

// The four corners where the sides' lines meet.
FrameCorners IntersectSides(const SideLines& lines) noexcept;
// The four corners where the lines near the ends of the sides meet: each
// corner from the two lines measured next to it.
FrameCorners IntersectSides(const SideEndLines& lines) noexcept;

}  // namespace georef::corners
