#pragma once
// The road of one output pixel back into the scan:
//   output frame (X, Y metres; X southward, Y westward)
//   -> graticule (lon, lat degrees), bilinear in the transformation grid
//   -> nominal frame (metres from the cell centre, x east, y north)
//   -> image frame (scan pixels, x right, y upward from the bottom edge)
//   -> plane position (u = column, v = row counted downward from the top),
//      the position TileImage::SamplePixel takes.

#include <cstdint>
#include <optional>

#include "geometry/corner_fit.hpp"
#include "geometry/sheet_geometry.hpp"
#include "transform/transform_grid.hpp"

namespace georef::tiling {

// Sampling position in the scan, pixels (plane frame: row 0 at the top).
struct PlanePosition {
    double u = 0.0;  // column position
    double v = 0.0;  // row position
};

// Where a coordinate falls along one axis of the transformation grid: the
// cell index and the fraction that TransformGrid::Lookup derives from that
// coordinate alone. X gives the node index i and fx, Y the row index j and fy.
struct GridAxisPosition {
    std::int32_t cell = 0;
    double fraction = 0.0;
    bool inside = false;  // both nodes of the cell exist along this axis
};

// Everything of the chain that stays fixed for a run: the grid, the sheet's
// graticule and nominal corners, the inverse of the corner fit and the height
// of the scan. Gives bit-identical results to the chain that rebuilds its
// matrices for every pixel (MapLiteral).
class PixelChain {
public:
    // Keeps a reference to grid, which must outlive the chain. Throws
    // math::matrix_error when A is singular.
    PixelChain(const transform::TransformGrid& grid, int sheetNumber, const geometry::Matrix& A,
               const geometry::Matrix& T, int scanHeight);

    // Plane position of output point (X, Y); empty when the grid has not all
    // four nodes of the cell there.
    std::optional<PlanePosition> Map(double X, double Y) const noexcept;

    // The same in two halves, so that a tile derives the X part once per row
    // and the Y part once per column.
    GridAxisPosition AlongX(double X) const noexcept;
    GridAxisPosition AlongY(double Y) const noexcept;
    std::optional<PlanePosition> Map(const GridAxisPosition& alongX,
                                     const GridAxisPosition& alongY) const noexcept;

    // The grid interpolated along Y for a row of points that share the grid
    // cell `cellAlongX` along X (that cell must lie inside the grid): for
    // point k at alongY[k], lonA[k] and lonB[k] are the longitudes at grid
    // nodes cellAlongX and cellAlongX + 1, latA and latB the latitudes, so
    // that lonA + (lonB - lonA) * fx is Lookup's longitude for a point with
    // fraction fx along X. Points outside the grid along Y get NaN.
    void InterpolateAlongY(std::int32_t cellAlongX, const GridAxisPosition* alongY, int count, double* lonA,
                           double* lonB, double* latA, double* latB) const noexcept;

    const geometry::SheetMapping& Mapping() const noexcept { return m_mapping; }
    const geometry::InverseFit& Inverse() const noexcept { return m_inverse; }
    int ScanHeight() const noexcept { return m_scanHeight; }

private:
    GridAxisPosition Along(double coordinate, std::int32_t origin, std::int32_t nodeCount) const noexcept;

    const transform::TransformGrid& m_grid;
    double m_cellSize;  // metres
    geometry::SheetMapping m_mapping;
    geometry::InverseFit m_inverse;
    int m_scanHeight;  // pixels
};

// The chain step by step as a single pixel needs it, with new matrices at
// every step (graticule point, nominal point, difference, inverse of A, image
// point). The reference that PixelChain is held to.
std::optional<PlanePosition> MapLiteral(const transform::TransformGrid& grid, int sheetNumber,
                                        const geometry::Matrix& A, const geometry::Matrix& T,
                                        int scanHeight, double X, double Y);

// Image frame (y upward from the bottom edge) to plane position (rows
// downward from the top), offsets included.
inline PlanePosition PlaneFromImage(double x, double y, int scanHeight) noexcept {
    const double u = x + 0.5;
    const double v = (static_cast<double>(scanHeight) - y) - 1.5;
    return PlanePosition{u, v};
}

}  // namespace georef::tiling
