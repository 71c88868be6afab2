// TransformGrid: cell selection, fractions, interpolation order and the
// grid's extent.

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "support/transform/config_file.hpp"
#include "transform/transform_grid.hpp"

namespace georef::transform {
namespace {

// Nodes whose values differ along both axes and are not linear, so a swapped
// axis or a wrong interpolation order changes the result.
TransformGrid CurvedGrid(std::int32_t originX, std::int32_t originY, std::int32_t cellSize, std::int32_t n,
                         std::int32_t rows) {
    std::vector<GraticulePoint> nodes;
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t k = 0; k < n; ++k) {
            nodes.push_back({10.0 * k + double(r) * r, double(k) * k + r});
        }
    }
    return TransformGrid(originX, originY, cellSize, n, rows, std::move(nodes));
}

TEST(TransformGrid, Lookup_SelectsCellAlongXAndRowAlongY) {
    const TransformGrid grid = CurvedGrid(0, 0, 1000, 5, 10);
    // X = 2500, Y = 7250: i = 2, j = 7, fx = 0.5, fy = 0.25.
    // lon: a = 69 + 15 * 0.25 = 72.75, b = 79 + 15 * 0.25 = 82.75, 72.75 + 10 * 0.5
    // lat: a = 11 + 1 * 0.25, b = 16 + 1 * 0.25, 11.25 + 5 * 0.5
    const std::optional<GraticulePoint> p = grid.Lookup(2500.0, 7250.0);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->lon, 77.75);
    EXPECT_EQ(p->lat, 13.75);
    const GraticulePoint direct = grid.Interpolate(2, 7, 0.5, 0.25);
    EXPECT_EQ(direct.lon, p->lon);
    EXPECT_EQ(direct.lat, p->lat);
}

TEST(TransformGrid, Interpolate_IsBitExactToTheOrderAlongYThenX) {
    // Regression guard for the order of operations: an algebraically equal
    // form (along X first, or weights (1 - f) and f) rounds differently.
    const GraticulePoint n00{15.123456789, 49.987654321}, n01{15.2718281828, 49.9141592653};
    const GraticulePoint n10{15.1414213562, 50.0173205080}, n11{15.3236067977, 50.0577215664};
    const TransformGrid grid(0, 0, 3, 2, 2, {n00, n01, n10, n11});
    const double X = 0.4, Y = 2.9;  // longitude differs in both alternative forms
    const double fx = X / 3.0, fy = Y / 3.0;  // both quotients truncate to 0
    const double aLon = n00.lon + (n10.lon - n00.lon) * fy;
    const double bLon = n01.lon + (n11.lon - n01.lon) * fy;
    const double aLat = n00.lat + (n10.lat - n00.lat) * fy;
    const double bLat = n01.lat + (n11.lat - n01.lat) * fy;
    const std::optional<GraticulePoint> p = grid.Lookup(X, Y);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->lon, aLon + (bLon - aLon) * fx);
    EXPECT_EQ(p->lat, aLat + (bLat - aLat) * fx);
}

TEST(TransformGrid, Lookup_OnANodeYieldsTheNodeExactly) {
    std::vector<GraticulePoint> nodes;
    for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 5; ++k) {
            nodes.push_back({std::sin(0.3 * k + 1.7 * r), std::cos(1.1 * k - 0.2 * r)});
        }
    }
    const TransformGrid grid(1100000, 530000, 2000, 5, 4, nodes);
    for (int r = 0; r <= 2; ++r) {
        for (int k = 0; k <= 3; ++k) {
            const std::optional<GraticulePoint> p = grid.Lookup(1100000.0 + 2000.0 * k, 530000.0 + 2000.0 * r);
            ASSERT_TRUE(p.has_value()) << "row " << r << " node " << k;
            EXPECT_EQ(p->lon, grid.Node(r, k).lon) << "row " << r << " node " << k;
            EXPECT_EQ(p->lat, grid.Node(r, k).lat) << "row " << r << " node " << k;
        }
    }
}

TEST(TransformGrid, Lookup_IsEmptyOutsideTheGridAndValidJustInside) {
    // Nodes at X = 10000 ... 14000, Y = 20000 ... 23000; cells end at X 14000, Y 23000.
    const TransformGrid grid = CurvedGrid(10000, 20000, 1000, 5, 4);
    EXPECT_TRUE(grid.Lookup(10000.0, 20000.0).has_value());
    EXPECT_TRUE(grid.Lookup(13999.5, 22999.5).has_value());  // just inside the last cell
    EXPECT_FALSE(grid.Lookup(14000.0, 21000.0).has_value());  // the far edge has no cell beyond it
    EXPECT_FALSE(grid.Lookup(11000.0, 23000.0).has_value());
    EXPECT_FALSE(grid.Lookup(16000.0, 21000.0).has_value());
    EXPECT_FALSE(grid.Lookup(11000.0, 25000.0).has_value());
    EXPECT_FALSE(grid.Lookup(8500.0, 21000.0).has_value());   // more than a cell before the origin
    EXPECT_FALSE(grid.Lookup(11000.0, 18500.0).has_value());
    // Truncation toward zero: less than one cell before the origin is cell 0.
    EXPECT_TRUE(grid.Lookup(9500.0, 21000.0).has_value());
    EXPECT_TRUE(grid.Lookup(11000.0, 19500.0).has_value());
}

TEST(TransformGrid, Lookup_IsEmptyForPointsNoIntegerCellIndexCanHold) {
    const TransformGrid grid = CurvedGrid(0, 0, 1, 3, 3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double bad : {nan, inf, -inf, 1e300, -1e300, 2147483648.0, -2147483649.0}) {
        EXPECT_FALSE(grid.Lookup(bad, 1.0).has_value()) << bad;
        EXPECT_FALSE(grid.Lookup(1.0, bad).has_value()) << bad;
    }
}

TEST(TransformGrid, AnalyticGrid_ReproducesALinearMappingAcrossItsBox) {
    BoundingBox box;
    box.minX = 1101234.5;
    box.maxX = 1118765.0;
    box.minY = 541000.25;
    box.maxY = 556999.0;
    const auto f = [](double X, double Y) {
        return GraticulePoint{15.0 + 1e-5 * X - 2e-6 * Y, 49.0 - 3e-6 * X + 1e-5 * Y};
    };
    const TransformGrid grid = test::AnalyticGrid(box, 500.0, 2000, f);
    EXPECT_EQ(grid.OriginX() % 2000, 0);
    EXPECT_EQ(grid.OriginY() % 2000, 0);
    for (double X = box.minX - 500.0; X <= box.maxX + 500.0; X += 777.25) {
        for (double Y = box.minY - 500.0; Y <= box.maxY + 500.0; Y += 613.5) {
            const std::optional<GraticulePoint> p = grid.Lookup(X, Y);
            ASSERT_TRUE(p.has_value()) << X << ", " << Y;
            EXPECT_NEAR(p->lon, f(X, Y).lon, 1e-9) << X << ", " << Y;
            EXPECT_NEAR(p->lat, f(X, Y).lat, 1e-9) << X << ", " << Y;
        }
    }
    EXPECT_TRUE(grid.Lookup(box.maxX + 500.0, box.maxY + 500.0).has_value());
}

TEST(TransformGrid, Constructor_RejectsGridsWithoutUsableCells) {
    const std::vector<GraticulePoint> four(4);
    EXPECT_THROW(TransformGrid(0, 0, 0, 2, 2, four), std::invalid_argument);
    EXPECT_THROW(TransformGrid(0, 0, -10, 2, 2, four), std::invalid_argument);
    EXPECT_THROW(TransformGrid(0, 0, 10, 1, 4, four), std::invalid_argument);
    EXPECT_THROW(TransformGrid(0, 0, 10, 4, 1, four), std::invalid_argument);
    EXPECT_THROW(TransformGrid(0, 0, 10, 2, 3, four), std::invalid_argument);   // node count
    EXPECT_THROW(TransformGrid(5, 0, 10, 2, 2, four), std::invalid_argument);   // origin off the raster
    EXPECT_THROW(TransformGrid(0, -15, 10, 2, 2, four), std::invalid_argument);
    EXPECT_NO_THROW(TransformGrid(-20, 30, 10, 2, 2, four));
}

}  // namespace
}  // namespace georef::transform
