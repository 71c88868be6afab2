// georef-demo-scan's command line over the realistic style: the refusal
// cases draw what they should, wrong options and impossible conditions
// write nothing new.

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "geometry/corner_fit.hpp"
#include "platform/file_system.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "tools/demo_scan_tool.hpp"

namespace georef::tools {
namespace {

TEST(DemoScanTool, RefusalCasesAndBadOptionsOfTheRealisticStyle) {
    test::TempDir dir;
    const auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"georef-demo-scan", "40571", dir.File("s.jpg"), dir.File("s.txt"),
                                         "--style", "realistic", "--dpi", "40"};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::RunInProcess(RunDemoScanTool, args);
    };
    // A page without a map has no corners: no corner file.
    const test::ToolResult blank = run({"--page", "text"});
    EXPECT_EQ(blank.status, 0) << blank.err;
    EXPECT_TRUE(platform::Exists(dir.File("s.jpg")));
    EXPECT_FALSE(platform::Exists(dir.File("s.txt")));
    EXPECT_NE(blank.out.find("without a map"), std::string::npos);

    // The west side cut off: both west corners lie left of the image.
    const test::ToolResult cropped = run({"--crop", "west", "--vary", "--seed", "3"});
    ASSERT_EQ(cropped.status, 0) << cropped.err;
    std::ifstream in(dir.File("s.txt"));
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    ASSERT_TRUE(corners.has_value());
    EXPECT_LT((*corners)[0].x, 0.0);
    EXPECT_LT((*corners)[1].x, 0.0);
    EXPECT_GT((*corners)[2].x, 0.0);

    // Wrong command lines and impossible conditions write nothing new.
    const std::string before = test::ReadFileBytes(dir.File("s.jpg"));
    EXPECT_EQ(run({"--bow"}).status, 2);
    EXPECT_EQ(run({"--border", "dotted"}).status, 2);
    EXPECT_EQ(run({"--stains", "2.5"}).status, 2);
    const test::ToolResult plainOnly = test::RunInProcess(
        RunDemoScanTool, {"georef-demo-scan", "40571", dir.File("s.jpg"), dir.File("s.txt"), "--grain", "3"});
    EXPECT_EQ(plainOnly.status, 2);
    EXPECT_NE(plainOnly.err.find("--style realistic"), std::string::npos);
    const test::ToolResult gap = run({"--frame-gap", "2"});
    EXPECT_EQ(gap.status, 1);
    EXPECT_NE(gap.err.find("outer frame"), std::string::npos);
    EXPECT_EQ(run({"--scale", "3"}).status, 1);
    EXPECT_EQ(test::ReadFileBytes(dir.File("s.jpg")), before);
}

}  // namespace
}  // namespace georef::tools
