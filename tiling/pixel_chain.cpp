#include "tiling/pixel_chain.hpp"

#include <limits>

namespace georef::tiling {

namespace {

// A double that truncates to a 32-bit integer without overflow.
bool TruncatesToInt32(double value) noexcept {
    return value > -2147483649.0 && value < 2147483648.0;
}

}  // namespace

PixelChain::PixelChain(const transform::TransformGrid& grid, int sheetNumber, const geometry::Matrix& A,
                       const geometry::Matrix& T, int scanHeight)
    : m_grid(grid),
      m_cellSize(static_cast<double>(grid.CellSize())),
      m_mapping(sheetNumber),
      m_inverse(A, T),
      m_scanHeight(scanHeight) {}

GridAxisPosition PixelChain::Along(double coordinate, std::int32_t origin, std::int32_t nodeCount) const noexcept {
    // As TransformGrid::Lookup: the fraction is that of coordinate / S, the
    // cell that of (coordinate - origin) / S, both truncated toward zero.
    GridAxisPosition position;
    const double scaled = coordinate / m_cellSize;
    const double offset = (coordinate - static_cast<double>(origin)) / m_cellSize;
    if (!TruncatesToInt32(scaled) || !TruncatesToInt32(offset)) {
        return position;
    }
    const std::int32_t whole = static_cast<std::int32_t>(scaled);
    position.fraction = scaled - static_cast<double>(whole);
    position.cell = static_cast<std::int32_t>(offset);
    position.inside = position.cell >= 0 && position.cell <= nodeCount - 2;
    return position;
}

GridAxisPosition PixelChain::AlongX(double X) const noexcept {
    return Along(X, m_grid.OriginX(), m_grid.NodesPerRow());
}

GridAxisPosition PixelChain::AlongY(double Y) const noexcept {
    return Along(Y, m_grid.OriginY(), m_grid.RowCount());
}

std::optional<PlanePosition> PixelChain::Map(const GridAxisPosition& alongX,
                                             const GridAxisPosition& alongY) const noexcept {
    if (!alongX.inside || !alongY.inside) {
        return std::nullopt;
    }
    const transform::GraticulePoint graticule =
        m_grid.Interpolate(alongX.cell, alongY.cell, alongX.fraction, alongY.fraction);
    double nominalX = 0.0;
    double nominalY = 0.0;
    m_mapping.NominalFromGraticule(graticule.lon, graticule.lat, nominalX, nominalY);
    double imageX = 0.0;
    double imageY = 0.0;
    m_inverse.ImageFromNominal(nominalX, nominalY, imageX, imageY);
    return PlaneFromImage(imageX, imageY, m_scanHeight);
}

void PixelChain::InterpolateAlongY(std::int32_t cellAlongX, const GridAxisPosition* alongY, int count,
                                   double* lonA, double* lonB, double* latA, double* latB) const noexcept {
    // The first two steps of TransformGrid::Interpolate, which depend on the
    // point's position along Y alone once the cell along X is fixed.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::int32_t i = cellAlongX;
    for (int k = 0; k < count; ++k) {
        const GridAxisPosition& position = alongY[k];
        if (!position.inside) {
            lonA[k] = lonB[k] = latA[k] = latB[k] = nan;
            continue;
        }
        const std::int32_t j = position.cell;
        const double fy = position.fraction;
        const transform::GraticulePoint& n00 = m_grid.Node(j, i);
        const transform::GraticulePoint& n10 = m_grid.Node(j + 1, i);
        const transform::GraticulePoint& n01 = m_grid.Node(j, i + 1);
        const transform::GraticulePoint& n11 = m_grid.Node(j + 1, i + 1);
        lonA[k] = n00.lon + (n10.lon - n00.lon) * fy;
        lonB[k] = n01.lon + (n11.lon - n01.lon) * fy;
        latA[k] = n00.lat + (n10.lat - n00.lat) * fy;
        latB[k] = n01.lat + (n11.lat - n01.lat) * fy;
    }
}

std::optional<PlanePosition> PixelChain::Map(double X, double Y) const noexcept {
    return Map(AlongX(X), AlongY(Y));
}

std::optional<PlanePosition> MapLiteral(const transform::TransformGrid& grid, int sheetNumber,
                                        const geometry::Matrix& A, const geometry::Matrix& T,
                                        int scanHeight, double X, double Y) {
    const std::optional<transform::GraticulePoint> graticule = grid.Lookup(X, Y);
    if (!graticule) {
        return std::nullopt;
    }
    geometry::Matrix lonLat(2, 1);
    lonLat(0, 0) = graticule->lon;
    lonLat(1, 0) = graticule->lat;
    const geometry::Matrix nominal = geometry::NominalFromGraticule(sheetNumber, lonLat);
    const geometry::Matrix image = geometry::ImageFromNominal(A, T, nominal);
    return PlaneFromImage(image(0, 0), image(1, 0), scanHeight);
}

}  // namespace georef::tiling
