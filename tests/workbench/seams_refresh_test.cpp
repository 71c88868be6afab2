// A sheet painted off its place, fixed in georef-review: two neighbouring
// sheets drawn from one landscape, the second's corner file shifted by
// seven scan pixels (about 44 m), so the batch paints it off and measures
// their seam suspect. Saving the drawn corners runs the sheet again and
// measures its seams again: seams.csv, summary.csv and the served review
// page all say the seam is ok. The measurement after a fix takes the
// threshold the batch judged the seams with.

#include <gtest/gtest.h>

#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch/journal.hpp"
#include "corners/find_corners.hpp"
#include "geometry/corner_file.hpp"
#include "reviewed_batch.hpp"
#include "seams/area_seams.hpp"
#include "support/in_process.hpp"
#include "tools/batch_tool.hpp"
#include "tools/config_tool.hpp"
#include "tools/demo_scan_tool.hpp"
#include "workbench/scan_view.hpp"

namespace georef::workbench {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kShiftPixels = 7.0;  // of the 100 dpi scan: 44 m on the ground

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

geometry::CornerPoints ReadCorners(const std::string& path) {
    std::ifstream in(path);
    const std::optional<geometry::CornerPoints> points = geometry::ReadCornerPoints(in);
    if (!points) {
        throw std::runtime_error("no corners in " + path);
    }
    return *points;
}

seams::SeamStatus OnlySeam(const std::string& out) {
    const std::vector<seams::SeamMeasurement> table = seams::ReadSeamsCsv(out + "/" + seams::kSeamsFile);
    EXPECT_EQ(table.size(), 1u);
    return table.empty() ? seams::SeamStatus::unmeasured : table.front().status;
}

// Two neighbouring sheets drawn from one landscape in dir/scans, the
// second's corner file shifted, config.bin, and georef-batch run into
// dir/out with more arguments.
struct ShiftedArea {
    geometry::CornerPoints exact;    // 40572's drawn corners, image frame
    geometry::CornerPoints shifted;  // those of its corner file
    std::string out;
    std::string config;
    int scanHeight = 0;  // of 40572's scan, pixels
    test::ToolResult batch;

    ShiftedArea(const test::TempDir& dir, const std::vector<std::string>& more) {
        fs::create_directories(dir.File("scans"));
        for (const std::string sheet : {"40571", "40572"}) {
            const test::ToolResult drawn = test::RunInProcess(
                tools::RunDemoScanTool,
                {"georef-demo-scan", sheet, dir.File("scans/" + sheet + ".jpg"), dir.File("scans/" + sheet + ".txt"),
                 "--style", "realistic", "--vary", "--seed", sheet, "--dpi", "100", "--landscape", "7", "--decoy",
                 "none", "--bow", "0"});
            if (drawn.status != 0) {
                throw std::runtime_error("georef-demo-scan failed: " + drawn.err);
            }
        }
        exact = ReadCorners(dir.File("scans/40572.txt"));
        shifted = exact;
        for (geometry::CornerPoint& c : shifted) {
            c.y += kShiftPixels;  // the whole neat line read too high: the sheet painted south of its place
        }
        geometry::WriteCornerFile(dir.File("scans/40572.txt"), shifted, geometry::CornerPrecision::exact);
        config = dir.File("config.bin");
        if (test::RunInProcess(tools::RunConfigTool, {"georef-config", "40571", "40572", "-o", config}).status != 0) {
            throw std::runtime_error("georef-config failed");
        }
        scanHeight = ScanView::SizeOf(dir.File("scans/40572.jpg")).second;
        out = dir.File("out");
        std::vector<std::string> args = {"georef-batch", dir.File("scans"), out, "100", "--config", config};
        args.insert(args.end(), more.begin(), more.end());
        batch = test::RunInProcess(BatchMain, args);
    }
};

// Saves corners (image frame) for 40572 in the workbench: the answer, JSON.
json SaveCorners(httplib::Client& client, const httplib::Headers& headers, const geometry::CornerPoints& points,
                 int scanHeight) {
    json corners = json::array();
    for (const geometry::CornerPoint& c : points) {
        const corners::PlanePoint p = corners::PlaneFromCorner(c, scanHeight);
        corners.push_back({p.column, p.row});
    }
    const httplib::Result saved =
        client.Post("/api/sheet/40572/save", headers, json{{"corners", corners}}.dump(), "application/json");
    if (!saved || saved->status != 200) {
        ADD_FAILURE() << "no saved sheet: " << (saved ? saved->body : std::string("no answer"));
        return json::object();
    }
    return json::parse(saved->body);
}

httplib::Headers ChangeHeaders(const ReviewProcess& review) {
    return {{"Cookie", "georef_review=" + review.Token()}, {"X-Georef-Review", "1"}};
}

TEST(SeamsAfterAFix, ASheetPaintedOffAndFixedHasItsSeamMeasuredOkAgain) {
    const test::TempDir dir;
    const ShiftedArea area(dir, {});
    const std::string& out = area.out;
    ASSERT_EQ(area.batch.status, 0) << area.batch.out << area.batch.err;
    ASSERT_EQ(OnlySeam(out), seams::SeamStatus::suspect) << area.batch.out;

    ReviewProcess review(out, area.config, dir.Path());
    httplib::Client client("127.0.0.1", review.Port());
    client.set_read_timeout(300, 0);
    const httplib::Headers headers = ChangeHeaders(review);
    const json outcome = SaveCorners(client, headers, area.exact, area.scanHeight);
    EXPECT_EQ(outcome["status"], "done") << outcome;
    EXPECT_EQ(outcome["seams"], "ok") << outcome;

    EXPECT_EQ(OnlySeam(out), seams::SeamStatus::ok);
    std::ifstream summary(out + "/summary.csv");
    std::string line;
    std::getline(summary, line);
    EXPECT_NE(line.find(",seams"), std::string::npos) << line;
    int rows = 0;
    while (std::getline(summary, line)) {
        ++rows;
        EXPECT_EQ(line.find("suspect"), std::string::npos) << line;
    }
    EXPECT_EQ(rows, 2);
    const httplib::Result page = client.Get("/review/index.html", headers);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("class=\"seam seam-ok\""), std::string::npos);
    EXPECT_EQ(page->body.find("class=\"seam seam-suspect\""), std::string::npos);

    const test::ProcessResult ended = review.Stop(SIGTERM);
    EXPECT_EQ(ended.exitStatus, 0) << ended.err;
    EXPECT_EQ(TemporaryFilesUnder(dir.Path()), std::vector<std::string>{});
}

// The fix is judged with the batch's --seam-threshold, which the journal
// keeps: at 60 m the 44 m seam is ok for the batch, and stays ok when the
// workbench runs the sheet again from the same corners (at the default 25 m
// it would turn suspect).
TEST(SeamsAfterAFix, AFixIsJudgedWithTheBatchsSeamThreshold) {
    const test::TempDir dir;
    const ShiftedArea area(dir, {"--seam-threshold", "60"});
    ASSERT_EQ(area.batch.status, 0) << area.batch.out << area.batch.err;
    ASSERT_EQ(OnlySeam(area.out), seams::SeamStatus::ok) << area.batch.out;
    EXPECT_EQ(batch::Journal::Load(area.out).SeamThresholdMetres(), std::optional<double>(60.0));

    ReviewProcess review(area.out, area.config, dir.Path());
    httplib::Client client("127.0.0.1", review.Port());
    client.set_read_timeout(300, 0);
    const json outcome = SaveCorners(client, ChangeHeaders(review), area.shifted, area.scanHeight);
    EXPECT_EQ(outcome["status"], "done") << outcome;
    EXPECT_EQ(outcome["seams"], "ok") << outcome;
    const std::vector<seams::SeamMeasurement> table = seams::ReadSeamsCsv(area.out + "/" + seams::kSeamsFile);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.front().status, seams::SeamStatus::ok);
    ASSERT_TRUE(table.front().OffsetMetres());
    EXPECT_GT(*table.front().OffsetMetres(), 25.0);  // suspect at the default threshold
    EXPECT_EQ(batch::Journal::Load(area.out).SeamThresholdMetres(), std::optional<double>(60.0));
    EXPECT_EQ(review.Stop(SIGTERM).exitStatus, 0);
}

}  // namespace
}  // namespace georef::workbench
