// Realistic scans: the corner file must give where the neat line's centre
// lines were drawn, whatever the paper and scanner did around them, and a
// seed must give the same file again.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "geometry/corner_fit.hpp"
#include "geometry/map_scale.hpp"
#include "platform/file_system.hpp"
#include "raster/source_raster.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"
#include "synthesis/scan_layout.hpp"

namespace georef::synthesis {
namespace {

constexpr int kSheet = 40571;

struct Scan {
    raster::SourceRaster raster;

    explicit Scan(const std::string& path) {
        raster.Open(path);
        raster.ReadBands();
    }
    // Grey value at a continuous position (column, row; pixel centres at
    // whole numbers), bilinear.
    double Grey(double column, double row) const {
        const int c = static_cast<int>(std::floor(column));
        const int r = static_cast<int>(std::floor(row));
        const double fc = column - c;
        const double fr = row - r;
        const auto at = [&](int cc, int rr) {
            return (raster.Sample(0, cc, rr) + raster.Sample(1, cc, rr) + raster.Sample(2, cc, rr)) / 3.0;
        };
        return (at(c, r) * (1 - fc) + at(c + 1, r) * fc) * (1 - fr) + (at(c, r + 1) * (1 - fc) + at(c + 1, r + 1) * fc) * fr;
    }
};

// Where the darkness of the line lies across the side from corner a towards
// corner b, at fraction t of the side, as a signed distance in pixels from the
// side the corner file gives (positive to the right of a -> b): the centroid
// of the darkness below the paper. Empty where the paper on either side is
// not clean (content running into the line would pull the centroid inwards).
std::optional<double> LineOffset(const Scan& scan, const geometry::CornerPoint& a, const geometry::CornerPoint& b,
                                 double t, double halfWindow) {
    const int height = scan.raster.Height();
    // Corner file frame -> pixel centres (column, row).
    const double ac = a.x + 0.5, ar = height - 1.5 - a.y;
    const double bc = b.x + 0.5, br = height - 1.5 - b.y;
    const double length = std::hypot(bc - ac, br - ar);
    const double nc = -(br - ar) / length, nr = (bc - ac) / length;
    const double pc = ac + t * (bc - ac), pr = ar + t * (br - ar);
    const auto grey = [&](double s) { return scan.Grey(pc + s * nc, pr + s * nr); };
    const double paper[4] = {grey(-halfWindow - 1.0), grey(-halfWindow - 0.5), grey(halfWindow + 0.5),
                             grey(halfWindow + 1.0)};
    const auto [low, high] = std::minmax_element(paper, paper + 4);
    if (*high - *low > 20.0) {
        return std::nullopt;
    }
    const double level = (paper[0] + paper[1] + paper[2] + paper[3]) / 4.0;
    double weight = 0.0, moment = 0.0;
    for (double s = -halfWindow; s <= halfWindow + 1e-9; s += 0.125) {
        const double dark = std::max(0.0, level - grey(s));
        weight += dark;
        moment += dark * s;
    }
    if (weight <= 0.0) {
        return std::nullopt;
    }
    return moment / weight;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class RealisticScanTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(RealisticScanTest, CornerFileFollowsTheDrawnNeatLineOfATurnedBowedSheet) {
    RealisticScanOptions options;
    options.dpi = 150.0;
    options.rotationDegrees = 2.7;
    options.neatLineWidth = 3.0;  // 1.5 px at 150 dpi
    options.bowPixels = 2.0;
    options.blurPixels = 0.8;
    options.decoy = std::nullopt;
    options.tornCorner = SheetCorner::pd;
    options.seed = 11;
    const std::string path = m_dir.File("sheet.tif");
    const RealisticScan drawn = WriteRealisticScan(kSheet, path, options);
    ASSERT_TRUE(drawn.hasMap);
    const Scan scan(path);
    ASSERT_EQ(scan.raster.Width(), drawn.width);
    ASSERT_EQ(scan.raster.Height(), drawn.height);

    // Near each end of every side the line is straight: the darkness there
    // is centred on the side through the corners.
    const geometry::CornerPoints& c = drawn.corners;
    const double halfWindow = drawn.neatLineWidth / 2.0 + 1.5;
    int measured = 0;
    for (int side = 0; side < 4; ++side) {
        const geometry::CornerPoint& a = c[side];
        const geometry::CornerPoint& b = c[(side + 1) % 4];
        for (const bool nearA : {true, false}) {
            std::vector<double> offsets;
            for (double t = 0.02; t < 0.19; t += 0.005) {
                if (const std::optional<double> offset = LineOffset(scan, a, b, nearA ? t : 1.0 - t, halfWindow)) {
                    offsets.push_back(*offset);
                }
            }
            if (offsets.size() < 5) {
                continue;
            }
            ++measured;
            EXPECT_LT(std::fabs(Median(offsets)), 0.2) << Median(offsets) << " px, side " << side
                                                       << (nearA ? " start" : " end");
        }
    }
    EXPECT_GE(measured, 6);
    // The edges' corners lie half the line's width out from the centre
    // lines, on the diagonal.
    for (int k = 0; k < 4; ++k) {
        const double outer = std::hypot(drawn.outerEdgeCorners[k].x - c[k].x, drawn.outerEdgeCorners[k].y - c[k].y);
        const double inner = std::hypot(drawn.innerEdgeCorners[k].x - c[k].x, drawn.innerEdgeCorners[k].y - c[k].y);
        EXPECT_NEAR(outer, drawn.neatLineWidth / std::sqrt(2.0), 0.02) << "corner " << k;
        EXPECT_NEAR(inner, outer, 1e-6) << "corner " << k;
    }
}

TEST_F(RealisticScanTest, EachCroppedSideLeavesTheImageAndTheOthersStay) {
    for (const geometry::Side side : geometry::kSides) {
        RealisticScanOptions options;
        options.dpi = 25.0;
        options.rotationDegrees = -1.5;
        options.crop = side;
        const RealisticScan scan = WriteRealisticScan(kSheet, m_dir.File("crop.jpg"), options);
        // Corner file frame: x from the left edge, y up from the bottom.
        const auto inside = [&](const geometry::CornerPoint& p) {
            return p.x >= 0.0 && p.y >= 0.0 && p.x <= scan.width - 1.0 && p.y <= scan.height - 1.0;
        };
        const bool west = side == geometry::Side::left, north = side == geometry::Side::top;
        const bool east = side == geometry::Side::right, south = side == geometry::Side::bottom;
        const bool cut[4] = {west || south, west || north, east || north, east || south};  // LD LH PH PD
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(inside(scan.corners[k]), !cut[k]) << "crop " << static_cast<int>(side) << " corner " << k;
        }
    }
}

TEST_F(RealisticScanTest, WrongScaleShowsInTheFittedResolution) {
    for (const double scale : {1.0, 1.06}) {
        RealisticScanOptions options;
        options.dpi = 50.0;
        options.scale = scale;
        const RealisticScan scan = WriteRealisticScan(kSheet, m_dir.File("scale.jpg"), options);
        geometry::Matrix A(2, 2), T(2, 1);
        ASSERT_TRUE(geometry::FitCorners(scan.corners, kSheet, A, T));
        const double metresPerPixel = std::sqrt(std::fabs(A(0, 0) * A(1, 1) - A(0, 1) * A(1, 0)));
        EXPECT_NEAR(metresPerPixel, geometry::kGroundMetresPerInch / (50.0 * scale), 1e-3 * metresPerPixel) << scale;
    }
}

TEST_F(RealisticScanTest, TornCornerTakesPaperButNotTheNeatLineCorner) {
    RealisticScanOptions options;
    options.dpi = 60.0;
    options.rotationDegrees = 0.0;
    options.bowPixels = 0.0;
    const RealisticScan whole = WriteRealisticScan(kSheet, m_dir.File("whole.tif"), options);
    options.tornCorner = SheetCorner::lh;
    const RealisticScan torn = WriteRealisticScan(kSheet, m_dir.File("torn.tif"), options);
    const Scan a(m_dir.File("whole.tif"));
    const Scan b(m_dir.File("torn.tif"));
    ASSERT_EQ(whole.width, torn.width);
    ASSERT_EQ(whole.height, torn.height);
    // The neat line's upper-left corner as a pixel position, and the paper's
    // corner (the bed is 8 mm wide, nothing turned).
    const double cornerColumn = torn.corners[1].x + 0.5;
    const double cornerRow = torn.height - 1.5 - torn.corners[1].y;
    const double bed = 8.0 / geometry::kMillimetresPerInch * 60.0;
    const double border = cornerColumn - bed;
    int changed = 0;
    for (int row = 0; row < torn.height / 2; ++row) {
        for (int column = 0; column < torn.width / 2; ++column) {
            if (a.raster.Sample(0, column, row) == b.raster.Sample(0, column, row)) {
                continue;
            }
            ++changed;
            // Only within the torn triangle (both legs at most 1.5 borders,
            // widened by its raggedness and the blur) ...
            ASSERT_LT((column - bed) + (row - bed), 1.5 * border + 4.0) << column << " " << row;
            // ... and never near the neat line's corner.
            ASSERT_GT(std::hypot(column - cornerColumn, row - cornerRow), 0.25 * border) << column << " " << row;
        }
    }
    EXPECT_GT(changed, 100);
    // Where the paper's corner was lies the dark bed now.
    EXPECT_LT(b.Grey(bed + 2.0, bed + 2.0), 80.0);
    EXPECT_GT(a.Grey(bed + 2.0, bed + 2.0), 150.0);
}

TEST_F(RealisticScanTest, VariedConditionsStayWithinTheSeriesAndDraw) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        RealisticScanOptions options = VariedRealisticOptions(seed);
        EXPECT_EQ(options.seed, seed);
        EXPECT_LE(std::fabs(options.rotationDegrees), 3.0);
        EXPECT_GE(options.neatLineWidth, 1.2);
        EXPECT_LE(options.neatLineWidth, 3.0);
        EXPECT_GE(options.frameGap, 20.0);
        EXPECT_LE(options.frameGap, 45.0);
        EXPECT_LE(options.bowPixels, 2.0);
        EXPECT_FALSE(options.crop.has_value());
        EXPECT_EQ(options.scale, 1.0);
        EXPECT_EQ(options.page, PageContent::map);
        options.dpi = 15.0;
        EXPECT_NO_THROW(WriteRealisticScan(kSheet, m_dir.File("varied.jpg"), options)) << seed;
    }
}

// The paper's bowing: nothing within the straight fifth of each side next to
// a corner, the full bow at a side's middle, outwards for a positive bow.
TEST(ScanLayoutTest, BowingLeavesTheCornersAndTheStraightEndsInPlace) {
    LayoutParameters parameters;
    parameters.metresPerPixel = geometry::kGroundMetresPerInch / 100.0;  // 100 dpi
    parameters.borderPixels = 120.0;
    parameters.bedPixels = 30.0;
    parameters.rotationRadians = 0.04;
    parameters.bowPixels = {2.0, -1.5, 1.0, 3.0};  // west, north, east, south
    const ScanLayout layout(kSheet, parameters);
    const Quad& q = layout.NeatLine();
    const auto along = [&](int side, double t) {
        const PixelPoint a = q[side], b = q[(side + 1) % 4];
        return PixelPoint{a.u + t * (b.u - a.u), a.v + t * (b.v - a.v)};
    };
    for (int side = 0; side < 4; ++side) {
        for (const double t : {0.0, 0.1, kStraightSideFraction - 1e-6, 1.0 - kStraightSideFraction + 1e-6, 1.0}) {
            const PixelPoint bow = layout.Bow(along(side, t));
            EXPECT_EQ(bow.u, 0.0) << side << " " << t;
            EXPECT_EQ(bow.v, 0.0) << side << " " << t;
            // There the image is the canvas turned and shifted, both ways.
            const PixelPoint there = layout.CanvasFromImage(layout.ImageFromCanvas(along(side, t)));
            EXPECT_NEAR(there.u, along(side, t).u, 1e-9);
            EXPECT_NEAR(there.v, along(side, t).v, 1e-9);
        }
    }
    // Outwards: west to smaller u, north to smaller v, east and south larger.
    EXPECT_NEAR(layout.Bow(along(0, 0.5)).u, -2.0, 0.01);
    EXPECT_NEAR(layout.Bow(along(1, 0.5)).v, 1.5, 0.01);
    EXPECT_NEAR(layout.Bow(along(2, 0.5)).u, 1.0, 0.01);
    EXPECT_NEAR(layout.Bow(along(3, 0.5)).v, 3.0, 0.01);
    // The sheet and its paper lie wholly inside the image.
    for (const PixelPoint& corner : layout.Offset(parameters.borderPixels)) {
        const PixelPoint p = layout.ImageFromCanvas(corner);
        EXPECT_GT(p.u, 0.0);
        EXPECT_GT(p.v, 0.0);
        EXPECT_LT(p.u, layout.ImageWidth() - 1.0);
        EXPECT_LT(p.v, layout.ImageHeight() - 1.0);
    }
}

TEST_F(RealisticScanTest, SeedReproducesTheFileAndDensityIsRecorded) {
    const auto draw = [&](const std::string& name, std::uint64_t seed, bool density) {
        RealisticScanOptions options = VariedRealisticOptions(seed);
        options.dpi = 40.0;
        options.density = density;
        WriteRealisticScan(kSheet, m_dir.File(name), options);
        return test::ReadFileBytes(m_dir.File(name));
    };
    const std::string first = draw("a.jpg", 5, true);
    ASSERT_GT(first.size(), 1000u);
    EXPECT_EQ(first, draw("b.jpg", 5, true));
    EXPECT_NE(first, draw("c.jpg", 6, true));
    // JFIF header: units 1 (dots per inch), x and y density 40.
    EXPECT_EQ(first.substr(13, 5), std::string("\x01\x00\x28\x00\x28", 5));
    const std::string without = draw("d.jpg", 5, false);
    EXPECT_EQ(without.substr(13, 5), std::string("\x00\x00\x01\x00\x01", 5));
}

}  // namespace
}  // namespace georef::synthesis
