#pragma once
// A realistic sheet for the benchmarks, made in memory: sheet 40571 scanned
// at about 290 dpi (8500 x 6600 pixels, three bands, map-like content with
// paper noise), a transformation grid of 500 m cells from a smooth analytic
// map of the output frame onto the graticule (slightly rotated and bent, as
// a real projection is), the sheet's boundary polygon and the corner fit.
//
// The sheet's centre lies at output X = 1 055 000, Y = 525 000 (metres), so
// the tile with tileX = 1 050 000 and tileY = 520 000 lies wholly inside it.

#include <memory>
#include <optional>

#include "geometry/corner_fit.hpp"
#include "raster/source_raster.hpp"
#include "tiling/run_context.hpp"
#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::bench {

inline constexpr int kSheetNumber = 40571;
inline constexpr int kScanWidth = 8500;   // pixels
inline constexpr int kScanHeight = 6600;  // pixels
inline constexpr int kCoveredTileX = 1050000;  // output metres, top edge
inline constexpr int kCoveredTileY = 520000;   // output metres, east edge

class BenchScene {
public:
    BenchScene();  // writes the scan through GDAL (in memory) and reads it back

    BenchScene(const BenchScene&) = delete;
    BenchScene& operator=(const BenchScene&) = delete;

    // The run's context at dpi (TileSize and PixelSize as the run derives them).
    tiling::RunContext Context(int dpi, int threads) const;

    const transform::TransformGrid& Grid() const noexcept { return *m_grid; }
    const geometry::Matrix& A() const noexcept { return m_A; }
    const geometry::Matrix& T() const noexcept { return m_T; }
    const raster::SourceRaster& Scan() const noexcept { return *m_scan; }

private:
    std::optional<transform::TransformGrid> m_grid;
    transform::SheetBoundary m_boundary;
    geometry::Matrix m_A{2, 2};
    geometry::Matrix m_T{2, 1};
    std::unique_ptr<raster::SourceRaster> m_scan;
};

// The scene's map from the output frame (metres) to the graticule (degrees).
transform::GraticulePoint BenchGraticule(double X, double Y) noexcept;

}  // namespace georef::bench
