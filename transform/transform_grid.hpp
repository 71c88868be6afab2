#pragma once
// A regular grid of graticule coordinates (longitude, latitude in degrees)
// over the output frame (metres; X southward, Y westward). Node k of row r
// belongs to the output point X = originX + k * cellSize,
// Y = originY + r * cellSize: a row runs along X and consecutive rows step
// along Y.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "transform/sheet_boundary.hpp"

namespace georef::transform {

struct GraticulePoint {
    double lon = 0.0;  // degrees
    double lat = 0.0;  // degrees
};

class TransformGrid {
public:
    // nodes holds rowCount * nodesPerRow points, row 0 first, node 0 first
    // within a row. Requires cellSize >= 1, nodesPerRow >= 2, rowCount >= 2,
    // originX and originY whole multiples of cellSize, and a matching node
    // count; throws std::invalid_argument otherwise.
    TransformGrid(std::int32_t originX, std::int32_t originY, std::int32_t cellSize,
                  std::int32_t nodesPerRow, std::int32_t rowCount,
                  std::vector<GraticulePoint> nodes);

    std::int32_t OriginX() const noexcept { return m_originX; }    // metres, output frame
    std::int32_t OriginY() const noexcept { return m_originY; }    // metres, output frame
    std::int32_t CellSize() const noexcept { return m_cellSize; }  // metres
    std::int32_t NodesPerRow() const noexcept { return m_nodesPerRow; }
    std::int32_t RowCount() const noexcept { return m_rowCount; }
    const std::vector<GraticulePoint>& Nodes() const noexcept { return m_nodes; }

    // Node `node` of row `row`; both must lie inside the grid.
    const GraticulePoint& Node(std::int32_t row, std::int32_t node) const noexcept {
        return m_nodes[static_cast<std::size_t>(row) * static_cast<std::size_t>(m_nodesPerRow) +
                       static_cast<std::size_t>(node)];
    }

    // End of the grid's reach along X and Y (metres, output frame): the far
    // nodes, origin + cellSize * (nodes - 1). A point needs X < EndX() and
    // Y < EndY() to have all four nodes of its cell.
    double EndX() const noexcept {
        return static_cast<double>(static_cast<std::int64_t>(m_originX) +
                                   static_cast<std::int64_t>(m_cellSize) * (m_nodesPerRow - 1));
    }
    double EndY() const noexcept {
        return static_cast<double>(static_cast<std::int64_t>(m_originY) +
                                   static_cast<std::int64_t>(m_cellSize) * (m_rowCount - 1));
    }

    // True when every point of the box has all four nodes of its cell
    // (originX <= minX, maxX < EndX(), the same along Y), or the box is empty.
    // A boundary whose box the grid does not cover belongs to a damaged
    // file: it cannot be mapped, and one vertex far out would send a run over
    // thousands of tiles.
    bool Covers(const BoundingBox& box) const noexcept {
        if (box.minX > box.maxX || box.minY > box.maxY) {
            return true;
        }
        return box.minX >= static_cast<double>(m_originX) && box.maxX < EndX() &&
               box.minY >= static_cast<double>(m_originY) && box.maxY < EndY();
    }

    // Graticule point of output point (X, Y), metres. The cell is
    // i = trunc((X - originX) / cellSize) along X and
    // j = trunc((Y - originY) / cellSize) along Y; the fractions are those of
    // X / cellSize and Y / cellSize (positions inside the cell because the
    // origin is a multiple of the cell size). Truncation is toward zero, so a
    // point less than one cell before the origin still falls into cell 0.
    // Empty when the four nodes of the cell do not all exist: the point lies
    // outside the grid (this includes the far edges of the grid themselves,
    // where i = nodesPerRow - 1 or j = rowCount - 1) or is not finite.
    // Constant work, no allocation: it runs for every painted pixel.
    std::optional<GraticulePoint> Lookup(double X, double Y) const noexcept {
        const double S = static_cast<double>(m_cellSize);
        const double qx = X / S;
        const double qy = Y / S;
        const double px = (X - static_cast<double>(m_originX)) / S;
        const double py = (Y - static_cast<double>(m_originY)) / S;
        if (!FitsInt32(qx) || !FitsInt32(qy) || !FitsInt32(px) || !FitsInt32(py)) {
            return std::nullopt;  // far outside any grid, or NaN
        }
        const double fx = qx - static_cast<double>(static_cast<std::int32_t>(qx));
        const double fy = qy - static_cast<double>(static_cast<std::int32_t>(qy));
        const std::int32_t i = static_cast<std::int32_t>(px);
        const std::int32_t j = static_cast<std::int32_t>(py);
        if (i < 0 || i > m_nodesPerRow - 2 || j < 0 || j > m_rowCount - 2) {
            return std::nullopt;
        }
        return Interpolate(i, j, fx, fy);
    }

    // Bilinear interpolation in cell (i, j), for longitude and latitude alike:
    // along Y between rows j and j + 1 at nodes i and i + 1 first, then along
    // X between the two. The order of operations is part of the result.
    // Requires 0 <= i <= nodesPerRow - 2 and 0 <= j <= rowCount - 2.
    GraticulePoint Interpolate(std::int32_t i, std::int32_t j, double fx, double fy) const noexcept {
        const GraticulePoint& n00 = Node(j, i);
        const GraticulePoint& n10 = Node(j + 1, i);
        const GraticulePoint& n01 = Node(j, i + 1);
        const GraticulePoint& n11 = Node(j + 1, i + 1);
        GraticulePoint result;
        {
            const double a = n00.lon + (n10.lon - n00.lon) * fy;
            const double b = n01.lon + (n11.lon - n01.lon) * fy;
            result.lon = a + (b - a) * fx;
        }
        {
            const double a = n00.lat + (n10.lat - n00.lat) * fy;
            const double b = n01.lat + (n11.lat - n01.lat) * fy;
            result.lat = a + (b - a) * fx;
        }
        return result;
    }

private:
    // True when truncating value toward zero gives a 32-bit integer; false
    // for NaN. Converting anything else to int would be undefined.
    static bool FitsInt32(double value) noexcept {
        return value > -2147483649.0 && value < 2147483648.0;
    }

    std::int32_t m_originX;
    std::int32_t m_originY;
    std::int32_t m_cellSize;
    std::int32_t m_nodesPerRow;
    std::int32_t m_rowCount;
    std::vector<GraticulePoint> m_nodes;  // row-major: row r, node k at r * nodesPerRow + k
};

}  // namespace georef::transform
