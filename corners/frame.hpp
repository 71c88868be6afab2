#pragma once
// The four sides of a sheet's neat line as the corner finder handles them.
// Frame: plane pixels of the scan, column c from the left and row r from the
// top, the centre of pixel (c, r) at (c, r).

#include <array>

namespace georef::corners {

enum class Side : int { left = 0, top = 1, right = 2, bottom = 3 };

inline constexpr std::array<Side, 4> kSides = {Side::left, Side::top, Side::right, Side::bottom};

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

}  // namespace georef::corners
