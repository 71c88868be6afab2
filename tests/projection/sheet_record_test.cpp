// The content of config.bin for a sheet, computed through PROJ: the grid
// and the boundary against PROJ's own answers, and an explicit pipeline
// against the operation PROJ chooses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "geometry/sheet_geometry.hpp"
#include "projection/proj_transformer.hpp"
#include "projection/sheet_record.hpp"
#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::projection {
namespace {

double Distance(const transform::OutputPoint& a, const transform::OutputPoint& b) {
    return std::hypot(a.X - b.X, a.Y - b.Y);
}

// Distance of p from the segment a-b, metres.
double DistanceFromSegment(const transform::OutputPoint& p, const transform::OutputPoint& a,
                           const transform::OutputPoint& b) {
    const double dx = b.X - a.X;
    const double dy = b.Y - a.Y;
    const double t = std::clamp(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(p.X - (a.X + t * dx), p.Y - (a.Y + t * dy));
}

// Which edge of the graticule rectangle a point lies on (0 west, 1 north,
// 2 east, 3 south; a corner counts for both of its edges) and its
// coordinate along it; -1 when it lies on none.
bool OnEdge(const geometry::SheetGraticule& g, const transform::GraticulePoint& p, int edge) {
    const double eps = 1e-9;
    const bool inLon = p.lon > g.lonWest - eps && p.lon < g.lonEast + eps;
    const bool inLat = p.lat > g.latSouth - eps && p.lat < g.latNorth + eps;
    switch (edge) {
        case 0: return std::fabs(p.lon - g.lonWest) < eps && inLat;
        case 1: return std::fabs(p.lat - g.latNorth) < eps && inLon;
        case 2: return std::fabs(p.lon - g.lonEast) < eps && inLat;
        default: return std::fabs(p.lat - g.latSouth) < eps && inLon;
    }
}

class SheetRecordTest : public ::testing::Test {
protected:
    ProjTransformer m_proj{ProjSettings{}};
};

TEST_F(SheetRecordTest, GridAgreesWithProjToATenthOfAMetreAtRandomPoints) {
    for (const int cell : {500, 1000}) {
        SCOPED_TRACE(cell);
        const int sheet = 40573;
        const transform::SheetRecord record = BuildSheetRecord(sheet, cell, m_proj);
        const transform::BoundingBox box = transform::BoundingBoxOf(record.boundary);
        std::mt19937 random(12345);
        std::uniform_real_distribution<double> alongX(box.minX, box.maxX);
        std::uniform_real_distribution<double> alongY(box.minY, box.maxY);
        double worst = 0.0;
        for (int k = 0; k < 3000; ++k) {
            const transform::OutputPoint p{alongX(random), alongY(random)};
            const std::optional<transform::GraticulePoint> g = record.grid.Lookup(p.X, p.Y);
            ASSERT_TRUE(g) << "no cell for " << p.X << ", " << p.Y;
            worst = std::max(worst, Distance(m_proj.OutputFromGraticule(g->lon, g->lat), p));
        }
        EXPECT_LT(worst, 0.1);
    }
}

TEST_F(SheetRecordTest, BoundaryFollowsTheGraticuleAroundTheSheetWithinTheChordBound) {
    const int sheet = 40572;
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheet);
    const std::vector<transform::OutputPoint> vertices = BuildSheetBoundary(sheet, m_proj);
    ASSERT_GE(vertices.size(), 4u * 16u);
    // Starts at the south-west corner and does not repeat it.
    const transform::GraticulePoint first = m_proj.GraticuleFromOutput(vertices.front().X, vertices.front().Y);
    EXPECT_NEAR(first.lon, g.lonWest, 1e-9);
    EXPECT_NEAR(first.lat, g.latSouth, 1e-9);
    EXPECT_GT(Distance(vertices.front(), vertices.back()), 1.0);

    // Every vertex lies on an edge, the edges come in the order west, north,
    // east, south, and every chord stays within 0.1 m of the projected
    // graticule line between its two vertices.
    int edge = 0;
    double worstChord = 0.0;
    for (std::size_t k = 0; k < vertices.size(); ++k) {
        const transform::OutputPoint& a = vertices[k];
        const transform::OutputPoint& b = vertices[(k + 1) % vertices.size()];
        const transform::GraticulePoint ga = m_proj.GraticuleFromOutput(a.X, a.Y);
        const transform::GraticulePoint gb = m_proj.GraticuleFromOutput(b.X, b.Y);
        if (!OnEdge(g, gb, edge)) {
            ++edge;
        }
        ASSERT_LT(edge, 4) << "vertex " << k;
        ASSERT_TRUE(OnEdge(g, ga, edge) && OnEdge(g, gb, edge)) << "vertex " << k << " leaves edge " << edge;
        for (int s = 1; s < 16; ++s) {
            const double t = s / 16.0;
            const transform::OutputPoint curve =
                m_proj.OutputFromGraticule(ga.lon + (gb.lon - ga.lon) * t, ga.lat + (gb.lat - ga.lat) * t);
            worstChord = std::max(worstChord, DistanceFromSegment(curve, a, b));
        }
    }
    EXPECT_EQ(edge, 3);
    EXPECT_LT(worstChord, kMaxChordError);
}

TEST_F(SheetRecordTest, PipelineOfTheDefaultOperationGivesTheSameGrid) {
    ProjSettings settings;
    settings.pipeline =
        "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
        "+step +inv +proj=longlat +ellps=bessel +pm=ferro "
        "+step +proj=krovak +lat_0=49.5 +lon_0=24.8333333333333 +alpha=30.2881397527778 +k=0.9999 "
        "+x_0=0 +y_0=0 +ellps=bessel";
    ProjTransformer pipeline(settings);
    const transform::SheetRecord a = BuildSheetRecord(40571, 500, m_proj);
    const transform::SheetRecord b = BuildSheetRecord(40571, 500, pipeline);
    ASSERT_EQ(a.grid.Nodes().size(), b.grid.Nodes().size());
    EXPECT_EQ(a.grid.OriginX(), b.grid.OriginX());
    EXPECT_EQ(a.grid.OriginY(), b.grid.OriginY());
    for (std::size_t k = 0; k < a.grid.Nodes().size(); ++k) {
        EXPECT_NEAR(a.grid.Nodes()[k].lon, b.grid.Nodes()[k].lon, 1e-10);
        EXPECT_NEAR(a.grid.Nodes()[k].lat, b.grid.Nodes()[k].lat, 1e-10);
    }
}

}  // namespace
}  // namespace georef::projection
