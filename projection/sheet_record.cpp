#include "projection/sheet_record.hpp"

#include <cmath>
#include <string>
#include <utility>

#include "geometry/sheet_geometry.hpp"
#include "platform/failure.hpp"

namespace georef::projection {

namespace {

// Distance in metres of p from the straight segment a-b (output frame).
double DistanceFromChord(const transform::OutputPoint& p, const transform::OutputPoint& a,
                         const transform::OutputPoint& b) noexcept {
    const double dx = b.X - a.X;
    const double dy = b.Y - a.Y;
    const double length2 = dx * dx + dy * dy;
    double t = 0.0;
    if (length2 > 0.0) {
        t = ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / length2;
        t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
    }
    const double ex = p.X - (a.X + t * dx);
    const double ey = p.Y - (a.Y + t * dy);
    return std::hypot(ex, ey);
}

// One edge of the graticule rectangle, from (lon0, lat0) to (lon1, lat1),
// parametrised by t in 0..1 linearly in degrees.
struct GraticuleEdge {
    double lon0, lat0, lon1, lat1;

    transform::OutputPoint At(double t, ProjTransformer& proj) const {
        return proj.OutputFromGraticule(lon0 + (lon1 - lon0) * t, lat0 + (lat1 - lat0) * t);
    }
};

constexpr int kMinDepth = 4;    // at least 16 pieces per edge
constexpr int kMaxDepth = 24;   // pieces of 1/16M of an edge: a few millimetres

// Appends the vertices strictly after t0 up to and including t1.
void Densify(const GraticuleEdge& edge, ProjTransformer& proj, double t0, const transform::OutputPoint& p0,
             double t1, const transform::OutputPoint& p1, double midpointTolerance, int depth,
             std::vector<transform::OutputPoint>& out) {
    const double tm = 0.5 * (t0 + t1);
    const transform::OutputPoint pm = edge.At(tm, proj);
    if (depth < kMinDepth || (depth < kMaxDepth && DistanceFromChord(pm, p0, p1) > midpointTolerance)) {
        Densify(edge, proj, t0, p0, tm, pm, midpointTolerance, depth + 1, out);
        Densify(edge, proj, tm, pm, t1, p1, midpointTolerance, depth + 1, out);
        return;
    }
    out.push_back(p1);
}

std::int64_t FloorToMultiple(double value, std::int64_t step) {
    return static_cast<std::int64_t>(std::floor(value / static_cast<double>(step))) * step;
}

}  // namespace

std::vector<transform::OutputPoint> BuildSheetBoundary(int sheetNumber, ProjTransformer& proj,
                                                       double maxChordError) {
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheetNumber);
    // Around the sheet: SW -> NW -> NE -> SE -> back to SW.
    const GraticuleEdge edges[4] = {
        {g.lonWest, g.latSouth, g.lonWest, g.latNorth},
        {g.lonWest, g.latNorth, g.lonEast, g.latNorth},
        {g.lonEast, g.latNorth, g.lonEast, g.latSouth},
        {g.lonEast, g.latSouth, g.lonWest, g.latSouth},
    };
    // Checking the midpoint at half the bound leaves room for the largest
    // departure lying off the midpoint on a gently curved piece.
    const double midpointTolerance = 0.5 * maxChordError;
    std::vector<transform::OutputPoint> vertices;
    vertices.push_back(edges[0].At(0.0, proj));
    for (const GraticuleEdge& edge : edges) {
        const transform::OutputPoint start = vertices.back();
        const transform::OutputPoint end = edge.At(1.0, proj);
        Densify(edge, proj, 0.0, start, 1.0, end, midpointTolerance, 0, vertices);
    }
    vertices.pop_back();  // the last edge ends where the first began
    return vertices;
}

transform::TransformGrid BuildTransformGrid(const transform::BoundingBox& box, std::int32_t cellSize,
                                            ProjTransformer& proj) {
    if (cellSize < 1) {
        throw Failure("the cell size must be at least 1 metre");
    }
    if (!(box.minX <= box.maxX) || !(box.minY <= box.maxY)) {
        throw Failure("the sheet boundary is empty");
    }
    const std::int64_t S = cellSize;
    const std::int64_t firstX = FloorToMultiple(box.minX, S) - S;
    const std::int64_t firstY = FloorToMultiple(box.minY, S) - S;
    const std::int64_t lastX = FloorToMultiple(box.maxX, S) + 2 * S;
    const std::int64_t lastY = FloorToMultiple(box.maxY, S) + 2 * S;
    if (box.minX < 0.0 || box.minY < 0.0) {
        throw Failure("the sheet lies at negative output coordinates (X = -northing, Y = -easting); "
                      "georef needs X and Y above 0, as S-JTSK gives them");
    }
    if (firstX < 0 || firstY < 0) {
        // The sheet is at positive X and Y; its margin of one cell is not.
        throw Failure("the grid's margin of one cell (" + std::to_string(cellSize) +
                      " m) beyond the sheet would reach below X = 0 or Y = 0 (the sheet starts at X " +
                      std::to_string(static_cast<long long>(std::floor(box.minX))) + ", Y " +
                      std::to_string(static_cast<long long>(std::floor(box.minY))) + "); choose a smaller --cell");
    }
    if (lastX > INT32_MAX || lastY > INT32_MAX) {
        throw Failure("the sheet lies beyond the 32-bit output coordinates of config.bin");
    }
    const std::int64_t nodesPerRow = (lastX - firstX) / S + 1;
    const std::int64_t rowCount = (lastY - firstY) / S + 1;
    if (nodesPerRow * rowCount > 50'000'000) {
        throw Failure("the grid would hold " + std::to_string(nodesPerRow * rowCount) +
                      " nodes; choose a larger cell size");
    }
    std::vector<transform::GraticulePoint> nodes;
    nodes.reserve(static_cast<std::size_t>(nodesPerRow * rowCount));
    for (std::int64_t r = 0; r < rowCount; ++r) {
        const double Y = static_cast<double>(firstY + r * S);
        for (std::int64_t k = 0; k < nodesPerRow; ++k) {
            const double X = static_cast<double>(firstX + k * S);
            nodes.push_back(proj.GraticuleFromOutput(X, Y));
        }
    }
    return transform::TransformGrid(static_cast<std::int32_t>(firstX), static_cast<std::int32_t>(firstY),
                                    cellSize, static_cast<std::int32_t>(nodesPerRow),
                                    static_cast<std::int32_t>(rowCount), std::move(nodes));
}

transform::SheetRecord BuildSheetRecord(int sheetNumber, std::int32_t cellSize, ProjTransformer& proj) {
    std::vector<transform::OutputPoint> boundary = BuildSheetBoundary(sheetNumber, proj);
    const transform::BoundingBox box = transform::BoundingBoxOf(boundary);
    transform::TransformGrid grid = BuildTransformGrid(box, cellSize, proj);
    return transform::SheetRecord{sheetNumber, std::move(boundary), {}, std::move(grid)};
}

}  // namespace georef::projection
