// A config.bin written by georef-config drives a whole georef run over a
// synthetic scan; the scan's graticule crosses and neat line must land in
// the tiles where PROJ puts them, within one output pixel.

#include <gtest/gtest.h>

#include <cmath>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "geometry/sheet_geometry.hpp"
#include "projection/proj_transformer.hpp"
#include "support/process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/demo_scan.hpp"
#include "tools/config_tool.hpp"

namespace georef::tools {
namespace {

using projection::ProjSettings;
using projection::ProjTransformer;
using synthesis::DemoCrosses;
using synthesis::DemoScan;
using synthesis::DemoScanOptions;
using synthesis::WriteDemoScan;

constexpr int kSheet = 40571;
constexpr int kDpi = 100;

struct Tile {
    double tileX = 0.0;      // top edge, output X metres
    double tileY = 0.0;      // east edge, output Y metres
    double pixelSize = 0.0;  // metres
    test::JpegImage image;

    // Continuous pixel position (row, column) of output point (X, Y): pixel
    // (i, m) is the point X = tileX + i * size, Y = tileY + 10000 - m * size.
    double Row(double X) const { return (X - tileX) / pixelSize; }
    double Column(double Y) const { return (tileY + 10000.0 - Y) / pixelSize; }
    bool Contains(double row, double column) const {
        return row >= 0 && column >= 0 && row < image.height && column < image.width;
    }
    bool Dark(int row, int column) const {
        const test::Rgb c = image.At(column, row);
        return c.r < 100 && c.g < 100 && c.b < 100;
    }
};

// Every tile of the directory, placed by its world file (easting = -Y,
// northing = -X of the outer corner of the top-left pixel).
std::vector<Tile> ReadTiles(const std::string& directory) {
    std::vector<Tile> tiles;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return tiles;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".jgw") {
            continue;
        }
        std::ifstream world(directory + "/" + name);
        double values[6] = {};
        for (double& v : values) {
            world >> v;
        }
        Tile tile;
        tile.pixelSize = values[0];
        tile.tileY = -values[4] - 10000.0;
        tile.tileX = -values[5];
        tile.image = test::ReadJpeg(directory + "/" + name.substr(0, name.size() - 4) + ".jpg");
        tiles.push_back(std::move(tile));
    }
    closedir(dir);
    return tiles;
}

const Tile* TileAt(const std::vector<Tile>& tiles, double X, double Y) {
    for (const Tile& t : tiles) {
        if (X >= t.tileX && X < t.tileX + 10000.0 && Y >= t.tileY && Y < t.tileY + 10000.0) {
            return &t;
        }
    }
    return nullptr;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        DemoScanOptions options;
        options.dpi = 120.0;
        options.rotationDegrees = -0.8;
        const DemoScan scan = WriteDemoScan(kSheet, m_dir.File("scan.jpg"), options);
        geometry::WriteCornerFile(m_dir.File("corners.txt"), scan.corners, geometry::CornerPrecision::exact);

        const std::string config = m_dir.File("config.bin");
        const char* argv[] = {"georef-config", "40571", "-o", config.c_str()};
        std::ostringstream out, err;
        ASSERT_EQ(RunConfigTool(4, argv, out, err), 0) << err.str();

        ASSERT_EQ(mkdir(m_dir.File("out").c_str(), 0755), 0);
        const test::ProcessResult run =
            test::RunGeoref({"40571", "corners.txt", "scan.jpg", "out", std::to_string(kDpi)}, m_dir.Path());
        ASSERT_EQ(run.exitStatus, 0) << run.out.substr(0, 2000) << run.err;
        ASSERT_NE(run.out.find("program dobehl do konce"), std::string::npos);
        m_tiles = ReadTiles(m_dir.File("out"));
        ASSERT_FALSE(m_tiles.empty());
    }

    test::TempDir m_dir;
    ProjTransformer m_proj{ProjSettings{}};
    std::vector<Tile> m_tiles;
};

TEST_F(EndToEnd, GraticuleCrossesLandWhereProjPutsThem) {
    int checked = 0;
    for (const transform::GraticulePoint& cross : DemoCrosses(kSheet)) {
        const transform::OutputPoint p = m_proj.OutputFromGraticule(cross.lon, cross.lat);
        const Tile* tile = TileAt(m_tiles, p.X, p.Y);
        ASSERT_NE(tile, nullptr);
        const double row = tile->Row(p.X);
        const double column = tile->Column(p.Y);
        const int reach = static_cast<int>(200.0 / tile->pixelSize);  // beyond the 150 m arms
        if (!tile->Contains(row - reach, column - reach) || !tile->Contains(row + reach, column + reach)) {
            continue;  // split between tiles
        }
        double sumRow = 0.0, sumColumn = 0.0;
        int count = 0;
        for (int i = static_cast<int>(row) - reach; i <= static_cast<int>(row) + reach; ++i) {
            for (int m = static_cast<int>(column) - reach; m <= static_cast<int>(column) + reach; ++m) {
                if (tile->Dark(i, m)) {
                    sumRow += i;
                    sumColumn += m;
                    ++count;
                }
            }
        }
        ASSERT_GT(count, 20) << "no cross near " << cross.lon << ", " << cross.lat;
        EXPECT_NEAR(sumRow / count, row, 1.0) << cross.lon << ", " << cross.lat;
        EXPECT_NEAR(sumColumn / count, column, 1.0) << cross.lon << ", " << cross.lat;
        ++checked;
    }
    EXPECT_GE(checked, 4);
}

TEST_F(EndToEnd, NeatLineLandsOnTheProjectedGraticule) {
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(kSheet);
    int checked = 0;
    // Positions along each edge half-way between the whole-minute ticks
    // (the sheet's parallels lie on half minutes, its meridians on whole ones).
    for (int k = 0; k < 15; ++k) {
        const double lat = g.latSouth + (k % 7 + 1.0) / 60.0;
        const double lon = g.lonWest + (k + 0.5) / 60.0;
        // West and east edges: walk along the pixel row inwards; north and
        // south edges: along the pixel column.
        struct Probe {
            double lon, lat;
            bool alongRow;  // the edge is crossed by walking along a row
            int step;       // +1 or -1: direction of the walk, from outside inwards
            bool meridian;  // the edge is a meridian (solve for lon) or a parallel
            double edgeValue;
        };
        const Probe probes[] = {
            {g.lonWest, lat, true, +1, true, g.lonWest},
            {g.lonEast, lat, true, -1, true, g.lonEast},
            {lon, g.latNorth, false, +1, false, g.latNorth},
            {lon, g.latSouth, false, -1, false, g.latSouth},
        };
        for (const Probe& probe : probes) {
            if ((probe.meridian && k >= 7) || (!probe.meridian && k % 2 == 1)) {
                continue;
            }
            const transform::OutputPoint p = m_proj.OutputFromGraticule(probe.lon, probe.lat);
            const Tile* tile = TileAt(m_tiles, p.X, p.Y);
            ASSERT_NE(tile, nullptr);
            // The pixel line through the point, and where on it the edge lies:
            // bisection on the coordinate along the line.
            const int line = static_cast<int>(std::lround(probe.alongRow ? tile->Row(p.X) : tile->Column(p.Y)));
            const double fixed = probe.alongRow ? tile->tileX + line * tile->pixelSize
                                                : tile->tileY + 10000.0 - line * tile->pixelSize;
            double lo = (probe.alongRow ? p.Y : p.X) - 300.0;
            double hi = lo + 600.0;
            const auto offEdge = [&](double along) {
                const transform::GraticulePoint q = probe.alongRow ? m_proj.GraticuleFromOutput(fixed, along)
                                                                   : m_proj.GraticuleFromOutput(along, fixed);
                return (probe.meridian ? q.lon : q.lat) - probe.edgeValue;
            };
            const bool loSign = offEdge(lo) > 0.0;
            for (int n = 0; n < 60; ++n) {
                const double mid = 0.5 * (lo + hi);
                ((offEdge(mid) > 0.0) == loSign ? lo : hi) = mid;
            }
            const double edge = probe.alongRow ? tile->Column(lo) : tile->Row(lo);
            // The neat line is drawn 15 m wide inside the edge: the middle of
            // the run of dark pixels met coming from outside lies 7.5 m in.
            const int start = static_cast<int>(std::floor(edge)) - 6 * probe.step;
            const int span = 6 + static_cast<int>(30.0 / tile->pixelSize);
            const int end = start + span * probe.step;
            if (!tile->Contains(probe.alongRow ? line : start, probe.alongRow ? start : line) ||
                !tile->Contains(probe.alongRow ? line : end, probe.alongRow ? end : line)) {
                continue;  // the line leaves the tile here
            }
            int first = -1;
            int last = -1;
            for (int n = 0; n <= span; ++n) {
                const int at = start + n * probe.step;
                const bool dark = probe.alongRow ? tile->Dark(line, at) : tile->Dark(at, line);
                if (dark && first < 0) {
                    first = at;
                }
                if (dark) {
                    last = at;
                } else if (first >= 0) {
                    break;
                }
            }
            ASSERT_GE(first, 0) << "no neat line near " << probe.lon << ", " << probe.lat;
            const double middle = 0.5 * (first + last);
            EXPECT_NEAR(middle, edge + probe.step * 7.5 / tile->pixelSize, 1.0) << probe.lon << ", " << probe.lat;
            // The sheet's paint stops at its edge, give or take the pixel that
            // the edge cuts.
            EXPECT_LE((first - edge) * -probe.step, 1.0) << probe.lon << ", " << probe.lat;
            ++checked;
        }
    }
    EXPECT_GE(checked, 12);
}

}  // namespace
}  // namespace georef::tools
