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

}  // namespace georef::corners
