// georef-check: an exact corner set passes, and each typical mistake in a
// corner file is flagged.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/demo_scan.hpp"
#include "tools/check_tool.hpp"

namespace georef::tools {
namespace {


constexpr int kSheet = 40571;

using test::ToolResult;

// Corners of a scan at 300 dpi tilted by 1.2 degrees: the exact affine
// image of the sheet's nominal corners, as a careful operator measures them.
// Scan height in pixels goes to height.
geometry::CornerPoints ExactCorners(double& height) {
    const geometry::Matrix nominal = geometry::MakeNominalCorners(kSheet);
    const double scale = geometry::kGroundMetresPerInch / 300.0;  // metres per pixel
    const double angle = 1.2 * M_PI / 180.0;
    geometry::CornerPoints corners;
    for (int k = 0; k < 4; ++k) {
        const double X = nominal(2 * k, 0) + 20000.0;
        const double Y = nominal(2 * k + 1, 0) + 1000.0;
        corners[k] = {k + 1, (std::cos(angle) * X + std::sin(angle) * Y) / scale,
                      (-std::sin(angle) * X + std::cos(angle) * Y) / scale};
    }
    height = 7200.0;
    return corners;
}

class CornerCheckTest : public ::testing::Test {
protected:
    ToolResult Check(const geometry::CornerPoints& corners, std::vector<std::string> extra = {}) {
        geometry::WriteCornerFile(m_dir.File("corners.txt"), corners, geometry::CornerPrecision::exact);
        std::vector<std::string> args = {"georef-check", std::to_string(kSheet), m_dir.File("corners.txt")};
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(args);
    }

    static ToolResult Run(const std::vector<std::string>& args) {
        return test::RunInProcess(RunCheckTool, args);
    }

    test::TempDir m_dir;
    double m_height = 0.0;
    const geometry::CornerPoints m_exact = ExactCorners(m_height);
};

TEST_F(CornerCheckTest, ExactAffineCornersHaveNoResidualAndReportScaleRotationAndDpi) {
    const CornerFitReport report = AnalyseCornerFit(m_exact, kSheet);
    EXPECT_LT(report.rmsMetres, 1e-6);
    EXPECT_LT(report.rmsPixels, 1e-6);
    EXPECT_NEAR(report.metresPerPixelX, geometry::kGroundMetresPerInch / 300.0, 1e-9);
    EXPECT_NEAR(report.metresPerPixelY, geometry::kGroundMetresPerInch / 300.0, 1e-9);
    EXPECT_NEAR(report.rotationDegrees, 1.2, 1e-9);
    EXPECT_NEAR(report.dpi, 300.0, 1e-6);
    EXPECT_FALSE(report.Mirrored());

    const ToolResult r = Check(m_exact);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find("about 300 dpi"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("rotation: 1.200 degrees"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RMS residual: 0.00 px, 0.00 m"), std::string::npos) << r.out;
}

TEST_F(CornerCheckTest, SwappedNeighbouringCornersAreFlagged) {
    for (const auto& pair : {std::pair<int, int>{0, 1}, {1, 2}, {2, 3}, {3, 0}}) {
        geometry::CornerPoints swapped = m_exact;
        std::swap(swapped[pair.first], swapped[pair.second]);
        const ToolResult r = Check(swapped);
        EXPECT_EQ(r.status, 1) << pair.first << "<->" << pair.second;
        EXPECT_NE(r.err.find("do not fit one affine map"), std::string::npos) << r.err;
    }
}

TEST_F(CornerCheckTest, SwappedDiagonalCornersAreFlaggedAsMirrored) {
    for (const auto& pair : {std::pair<int, int>{0, 2}, {1, 3}}) {
        geometry::CornerPoints swapped = m_exact;
        std::swap(swapped[pair.first], swapped[pair.second]);
        const CornerFitReport report = AnalyseCornerFit(swapped, kSheet);
        EXPECT_TRUE(report.Mirrored());
        const ToolResult r = Check(swapped);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("mirrors"), std::string::npos) << r.err;
    }
}

TEST_F(CornerCheckTest, CornersCountedDownFromTheTopEdgeAreFlagged) {
    // One corner measured downwards: far off the fit.
    geometry::CornerPoints one = m_exact;
    one[1].y = m_height - one[1].y;
    const ToolResult r1 = Check(one);
    EXPECT_EQ(r1.status, 1);
    EXPECT_NE(r1.err.find("corner LH"), std::string::npos) << r1.err;

    // All four measured downwards: a perfect but mirrored fit.
    geometry::CornerPoints all = m_exact;
    for (geometry::CornerPoint& c : all) {
        c.y = m_height - c.y;
    }
    const CornerFitReport report = AnalyseCornerFit(all, kSheet);
    EXPECT_LT(report.rmsMetres, 1e-6);
    const ToolResult r4 = Check(all);
    EXPECT_EQ(r4.status, 1);
    EXPECT_NE(r4.err.find("mirrors"), std::string::npos) << r4.err;
}

TEST_F(CornerCheckTest, ClickErrorsPassBelowTheThresholdAndFailAboveIt) {
    // 3 px at 300 dpi is 6 m on the ground: within the default 12.5 m.
    geometry::CornerPoints slightly = m_exact;
    slightly[2].x += 3.0;
    const ToolResult small = Check(slightly);
    EXPECT_EQ(small.status, 0) << small.err;
    EXPECT_EQ(Check(slightly, {"--threshold", "0.5"}).status, 1);

    geometry::CornerPoints far = m_exact;
    far[3].x += 150.0;
    far[3].y -= 90.0;
    const ToolResult r = Check(far);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("warning: corner"), std::string::npos) << r.err;
    EXPECT_EQ(Check(far, {"--threshold=1000"}).status, 0);
}

TEST_F(CornerCheckTest, UnusableInputsFailWithAMessage) {
    geometry::CornerPoints collinear = m_exact;
    collinear[1].x = collinear[0].x;
    collinear[2].x = collinear[0].x;
    const ToolResult singular = Check(collinear);
    EXPECT_EQ(singular.status, 1);
    EXPECT_NE(singular.err.find("admit no fit"), std::string::npos) << singular.err;

    test::WriteFileBytes(m_dir.File("short.txt"), "1 10 10\n2 10 900\n3 700 900\n");
    const ToolResult shortFile = Run({"georef-check", "40571", m_dir.File("short.txt")});
    EXPECT_EQ(shortFile.status, 1);
    EXPECT_NE(shortFile.err.find("four records"), std::string::npos) << shortFile.err;
    EXPECT_EQ(Run({"georef-check", "40571", m_dir.File("absent.txt")}).status, 1);

    // A corner at 1e300 makes a fit of infinities and NaNs, whose residuals
    // compare as within any threshold: a failure all the same.
    test::WriteFileBytes(m_dir.File("huge.txt"), "1 1 1e300\n2 0 7000\n3 9000 7000\n4 9000 0\n");
    const ToolResult huge = Run({"georef-check", "40571", m_dir.File("huge.txt")});
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("not finite"), std::string::npos) << huge.err;
    EXPECT_EQ(huge.out.find("ok:"), std::string::npos) << huge.out;

    // Sheet numbers as georef reads them: a sign is accepted, an invalid
    // number is a command-line mistake.
    geometry::WriteCornerFile(m_dir.File("corners.txt"), m_exact, geometry::CornerPrecision::exact);
    EXPECT_EQ(Run({"georef-check", "+40571", m_dir.File("corners.txt")}).status, 0);
    EXPECT_EQ(Run({"georef-check", "40575", m_dir.File("corners.txt")}).status, 2);

    EXPECT_EQ(Run({"georef-check"}).status, 2);
    EXPECT_EQ(Run({"georef-check", "40571"}).status, 2);
    EXPECT_EQ(Run({"georef-check", "4057x", "c.txt"}).status, 2);
    EXPECT_EQ(Run({"georef-check", "40571", "c.txt", "--threshold", "-1"}).status, 2);
}

}  // namespace
}  // namespace georef::tools
