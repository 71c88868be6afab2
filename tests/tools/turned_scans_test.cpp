// Scans turned as a whole, by 90, 180 and 270 degrees: the corner finder
// names the sheet's own corners (LD its south-west corner wherever it lies)
// and says how the scan is turned; the turned scans' exact corner files say
// the same.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "corners/find_corners.hpp"
#include "corners/orientation.hpp"
#include "platform/failure.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::synthesis {
namespace {

double WorstDistance(const geometry::CornerPoints& a, const geometry::CornerPoints& b) {
    double worst = 0.0;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(a[k].id, k + 1);
        worst = std::max(worst, std::hypot(a[k].x - b[k].x, a[k].y - b[k].y));
    }
    return worst;
}

class TurnedScansTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(TurnedScansTest, TheSheetsCornersMoveWithTheTurnOfTheScan) {
    // The same drawing turned: the image's sizes swap and the south-west
    // corner goes round the image's corners counter-clockwise.
    RealisticScanOptions options;
    options.dpi = 100.0;
    const RealisticScan upright = WriteRealisticScan(40571, m_dir.File("0.tif"), options);
    options.turnDegrees = 90;
    const RealisticScan quarter = WriteRealisticScan(40571, m_dir.File("90.tif"), options);
    options.turnDegrees = 180;
    const RealisticScan half = WriteRealisticScan(40571, m_dir.File("180.tif"), options);
    EXPECT_EQ(quarter.width, upright.height);
    EXPECT_EQ(quarter.height, upright.width);
    EXPECT_EQ(half.width, upright.width);
    // Corner-file frame: x = u - 0.5, y = height - 1.5 - v for pixel
    // centres at whole (u, v); a quarter turn maps (u, v) to (v, w - 1 - u).
    const geometry::CornerPoint& ld = upright.corners[0];
    const double u = ld.x + 0.5;
    const double v = upright.height - 1.5 - ld.y;
    EXPECT_NEAR(quarter.corners[0].x, v - 0.5, 1e-9);
    EXPECT_NEAR(quarter.corners[0].y, quarter.height - 1.5 - (upright.width - 1.0 - u), 1e-9);
    EXPECT_NEAR(half.corners[0].x, upright.width - 1.0 - u - 0.5, 1e-9);
    EXPECT_NEAR(half.corners[0].y, half.height - 1.5 - (upright.height - 1.0 - v), 1e-9);
    options.turnDegrees = 45;
    EXPECT_THROW(WriteRealisticScan(40571, m_dir.File("45.tif"), options), georef::Failure);
}

TEST_F(TurnedScansTest, FindsAndLabelsEveryTurnOnCleanAndWornScans) {
    struct Case {
        int sheet;
        std::uint64_t seed;  // 0: a clean scan
        int turn;
    };
    for (const Case c : {Case{40571, 0, 0}, Case{40571, 0, 90}, Case{40571, 0, 180}, Case{40571, 0, 270},
                         Case{40574, 5, 90}, Case{40574, 5, 180}, Case{40572, 12, 270}}) {
        RealisticScanOptions options = c.seed == 0 ? RealisticScanOptions{} : VariedRealisticOptions(c.seed);
        if (c.seed == 0) {
            options.grain = 0.0;
            options.stains = 0;
            options.folds = 0;
            options.lighting = 0.0;
            options.bowPixels = 0.0;
        }
        options.dpi = 150.0;
        options.turnDegrees = c.turn;
        const std::string name = m_dir.File(std::to_string(c.sheet) + "-" + std::to_string(c.turn) + ".jpg");
        const RealisticScan truth = WriteRealisticScan(c.sheet, name, options);
        const corners::FindResult found = corners::FindCorners(c.sheet, name);
        SCOPED_TRACE(name);
        ASSERT_TRUE(found.Found()) << found.refusal;
        EXPECT_EQ(found.turnDegrees, c.turn);
        EXPECT_LT(WorstDistance(*found.corners, truth.corners), 1.0);
    }
}

TEST_F(TurnedScansTest, UpsideDownLabelsMissTheFitByTheSheetsTaper) {
    // The south side is about 46 m longer than the north: labels turned by
    // half a turn put every corner about 23 m off the fit, the right ones
    // within a fraction of a metre, and the decision keeps the right ones.
    RealisticScanOptions options;
    options.dpi = 150.0;
    options.turnDegrees = 180;
    const RealisticScan truth = WriteRealisticScan(40573, m_dir.File("s.jpg"), options);
    geometry::CornerPoints image = truth.corners;  // the image's own LD, LH, PH, PD
    for (int k = 0; k < 4; ++k) {
        image[k] = truth.corners[(k + 2) % 4];
        image[k].id = k + 1;
    }
    const corners::TurnDecision decision = corners::DecideTurn(image, false, 40573, 150.0);
    ASSERT_TRUE(decision.check.Found()) << decision.check.Refusal();
    EXPECT_EQ(decision.turnDegrees, 180);
    EXPECT_LT(decision.check->WorstMetres(), 1.0);
    ASSERT_TRUE(decision.otherWorstMetres);
    EXPECT_GT(*decision.otherWorstMetres, 20.0);
    EXPECT_LT(WorstDistance(decision.sheetCorners, truth.corners), 1e-9);
}

TEST_F(TurnedScansTest, TwoCoresFindTheSameCornersBitForBit) {
    RealisticScanOptions options = VariedRealisticOptions(3);
    options.dpi = 150.0;
    options.turnDegrees = 270;
    WriteRealisticScan(40572, m_dir.File("s.jpg"), options);
    corners::FindOptions one;
    corners::FindOptions two;
    two.threads = 2;
    const corners::FindResult a = corners::FindCorners(40572, m_dir.File("s.jpg"), one);
    const corners::FindResult b = corners::FindCorners(40572, m_dir.File("s.jpg"), two);
    ASSERT_TRUE(a.Found()) << a.refusal;
    ASSERT_TRUE(b.Found()) << b.refusal;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(std::memcmp(&(*a.corners)[k].x, &(*b.corners)[k].x, sizeof(double)), 0) << k;
        EXPECT_EQ(std::memcmp(&(*a.corners)[k].y, &(*b.corners)[k].y, sizeof(double)), 0) << k;
    }
    EXPECT_EQ(a.lineWidth, b.lineWidth);
    EXPECT_EQ(corners::DescribeReading(a.reading), corners::DescribeReading(b.reading));
}

}  // namespace
}  // namespace georef::synthesis
