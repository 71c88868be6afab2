#pragma once
// A complete run for the tiling tests, small enough to render literally:
// sheet 40571 (lon 34.0 .. 34.25, lat 49.875 .. 50.0), a 120 x 100 pixel
// scan written through GDAL with its corners fitted 10 pixels inside its
// edges, and a gently curved graticule over the output frame that puts the
// sheet at X 1 043 000 .. 1 056 900, Y 512 000 .. 530 000 (metres).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "geometry/corner_fit.hpp"
#include "raster/source_raster.hpp"
#include "support/temp_dir.hpp"
#include "tiling/run_context.hpp"
#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::test {

inline constexpr int kSceneSheet = 40571;
inline constexpr int kSceneScanWidth = 120;
inline constexpr int kSceneScanHeight = 100;

// Graticule point of an output point in the scene (degrees).
transform::GraticulePoint SceneGraticule(double X, double Y);

// Sample of band 1..3 of the scene's scan at column c, row r (row 0 at the
// top): never white, and different for neighbouring pixels.
std::uint8_t SceneScanSample(int band, int c, int r);

// Builds a boundary (vertices in order) with its bounding box.
transform::SheetBoundary MakeBoundary(std::vector<transform::OutputPoint> vertices);

class TilingScene {
public:
    // The grid covers gridBox (output metres) with 500 m cells.
    explicit TilingScene(const transform::BoundingBox& gridBox = SheetBox());

    static transform::BoundingBox SheetBox();

    // The run's context for the given tile edge, with this scene's boundary.
    tiling::RunContext Context(int tileSize, const transform::SheetBoundary& boundary) const;

    const TempDir& Directory() const noexcept { return m_dir; }
    const transform::TransformGrid& Grid() const noexcept { return *m_grid; }
    const geometry::Matrix& A() const noexcept { return m_A; }
    const geometry::Matrix& T() const noexcept { return m_T; }
    const raster::SourceRaster& Scan() const noexcept { return m_scan; }

private:
    TempDir m_dir;
    std::optional<transform::TransformGrid> m_grid;
    geometry::Matrix m_A{6, 6};
    geometry::Matrix m_T{6, 6};
    raster::SourceRaster m_scan;
};

}  // namespace georef::test
