#include "transform/sheet_boundary.hpp"

namespace georef::transform {

BoundingBox BoundingBoxOf(const std::vector<OutputPoint>& vertices) noexcept {
    BoundingBox box;
    for (const OutputPoint& v : vertices) {
        // Four separate tests in this order, as the tile loop relies on the
        // sentinels surviving an empty boundary (and NaN never updating).
        if (box.minX > v.X) {
            box.minX = v.X;
        }
        if (v.X > box.maxX) {
            box.maxX = v.X;
        }
        if (box.minY > v.Y) {
            box.minY = v.Y;
        }
        if (v.Y > box.maxY) {
            box.maxY = v.Y;
        }
    }
    return box;
}

}  // namespace georef::transform
