// Seams measured through the real programs: two neighbouring sheets drawn
// from one landscape (as georef-demo-scan draws them), georeferenced by
// georef-batch, which measures their seam into seams.csv, marks the sheets in
// summary.csv and shows the seam on its review page; georef-seams measures
// the same directory alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gdal.h>
#include <gdal_utils.h>

#include "review/sheet_outlines.hpp"
#include "seams/seam_strip.hpp"
#include "seams/seam_survey.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "tools/batch_tool.hpp"
#include "tools/config_tool.hpp"
#include "tools/demo_scan_tool.hpp"
#include "tools/seams_tool.hpp"

namespace georef::seams {
namespace {

constexpr double kScanDpi = 100.0;
constexpr double kScanPixelMetres = 635.0 / kScanDpi;

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

// Draws 40571 and 40572 into dir/scans (the second shifted north by
// shiftNorth metres, or with blankSecond a page without a map under the
// corner file of its map; neither bowed, which would move content off the
// corners), writes config.bin and runs georef-batch into dir/tiles.
test::ToolResult DrawAndRun(const std::string& dir, double shiftNorth, bool blankSecond = false) {
    std::filesystem::create_directories(dir + "/scans");
    for (const std::string sheet : {"40571", "40572"}) {
        std::vector<std::string> args = {"georef-demo-scan", sheet, dir + "/scans/" + sheet + ".jpg",
                                         dir + "/scans/" + sheet + ".txt", "--style", "realistic", "--vary",
                                         "--seed", sheet, "--dpi", "100", "--landscape", "7", "--decoy", "none", "--bow", "0"};
        if (sheet == "40572" && shiftNorth != 0.0) {
            args.push_back("--shift");
            args.push_back("0," + std::to_string(shiftNorth));
        }
        const test::ToolResult drawn = test::RunInProcess(tools::RunDemoScanTool, args);
        EXPECT_EQ(drawn.status, 0) << drawn.err;
        if (sheet == "40572" && blankSecond) {
            args[3] = dir + "/scans/blank.txt";  // none is written
            args.push_back("--page");
            args.push_back("blank");
            EXPECT_EQ(test::RunInProcess(tools::RunDemoScanTool, args).status, 0);
        }
    }
    const test::ToolResult config = test::RunInProcess(
        tools::RunConfigTool, {"georef-config", "40571", "40572", "-o", dir + "/config.bin"});
    EXPECT_EQ(config.status, 0) << config.err;
    return test::RunInProcess(BatchMain, {"georef-batch", dir + "/scans", dir + "/tiles", "100", "--config",
                                          dir + "/config.bin", "--jobs", "2"});
}

// The comma-separated fields of a line (none of these hold quotes).
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

// Sheet -> the seams column of summary.csv.
std::map<std::string, std::string> SeamVerdicts(const std::string& csv) {
    std::map<std::string, std::string> verdicts;
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = Fields(line);
    const std::size_t column = std::find(header.begin(), header.end(), "seams") - header.begin();
    EXPECT_LT(column, header.size()) << line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = Fields(line);
        verdicts[fields[0]] = column < fields.size() ? fields[column] : "";
    }
    return verdicts;
}

TEST(SeamsThroughTheBatch, NeighboursFromOneLandscapeMeetWithinAPixel) {
    test::TempDir dir;
    const test::ToolResult batch = DrawAndRun(dir.Path(), 0.0);
    ASSERT_EQ(batch.status, 0) << batch.out << batch.err;
    EXPECT_NE(batch.out.find("seams: " + dir.Path() + "/tiles/seams.csv"), std::string::npos) << batch.out;
    const std::vector<SeamMeasurement> seams = ReadSeamsCsv(dir.File("tiles/seams.csv"));
    ASSERT_EQ(seams.size(), 1u);
    const SeamMeasurement& seam = seams[0];
    EXPECT_EQ(seam.sheet, 40571);
    EXPECT_EQ(seam.neighbour, 40572);
    EXPECT_TRUE(seam.meridian);
    EXPECT_NEAR(seam.lengthMetres, 13900.0, 100.0);
    EXPECT_EQ(seam.status, SeamStatus::ok);
    EXPECT_GE(seam.features, 4);
    ASSERT_TRUE(seam.OffsetMetres());
    EXPECT_LT(*seam.OffsetMetres(), kScanPixelMetres);
    const std::map<std::string, std::string> verdicts = SeamVerdicts(dir.File("tiles/summary.csv"));
    EXPECT_EQ(verdicts.at("40571"), "ok");
    EXPECT_EQ(verdicts.at("40572"), "ok");
    const std::string page = test::ReadFileBytes(dir.File("tiles/review/index.html"));
    EXPECT_NE(page.find("class=\"seam seam-ok\""), std::string::npos);

    // A second batch paints nothing and keeps the table.
    const test::ToolResult again = test::RunInProcess(BatchMain, {"georef-batch", dir.Path() + "/scans",
                                                                  dir.Path() + "/tiles", "100", "--config",
                                                                  dir.Path() + "/config.bin"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadSeamsCsv(dir.File("tiles/seams.csv")).size(), 1u);
    EXPECT_EQ(SeamVerdicts(dir.File("tiles/summary.csv")).at("40572"), "ok");

    // The strips cut from the tiles decoded piece by piece are those GDAL
    // reads from the same mosaic written out as one image.
    GDALAllRegister();
    GDALDatasetH vrt = GDALOpen(dir.File("tiles/mosaic.vrt").c_str(), GA_ReadOnly);
    ASSERT_NE(vrt, nullptr);
    GDALClose(GDALTranslate(dir.File("mosaic.tif").c_str(), vrt, nullptr, nullptr));
    GDALClose(vrt);
    const std::vector<review::SharedEdge> edges =
        review::FindSharedEdges(review::ReadSheetOutlines(dir.File("config.bin")));
    const MosaicReader fromTiles(dir.File("tiles/mosaic.vrt"));
    const MosaicReader fromImage(dir.File("mosaic.tif"));
    const std::vector<SeamStrip> cut = fromTiles.Strips(edges, 40, 0.02);
    const std::vector<SeamStrip> read = fromImage.Strips(edges, 40, 0.02);
    ASSERT_EQ(cut.size(), read.size());
    for (std::size_t k = 0; k < cut.size(); ++k) {
        ASSERT_EQ(cut[k].ink.size(), read[k].ink.size());
        EXPECT_GT(cv::countNonZero(cut[k].valid), cut[k].valid.total() / 2);
        EXPECT_EQ(cv::countNonZero(cut[k].ink != read[k].ink), 0);
        EXPECT_EQ(cv::countNonZero(cut[k].valid != read[k].valid), 0);
        const SeamStrip alone = fromTiles.Strip(edges[k], 40, 0.02);
        EXPECT_EQ(cv::countNonZero(alone.ink != cut[k].ink), 0);
    }
}

TEST(SeamsThroughTheBatch, ASheetDrawnOffIsMeasuredAndSuspect) {
    test::TempDir dir;
    const double shift = 40.0;  // metres north: along the meridian they share
    const test::ToolResult batch = DrawAndRun(dir.Path(), shift);
    ASSERT_EQ(batch.status, 0) << batch.out << batch.err;  // the sheets ran: the exit status says so
    EXPECT_NE(batch.out.find("suspect sheet: 40572"), std::string::npos) << batch.out;
    const std::vector<SeamMeasurement> seams = ReadSeamsCsv(dir.File("tiles/seams.csv"));
    ASSERT_EQ(seams.size(), 1u);
    EXPECT_EQ(seams[0].status, SeamStatus::suspect);
    ASSERT_TRUE(seams[0].alongMetres);
    EXPECT_NEAR(*seams[0].alongMetres, shift, kScanPixelMetres);
    if (seams[0].acrossMetres) {
        EXPECT_NEAR(*seams[0].acrossMetres, 0.0, kScanPixelMetres);
    }
    const std::map<std::string, std::string> verdicts = SeamVerdicts(dir.File("tiles/summary.csv"));
    EXPECT_EQ(verdicts.at("40571"), "suspect");  // one seam: it cannot say which of the two is off
    EXPECT_EQ(verdicts.at("40572"), "suspect");
    const std::string page = test::ReadFileBytes(dir.File("tiles/review/index.html"));
    EXPECT_NE(page.find("class=\"seam seam-suspect\""), std::string::npos);
    EXPECT_NE(page.find("every measured seam suspect"), std::string::npos);

    // georef-seams alone: the same figures; a larger threshold makes it ok.
    const std::string tiles = dir.Path() + "/tiles";
    const std::string config = dir.Path() + "/config.bin";
    test::ToolResult alone = test::RunInProcess(tools::RunSeamsTool, {"georef-seams", tiles, "--config", config});
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_NE(alone.out.find("suspect sheet: 40571"), std::string::npos) << alone.out;
    const std::vector<SeamMeasurement> again = ReadSeamsCsv(dir.File("tiles/seams.csv"));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].alongMetres, seams[0].alongMetres);
    alone = test::RunInProcess(tools::RunSeamsTool, {"georef-seams", tiles, "--config", config, "--threshold", "100"});
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(ReadSeamsCsv(dir.File("tiles/seams.csv"))[0].status, SeamStatus::ok);
}

TEST(SeamsThroughTheBatch, LinesThatStopDeadAtTheEdgeAreSuspectAndAFailedSheetHasNoSeams) {
    test::TempDir dir;
    // The back of the paper scanned instead of 40572's map: the roads and
    // rivers of 40571 run into blank paper.
    const test::ToolResult batch = DrawAndRun(dir.Path(), 0.0, true);
    ASSERT_EQ(batch.status, 0) << batch.out << batch.err;
    std::vector<SeamMeasurement> seams = ReadSeamsCsv(dir.File("tiles/seams.csv"));
    ASSERT_EQ(seams.size(), 1u);
    EXPECT_EQ(seams[0].status, SeamStatus::suspect);
    EXPECT_EQ(seams[0].features, 0);
    EXPECT_FALSE(seams[0].alongMetres);
    EXPECT_EQ(SeamVerdicts(dir.File("tiles/summary.csv")).at("40572"), "suspect");
    EXPECT_NE(batch.out.find("suspect sheet: 40572"), std::string::npos) << batch.out;

    // 40572 run again and failed: what the mosaic holds there is no sheet's
    // finished content, so the seam is not measured and its line goes.
    test::WriteFileBytes(dir.File("scans/40572.txt"), "1 10 10\n");
    const test::ToolResult again = test::RunInProcess(BatchMain, {"georef-batch", dir.Path() + "/scans",
                                                                  dir.Path() + "/tiles", "100", "--config",
                                                                  dir.Path() + "/config.bin"});
    EXPECT_EQ(again.status, 1) << again.out;
    EXPECT_TRUE(ReadSeamsCsv(dir.File("tiles/seams.csv")).empty());
    EXPECT_EQ(SeamVerdicts(dir.File("tiles/summary.csv")).at("40571"), "");
    test::ToolResult alone = test::RunInProcess(
        tools::RunSeamsTool, {"georef-seams", dir.Path() + "/tiles", "--config", dir.Path() + "/config.bin"});
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_NE(alone.out.find("0 seams"), std::string::npos) << alone.out;
}

TEST(SeamsTool, RefusesWhatItCannotMeasure) {
    test::TempDir dir;
    EXPECT_EQ(test::RunInProcess(tools::RunSeamsTool, {"georef-seams"}).status, 2);
    EXPECT_EQ(test::RunInProcess(tools::RunSeamsTool, {"georef-seams", dir.Path(), "--threshold", "-1"}).status, 2);
    const test::ToolResult empty = test::RunInProcess(tools::RunSeamsTool, {"georef-seams", dir.Path()});
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("no finished sheet"), std::string::npos) << empty.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("seams.csv")));
}

}  // namespace
}  // namespace georef::seams
