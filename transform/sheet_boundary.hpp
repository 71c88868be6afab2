#pragma once
// The polygon a sheet covers, in the output frame (metres; X southward,
// Y westward). Closed implicitly: the last vertex joins the first.

#include <vector>

namespace georef::transform {

struct OutputPoint {
    double X = 0.0;
    double Y = 0.0;
};

// Extent of the boundary's vertices. With no vertex the sentinels stay.
struct BoundingBox {
    double minX = 999999999.0;
    double maxX = -999999999.0;
    double minY = 999999999.0;
    double maxY = -999999999.0;
};

struct SheetBoundary {
    std::vector<OutputPoint> vertices;  // file order
    BoundingBox box;
};

// The bounding box of the vertices, updated vertex by vertex in file order.
BoundingBox BoundingBoxOf(const std::vector<OutputPoint>& vertices) noexcept;

}  // namespace georef::transform
