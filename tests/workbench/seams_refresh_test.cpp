// A sheet painted off its place, fixed in georef-review: two neighbouring
// sheets drawn from one landscape, the second's corner file shifted by
// seven scan pixels (about 44 m), so the batch paints it off and measures
// their seam suspect. Saving the drawn corners runs the sheet again and
// measures its seams again: seams.csv, summary.csv and the served review
// page all say the seam is ok.

#include <gtest/gtest.h>

#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

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

TEST(SeamsAfterAFix, ASheetPaintedOffAndFixedHasItsSeamMeasuredOkAgain) {
    const test::TempDir dir;
    fs::create_directories(dir.File("scans"));
    for (const std::string sheet : {"40571", "40572"}) {
        const test::ToolResult drawn = test::RunInProcess(
            tools::RunDemoScanTool,
            {"georef-demo-scan", sheet, dir.File("scans/" + sheet + ".jpg"), dir.File("scans/" + sheet + ".txt"),
             "--style", "realistic", "--vary", "--seed", sheet, "--dpi", "100", "--landscape", "7", "--decoy", "none",
             "--bow", "0"});
        ASSERT_EQ(drawn.status, 0) << drawn.err;
    }
    const geometry::CornerPoints exact = ReadCorners(dir.File("scans/40572.txt"));
    geometry::CornerPoints shifted = exact;
    for (geometry::CornerPoint& c : shifted) {
        c.y += kShiftPixels;  // the whole neat line read too high: the sheet painted south of its place
    }
    geometry::WriteCornerFile(dir.File("scans/40572.txt"), shifted, geometry::CornerPrecision::exact);
    ASSERT_EQ(test::RunInProcess(tools::RunConfigTool, {"georef-config", "40571", "40572", "-o", dir.File("config.bin")})
                  .status,
              0);
    const std::string out = dir.File("out");
    const test::ToolResult batch = test::RunInProcess(
        BatchMain, {"georef-batch", dir.File("scans"), out, "100", "--config", dir.File("config.bin")});
    ASSERT_EQ(batch.status, 0) << batch.out << batch.err;
    ASSERT_EQ(OnlySeam(out), seams::SeamStatus::suspect) << batch.out;

    ReviewProcess review(out, dir.File("config.bin"), dir.Path());
    httplib::Client client("127.0.0.1", review.Port());
    client.set_read_timeout(300, 0);
    const httplib::Headers headers = {{"Cookie", "georef_review=" + review.Token()}, {"X-Georef-Review", "1"}};
    const int height = ScanView::SizeOf(dir.File("scans/40572.jpg")).second;
    json corners = json::array();
    for (const geometry::CornerPoint& c : exact) {
        const corners::PlanePoint p = corners::PlaneFromCorner(c, height);
        corners.push_back({p.column, p.row});
    }
    const httplib::Result saved =
        client.Post("/api/sheet/40572/save", headers, json{{"corners", corners}}.dump(), "application/json");
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->status, 200) << saved->body;
    const json outcome = json::parse(saved->body);
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

}  // namespace
}  // namespace georef::workbench
