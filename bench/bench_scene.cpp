#include "bench/bench_scene.hpp"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <cpl_vsi.h>
#include <gdal.h>

#include "driver/run_parameters.hpp"
#include "geometry/sheet_geometry.hpp"

namespace georef::bench {

namespace {

// Output frame of the sheet's centre (metres) and the graticule there.
constexpr double kCentreX = 1055000.0;
constexpr double kCentreY = 525000.0;
constexpr double kCentreLon = 34.125;
constexpr double kCentreLat = 49.9375;
constexpr double kMetresPerDegreeLat = 111200.0;
constexpr double kMetresPerDegreeLon = 71660.0;  // at 49.94 degrees north
constexpr double kRotation = 0.05;               // radians between grid north and the output axes

// Grid of 500 m cells over the sheet and a margin of 6 km.
constexpr std::int32_t kCellSize = 500;
constexpr std::int32_t kGridOriginX = 1040000;
constexpr std::int32_t kGridOriginY = 510000;
constexpr std::int32_t kGridNodes = 61;  // per row and rows: 30 km

// Output point of a graticule point, the affine part of BenchGraticule
// inverted (the bend is left out: the boundary lies within metres of it).
transform::OutputPoint OutputOf(double lon, double lat) noexcept {
    const double east = (lon - kCentreLon) * kMetresPerDegreeLon;
    const double north = (lat - kCentreLat) * kMetresPerDegreeLat;
    const double c = std::cos(kRotation);
    const double s = std::sin(kRotation);
    const double e = east * c + north * s;
    const double n = -east * s + north * c;
    return transform::OutputPoint{kCentreX - n, kCentreY - e};
}

// The sheet's neat line in the output frame, 16 vertices per side, closed.
std::vector<transform::OutputPoint> SheetOutline() {
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(kSheetNumber);
    const int steps = 16;
    std::vector<transform::OutputPoint> vertices;
    for (int k = 0; k < steps; ++k) {  // west edge, south to north
        vertices.push_back(OutputOf(g.lonWest, g.latSouth + (g.latNorth - g.latSouth) * k / steps));
    }
    for (int k = 0; k < steps; ++k) {  // north edge, west to east
        vertices.push_back(OutputOf(g.lonWest + (g.lonEast - g.lonWest) * k / steps, g.latNorth));
    }
    for (int k = 0; k < steps; ++k) {  // east edge, north to south
        vertices.push_back(OutputOf(g.lonEast, g.latNorth - (g.latNorth - g.latSouth) * k / steps));
    }
    for (int k = 0; k < steps; ++k) {  // south edge, east to west
        vertices.push_back(OutputOf(g.lonEast - (g.lonEast - g.lonWest) * k / steps, g.latSouth));
    }
    vertices.push_back(vertices.front());
    return vertices;
}

// A map-like colour at scan pixel (column c, row r): cream paper with a
// little noise, brown contour lines, green patches, a blue river and black
// crosses every 800 pixels.
void ScanColour(int c, int r, std::uint8_t rgb[3]) noexcept {
    std::uint32_t h = static_cast<std::uint32_t>(c) * 73856093u ^ static_cast<std::uint32_t>(r) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const int noise = static_cast<int>(h % 9u) - 4;  // paper texture, +-4
    int red = 245;
    int green = 238;
    int blue = 220;
    const double x = c * 0.0021;
    const double y = r * 0.0017;
    const double height = std::sin(x) * std::cos(y * 1.3) + 0.5 * std::sin(x * 2.1 + y * 0.7);
    const double level = height * 8.0;
    if (std::fabs(level - std::round(level)) < 0.035) {  // contour lines
        red = 170;
        green = 110;
        blue = 60;
    } else if (std::sin(x * 3.0) * std::sin(y * 2.6) > 0.55) {  // forest
        red = 190;
        green = 225;
        blue = 170;
    }
    if (std::fabs(r - 3300.0 - 900.0 * std::sin(c * 0.0011)) < 5.0) {  // river
        red = 60;
        green = 110;
        blue = 200;
    }
    if ((c % 800 < 2 && r % 800 < 40) || (r % 800 < 2 && c % 800 < 40)) {  // crosses
        red = green = blue = 20;
    }
    const auto clamp = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
    rgb[0] = clamp(red + noise);
    rgb[1] = clamp(green + noise);
    rgb[2] = clamp(blue + noise);
}

// Writes the scan as a pixel-interleaved TIFF into GDAL's in-memory file
// system, a band of rows at a time.
void WriteScan(const std::string& path) {
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (driver == nullptr) {
        throw std::runtime_error("GDAL has no GTiff driver");
    }
    char* options[] = {const_cast<char*>("INTERLEAVE=PIXEL"), nullptr};
    GDALDatasetH dataset = GDALCreate(driver, path.c_str(), kScanWidth, kScanHeight, 3, GDT_Byte, options);
    if (dataset == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    const int rowsPerBlock = 64;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(kScanWidth) * rowsPerBlock * 3);
    CPLErr result = CE_None;
    for (int first = 0; first < kScanHeight && result == CE_None; first += rowsPerBlock) {
        const int count = std::min(rowsPerBlock, kScanHeight - first);
        for (int r = 0; r < count; ++r) {
            for (int c = 0; c < kScanWidth; ++c) {
                ScanColour(c, first + r, &rows[(static_cast<std::size_t>(r) * kScanWidth + c) * 3]);
            }
        }
        result = GDALDatasetRasterIO(dataset, GF_Write, 0, first, kScanWidth, count, rows.data(), kScanWidth,
                                     count, GDT_Byte, 3, nullptr, 3, 3 * kScanWidth, 1);
    }
    GDALClose(dataset);
    if (result != CE_None) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

transform::GraticulePoint BenchGraticule(double X, double Y) noexcept {
    const double n = kCentreX - X;  // north of the centre, metres
    const double e = kCentreY - Y;  // east of the centre, metres
    const double c = std::cos(kRotation);
    const double s = std::sin(kRotation);
    const double east = e * c - n * s;
    const double north = e * s + n * c;
    // A gentle bend, a few metres at the sheet's corners, as a projection has.
    const double lon = kCentreLon + east / kMetresPerDegreeLon + 2e-13 * north * north;
    const double lat = kCentreLat + north / kMetresPerDegreeLat - 1e-13 * east * east;
    return transform::GraticulePoint{lon, lat};
}

BenchScene::BenchScene() {
    std::vector<transform::GraticulePoint> nodes;
    nodes.reserve(static_cast<std::size_t>(kGridNodes) * kGridNodes);
    for (std::int32_t r = 0; r < kGridNodes; ++r) {
        for (std::int32_t k = 0; k < kGridNodes; ++k) {
            nodes.push_back(BenchGraticule(kGridOriginX + k * kCellSize, kGridOriginY + r * kCellSize));
        }
    }
    m_grid.emplace(kGridOriginX, kGridOriginY, kCellSize, kGridNodes, kGridNodes, std::move(nodes));

    m_boundary.vertices = SheetOutline();
    m_boundary.box = transform::BoundingBoxOf(m_boundary.vertices);

    // Corners as measured on a slightly skewed scan (image frame: y upward).
    const geometry::CornerPoints corners = {{
        {1, 152.0, 148.0},
        {2, 171.5, 6452.0},
        {3, 8349.0, 6437.5},
        {4, 8331.0, 133.0},
    }};
    geometry::FitCorners(corners, kSheetNumber, m_A, m_T);

    m_scan = std::make_unique<raster::SourceRaster>();
    const std::string path = "/vsimem/georef-bench-scan.tif";
    WriteScan(path);
    m_scan->Open(path);
    m_scan->ReadBands();
    m_scan->Close();
    VSIUnlink(path.c_str());
}

tiling::RunContext BenchScene::Context(int dpi, int threads) const {
    tiling::RunContext run;
    run.tileSize = driver::TileSizeFromDpi(dpi);
    run.pixelSize = driver::PixelSizeFromTileSize(run.tileSize);
    run.sheetNumber = kSheetNumber;
    run.boundary = &m_boundary;
    run.grid = &*m_grid;
    run.A = &m_A;
    run.T = &m_T;
    run.source = m_scan.get();
    run.threads = threads;
    return run;
}

}  // namespace georef::bench
