#pragma once
// A regular grid of graticule coordinates (longitude, latitude in degrees)
// over the output frame (metres). Node k of row r belongs to the output point
// X = originX + k * cellSize, Y = originY + r * cellSize: a row runs along X
// and consecutive rows step along Y.

#include <cstdint>
#include <optional>
#include <vector>

namespace georef::transform {

struct GraticulePoint {
    double lon = 0.0;  // degrees
    double lat = 0.0;  // degrees
};

class TransformGrid {
public:
    // nodes holds rowCount * nodesPerRow points, row 0 first.
    // Requires cellSize >= 1, nodesPerRow >= 2, rowCount >= 2 and a matching
    // node count (the reader checks them); throws std::invalid_argument.
    TransformGrid(std::int32_t originX, std::int32_t originY, std::int32_t cellSize,
                  std::int32_t nodesPerRow, std::int32_t rowCount,
                  std::vector<GraticulePoint> nodes);

    std::int32_t OriginX() const noexcept { return m_originX; }
    std::int32_t OriginY() const noexcept { return m_originY; }
    std::int32_t CellSize() const noexcept { return m_cellSize; }
    std::int32_t NodesPerRow() const noexcept { return m_nodesPerRow; }
    std::int32_t RowCount() const noexcept { return m_rowCount; }
    const GraticulePoint& Node(std::int32_t row, std::int32_t node) const noexcept {
        return m_nodes[static_cast<std::size_t>(row) * static_cast<std::size_t>(m_nodesPerRow) +
                       static_cast<std::size_t>(node)];
    }

    // Graticule point of output point (X, Y): cell i along X, j along Y, with
    // the fractions of X / cellSize and Y / cellSize. Empty when the four
    // nodes of the cell do not all exist (the point is outside the grid).
    std::optional<GraticulePoint> Lookup(double X, double Y) const noexcept;

    // Bilinear interpolation in cell (i, j): along Y between rows j and j + 1
    // first, then along X. Requires 0 <= i <= nodesPerRow - 2 and
    // 0 <= j <= rowCount - 2.
    GraticulePoint Interpolate(std::int32_t i, std::int32_t j, double fx, double fy) const noexcept;

private:
    std::int32_t m_originX;
    std::int32_t m_originY;
    std::int32_t m_cellSize;
    std::int32_t m_nodesPerRow;
    std::int32_t m_rowCount;
    std::vector<GraticulePoint> m_nodes;
};

}  // namespace georef::transform
