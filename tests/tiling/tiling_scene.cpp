#include "tiling_scene.hpp"

#include <utility>

#include "support/raster/scan_file.hpp"
#include "support/transform/config_file.hpp"

namespace georef::test {

transform::GraticulePoint SceneGraticule(double X, double Y) {
    // Y westward: the east edge (lon 34.25) at Y = 512 000, the west edge at
    // 530 000; X southward: the north edge (lat 50.0) at X = 1 043 000, the
    // south edge at 1 056 900. A slight bend keeps the grid from being affine.
    const double dX = X - 1043000.0;
    const double dY = Y - 512000.0;
    const double lon = 34.25 - dY / 72000.0 + 1e-12 * dX * dX;
    const double lat = 50.0 - dX / 111200.0 - 5e-13 * dY * dY;
    return transform::GraticulePoint{lon, lat};
}

std::uint8_t SceneScanSample(int band, int c, int r) {
    switch (band) {
        case 1:
            return static_cast<std::uint8_t>((7 * c) % 250);
        case 2:
            return static_cast<std::uint8_t>((5 * r) % 256);
        default:
            return static_cast<std::uint8_t>((c * r) % 256);
    }
}

transform::SheetBoundary MakeBoundary(std::vector<transform::OutputPoint> vertices) {
    transform::SheetBoundary boundary;
    boundary.box = transform::BoundingBoxOf(vertices);
    boundary.vertices = std::move(vertices);
    return boundary;
}

transform::BoundingBox TilingScene::SheetBox() {
    transform::BoundingBox box;
    box.minX = 1043000.0;
    box.maxX = 1056900.0;
    box.minY = 512000.0;
    box.maxY = 530000.0;
    return box;
}

TilingScene::TilingScene(const transform::BoundingBox& gridBox) {
    m_grid.emplace(AnalyticGrid(gridBox, 0.0, 500, SceneGraticule));

    // Corner file frame: y upward from the bottom edge.
    const int left = 10;
    const int right = kSceneScanWidth - 10;
    const int bottom = 10;
    const int top = kSceneScanHeight - 10;
    const geometry::CornerPoints corners = {{
        {1, static_cast<double>(left), static_cast<double>(bottom)},
        {2, static_cast<double>(left), static_cast<double>(top)},
        {3, static_cast<double>(right), static_cast<double>(top)},
        {4, static_cast<double>(right), static_cast<double>(bottom)},
    }};
    geometry::FitCorners(corners, kSceneSheet, m_A, m_T);

    const std::string scan = m_dir.File("scan.tif");
    WriteScan(scan, kSceneScanWidth, kSceneScanHeight, SceneScanSample);
    m_scan.Open(scan);
    m_scan.ReadBands();
}

tiling::RunContext TilingScene::Context(int tileSize, const transform::SheetBoundary& boundary) const {
    tiling::RunContext run;
    run.tileSize = tileSize;
    run.pixelSize = static_cast<float>(10000.0 / tileSize);
    run.sheetNumber = kSceneSheet;
    run.boundary = &boundary;
    run.grid = &*m_grid;
    run.A = &m_A;
    run.T = &m_T;
    run.source = &m_scan;
    return run;
}

}  // namespace georef::test
