#include "transform/transform_grid.hpp"

#include <stdexcept>
#include <string>
#include <utility>

namespace georef::transform {

TransformGrid::TransformGrid(std::int32_t originX, std::int32_t originY, std::int32_t cellSize,
                             std::int32_t nodesPerRow, std::int32_t rowCount,
                             std::vector<GraticulePoint> nodes)
    : m_originX(originX),
      m_originY(originY),
      m_cellSize(cellSize),
      m_nodesPerRow(nodesPerRow),
      m_rowCount(rowCount),
      m_nodes(std::move(nodes)) {
    if (m_cellSize < 1) {
        throw std::invalid_argument("transform grid: cell size " + std::to_string(m_cellSize) +
                                    " is not positive");
    }
    if (m_nodesPerRow < 2 || m_rowCount < 2) {
        throw std::invalid_argument("transform grid: " + std::to_string(m_nodesPerRow) + " nodes per row and " +
                                    std::to_string(m_rowCount) + " rows; at least 2 of each are needed");
    }
    if (m_originX % m_cellSize != 0 || m_originY % m_cellSize != 0) {
        throw std::invalid_argument("transform grid: origin (" + std::to_string(m_originX) + ", " +
                                    std::to_string(m_originY) + ") is not a multiple of the cell size " +
                                    std::to_string(m_cellSize));
    }
    const std::uint64_t expected =
        static_cast<std::uint64_t>(m_nodesPerRow) * static_cast<std::uint64_t>(m_rowCount);
    if (m_nodes.size() != expected) {
        throw std::invalid_argument("transform grid: " + std::to_string(m_nodes.size()) + " nodes given, " +
                                    std::to_string(expected) + " expected");
    }
}

}  // namespace georef::transform
