#include "corners/frame.hpp"

namespace georef::corners {

const char* SideName(Side side) noexcept {
    switch (side) {
        case Side::left:
            return "left side";
        case Side::top:
            return "top side";
        case Side::right:
            return "right side";
        case Side::bottom:
            return "bottom side";
    }
    return "side";
}

PlanePoint Intersect(const SideLine& downward, const SideLine& sideways) noexcept {
    // column = a1 + b1 * row and row = a2 + b2 * column; |b1 b2| is tiny.
    const double column = (downward.a + downward.b * sideways.a) / (1.0 - downward.b * sideways.b);
    return {column, sideways.Across(column)};
}

FrameCorners IntersectSides(const SideLines& lines) noexcept {
    SideEndLines ends;
    for (Side side : kSides) {
        ends[static_cast<std::size_t>(side)] = {lines[static_cast<std::size_t>(side)],
                                                 lines[static_cast<std::size_t>(side)]};
    }
    return IntersectSides(ends);
}

FrameCorners IntersectSides(const SideEndLines& lines) noexcept {
    FrameCorners corners;
    for (std::size_t k = 0; k < corners.size(); ++k) {
        const CornerSides sides = kCornerSides[k];
        const SideLine& downward = lines[static_cast<std::size_t>(sides.downward)]
                                        [static_cast<std::size_t>(EndOfDownwardSide(sides))];
        const SideLine& sideways = lines[static_cast<std::size_t>(sides.sideways)]
                                        [static_cast<std::size_t>(EndOfSidewaysSide(sides))];
        corners[k] = Intersect(downward, sideways);
    }
    return corners;
}

}  // namespace georef::corners
