#include "geometry/sheet_geometry.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

using georef::geometry::Matrix;
using georef::geometry::SheetGraticule;

struct SheetCase {
    int number;
    SheetGraticule graticule;  // west, east, north, south
    double corner[8];          // LD, LH, PH, PD as x, y
};

// Halves of table values are exact; sums of two widths are checked to a few
// units in the last place.
const SheetCase kSheets[] = {
    {40571, {34.0, 34.25, 50.0, 49.875}, {-18060.725, 0, -18014.5, 13901.15, 0, 13901.15, 0, 0}},
    {40572, {34.25, 34.5, 50.0, 49.875}, {0, 0, 0, 13901.15, 18014.5, 13901.15, 18060.725, 0}},
    {40573, {34.0, 34.25, 49.875, 49.75}, {-18106.95, -13901.15, -18060.725, 0, 0, 0, 0, -13901.15}},
    {40574, {34.25, 34.5, 49.875, 49.75}, {0, -13901.15, 0, 0, 18060.725, 0, 18106.95, -13901.15}},
    {34011, {6.0, 6.25, 51.5, 51.375}, {-17500.05, 0, -17452.8, 13904.75, 0, 13904.75, 0, 0}},
    {45994, {55.25, 55.5, 48.625, 48.5}, {0, -13898.15, 0, 0, 18518.425, 0, 18563.75, -13898.15}},
};

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

Matrix LonLat(double lon, double lat) {
    Matrix g(2, 1);
    g(0, 0) = lon;
    g(1, 0) = lat;
    return g;
}

TEST(SheetGeometry, InvalidNumbersHaveNoNominalGeometry) {
    for (int n : {33994, 46011, 40570, 40575, 40579, -40571, -34011, 0, 4057}) {
        EXPECT_FALSE(georef::geometry::IsValidSheetNumber(n)) << n;
        EXPECT_THROW(georef::geometry::MakeNominalCorners(n), std::invalid_argument) << n;
        EXPECT_THROW(georef::geometry::SheetMapping{n}, std::invalid_argument) << n;
    }
    for (int n : {34001, 34004, 45991, 45994, 40571}) {
        EXPECT_TRUE(georef::geometry::IsValidSheetNumber(n)) << n;
    }
}

TEST(SheetGeometry, GraticuleAndNominalCornersOfKnownSheets) {
    for (const SheetCase& sheet : kSheets) {
        SCOPED_TRACE(sheet.number);
        const SheetGraticule g = georef::geometry::MakeSheetGraticule(sheet.number);
        EXPECT_EQ(g.lonWest, sheet.graticule.lonWest);
        EXPECT_EQ(g.lonEast, sheet.graticule.lonEast);
        EXPECT_EQ(g.latNorth, sheet.graticule.latNorth);
        EXPECT_EQ(g.latSouth, sheet.graticule.latSouth);

        const Matrix corners = georef::geometry::MakeNominalCorners(sheet.number);
        ASSERT_EQ(corners.Rows(), 8);
        ASSERT_EQ(corners.Cols(), 1);
        for (int k = 0; k < 8; ++k) {
            EXPECT_DOUBLE_EQ(corners(k, 0), sheet.corner[k]) << k;
            if (sheet.corner[k] == 0) {
                EXPECT_EQ(Bits(corners(k, 0)), 0u) << k;  // positive zero
            }
        }
    }
}

TEST(SheetGeometry, BilinearMapHitsTheCornersAndExtrapolates) {
    const int n = 40571;
    const SheetGraticule g = georef::geometry::MakeSheetGraticule(n);
    const Matrix corners = georef::geometry::MakeNominalCorners(n);
    const double at[4][2] = {{g.lonWest, g.latSouth}, {g.lonWest, g.latNorth},
                             {g.lonEast, g.latNorth}, {g.lonEast, g.latSouth}};
    for (int k = 0; k < 4; ++k) {
        const Matrix p = georef::geometry::NominalFromGraticule(n, LonLat(at[k][0], at[k][1]));
        EXPECT_EQ(p(0, 0), corners(2 * k, 0)) << k;
        EXPECT_EQ(p(1, 0), corners(2 * k + 1, 0)) << k;
    }

    const Matrix centre = georef::geometry::NominalFromGraticule(n, LonLat(34.125, 49.9375));
    EXPECT_NEAR(centre(0, 0), -9018.80625, 1e-9);
    EXPECT_NEAR(centre(1, 0), 6950.575, 1e-9);

    // A quarter sheet west of the west edge on the south parallel.
    const Matrix west = georef::geometry::NominalFromGraticule(n, LonLat(33.9375, 49.875));
    EXPECT_NEAR(west(0, 0), -18060.725 - 18060.725 / 4, 1e-9);
}

TEST(SheetGeometry, CachedMappingIsBitIdenticalToTheMatrixForm) {
    // The cached form multiplies by 4 and 8 where the matrix form divides by
    // the spans: the same only while every valid sheet spans exactly these.
    int valid = 0;
    for (int n = 34000; n < 46000; ++n) {
        if (georef::geometry::IsValidSheetNumber(n)) {
            ++valid;
            const SheetGraticule g = georef::geometry::MakeSheetGraticule(n);
            ASSERT_EQ(g.lonEast - g.lonWest, 0.25) << n;
            ASSERT_EQ(g.latNorth - g.latSouth, 0.125) << n;
        }
    }
    EXPECT_EQ(valid, 12 * 100 * 4);

    std::mt19937_64 random(20240611);
    std::vector<double> extremes = {0.0, -0.0, 1e-310, -1e-310, 1e300, -1e300,
                                    std::numeric_limits<double>::max(),
                                    std::numeric_limits<double>::denorm_min(),
                                    std::numeric_limits<double>::infinity()};
    for (int n : {40571, 40572, 40573, 40574, 34011, 45994, 37254}) {
        SCOPED_TRACE(n);
        const georef::geometry::SheetMapping mapping(n);
        const SheetGraticule g = mapping.Graticule();
        std::uniform_real_distribution<double> lonNear(g.lonWest - 1, g.lonEast + 1);
        std::uniform_real_distribution<double> latNear(g.latSouth - 1, g.latNorth + 1);
        std::vector<std::pair<double, double>> points;
        for (int k = 0; k < 2000; ++k) {
            points.emplace_back(lonNear(random), latNear(random));
        }
        for (double e : extremes) {
            points.emplace_back(e, g.latSouth);
            points.emplace_back(g.lonWest, e);
            points.emplace_back(e, -e);
        }
        for (const auto& [lon, lat] : points) {
            const Matrix literal = georef::geometry::NominalFromGraticule(n, LonLat(lon, lat));
            double x = 0, y = 0;
            mapping.NominalFromGraticule(lon, lat, x, y);
            ASSERT_EQ(Bits(x), Bits(literal(0, 0))) << lon << " " << lat;
            ASSERT_EQ(Bits(y), Bits(literal(1, 0))) << lon << " " << lat;
        }
    }
}

}  // namespace
