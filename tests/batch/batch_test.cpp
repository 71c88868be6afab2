// georef-batch over a real area: the same tiles as georef run sheet by sheet,
// the journal that makes a second batch skip what is finished, failures that
// do not stop the others, one resolution per mosaic, a kill and two shards.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "area.hpp"
#include "batch/batch_run.hpp"
#include "batch/journal.hpp"
#include "batch/sheet_list.hpp"
#include "geometry/corner_fit.hpp"
#include "support/in_process.hpp"
#include "synthesis/realistic_scan.hpp"
#include "tools/batch_tool.hpp"

namespace georef::batch {
namespace {

namespace fs = std::filesystem;

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

// Sheet -> status from OUTDIR/summary.csv.
std::map<std::string, std::string> Statuses(const std::string& csv) {
    std::ifstream in(csv);
    std::map<std::string, std::string> statuses;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        const std::string::size_type comma = line.find(',');
        statuses[line.substr(0, comma)] = line.substr(comma + 1, line.find(',', comma + 1) - comma - 1);
    }
    return statuses;
}

std::map<std::string, std::string> AllStatus(const std::string& status) {
    std::map<std::string, std::string> statuses;
    for (const std::string& sheet : kSheets) {
        statuses[sheet] = status;
    }
    return statuses;
}

class Batch : public ::testing::Test {
protected:
    Batch() { Area::Get().CopyScansTo(Scans()); }

    test::ToolResult Run(std::vector<std::string> options, const std::string& out = "out") const {
        std::vector<std::string> args = {"georef-batch", Scans(), m_dir.File(out), std::to_string(kOutputDpi),
                                         "--config", Area::Get().Config()};
        args.insert(args.end(), options.begin(), options.end());
        return test::RunInProcess(BatchMain, args);
    }
    std::string Scans() const { return m_dir.File("scans"); }
    std::string Out() const { return m_dir.File("out"); }

    test::TempDir m_dir;
};

TEST_F(Batch, WrongCommandLinesExit2BeforeAnythingIsMade) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"georef-batch"},
             {"georef-batch", Scans(), Out()},
             {"georef-batch", Scans(), Out(), "0"},
             {"georef-batch", Scans(), Out(), "40", "--jobs", "two"},
             {"georef-batch", Scans(), Out(), "40", "--shard", "3/2"},
             {"georef-batch", Scans(), Out(), "40", "--shard", "0/0"},
             {"georef-batch", Scans(), Out(), "40", "--shard", "-1/2"},
             {"georef-batch", Scans(), Out(), "40", "--fast"},
             {"georef-batch", "--list", "sheets.txt", Scans(), Out(), "40"},
         }) {
        const test::ToolResult result = test::RunInProcess(BatchMain, args);
        EXPECT_EQ(result.status, 2) << args.size();
        EXPECT_NE(result.err.find("usage: georef-batch"), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(Out()));
    const test::ToolResult noConfig = test::RunInProcess(BatchMain, {"georef-batch", Scans(), Out(), "40", "--config", m_dir.File("none.bin")});
    EXPECT_EQ(noConfig.status, 1);
    EXPECT_NE(noConfig.err.find("cannot read the transformation file"), std::string::npos) << noConfig.err;
    EXPECT_FALSE(fs::exists(Out()));
}

TEST_F(Batch, MakesTheTilesOfGeorefSheetBySheetAndSkipsWhatIsFinished) {
    const test::ToolResult first = Run({"--jobs", "2"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_EQ(Statuses(Out() + "/summary.csv"), AllStatus("done"));
    for (const std::string& sheet : kSheets) {
        const std::string log = test::ReadFileBytes(Out() + "/logs/" + sheet + ".log");
        EXPECT_NE(log.find("program dobehl do konce"), std::string::npos) << sheet;
    }
    RunSequentially(m_dir.File("sequential"));
    const TileComparison comparison = CompareTiles(m_dir.File("sequential"), Out());
    EXPECT_TRUE(comparison.onlyInOne.empty());
    EXPECT_LT(comparison.worstShare, kLostSheetShare) << comparison.worstTile;

    // Nothing changed: nothing runs, no tile is touched.
    const std::map<std::string, std::string> tiles = TileBytes(Out());
    const test::ToolResult second = Run({});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(Statuses(Out() + "/summary.csv"), AllStatus("skipped"));
    EXPECT_EQ(TileBytes(Out()), tiles);

    // A changed corner file redoes that sheet only; --force redoes all.
    std::ofstream(Scans() + "/40572.txt", std::ios::app) << "# measured again\n";
    EXPECT_EQ(Run({}).status, 0);
    std::map<std::string, std::string> expected = AllStatus("skipped");
    expected["40572"] = "done";
    EXPECT_EQ(Statuses(Out() + "/summary.csv"), expected);
    EXPECT_EQ(Run({"--force", "--jobs", "1"}).status, 0);
    EXPECT_EQ(Statuses(Out() + "/summary.csv"), AllStatus("done"));
}

TEST_F(Batch, ASheetWithoutCornersFailsAndTheOthersRun) {
    fs::create_directory(m_dir.File("corners"));
    for (const char* sheet : {"40571", "40573", "40574"}) {
        fs::rename(Scans() + "/" + sheet + ".txt", m_dir.File(std::string("corners/") + sheet + ".txt"));
    }
    fs::remove(Scans() + "/40572.txt");
    test::WriteFileBytes(Scans() + "/40574.jpg", "not a scan");
    const test::ToolResult result = Run({"--corners", m_dir.File("corners")});
    EXPECT_EQ(result.status, 1);
    std::map<std::string, std::string> expected = AllStatus("done");
    expected["40572"] = "failed";
    expected["40574"] = "failed";
    EXPECT_EQ(Statuses(Out() + "/summary.csv"), expected);
    EXPECT_NE(result.out.find("40572  failed"), std::string::npos) << result.out;
    // The finder's reason first, then where a corner file was looked for.
    const std::size_t refused = result.out.find("40572 failed: the corner finder refused: ");
    EXPECT_NE(refused, std::string::npos) << result.out;
    const std::size_t looked =
        result.out.find("; no corner file given (looked for 40572.txt in " + Out() + "/corners/hand, in " +
                        m_dir.File("corners") + " and beside the scan in " + Scans() + ")");
    EXPECT_NE(looked, std::string::npos) << result.out;
    EXPECT_LT(refused, looked);
    EXPECT_EQ(result.out.find("(no corner file at"), std::string::npos) << result.out;
    // What is wrong with the scan comes first, with GDAL's reason.
    EXPECT_NE(result.out.find("40574 failed: cannot read the scan " + Scans() + "/40574.jpg: not an image"),
              std::string::npos)
        << result.out;
    std::size_t done = 0;
    const Journal journal = Journal::Load(Out());
    for (const auto& [sheet, entry] : journal.Entries()) {
        done += entry.status == SheetStatus::done ? 1 : 0;
    }
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(Journal::Load(Out()).Size(), 4u);  // the failures are the area's state too
}

TEST_F(Batch, RefusesAnOutputDirectoryOfAnotherResolution) {
    // Tiles that georef alone made at 30 dpi, without a journal.
    fs::create_directory(Out());
    ASSERT_EQ(test::RunGeoref({"40571", Scans() + "/40571.txt", Scans() + "/40571.jpg", Out(), "30"},
                              Area::Get().Dir()).exitStatus, 0);
    const std::map<std::string, std::string> tiles = TileBytes(Out());
    const test::ToolResult result = Run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("one mosaic has one resolution"), std::string::npos) << result.err;
    EXPECT_EQ(TileBytes(Out()), tiles);
    EXPECT_FALSE(fs::exists(Out() + "/logs"));

    const test::ToolResult empty = test::RunInProcess(
        BatchMain, {"georef-batch", m_dir.File("nothing"), Out(), "30", "--config", Area::Get().Config()});
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("cannot read the scan directory"), std::string::npos) << empty.err;
}

// A world file is read for its value: the same pixel edge written with more
// digits is the same resolution, another is not, nor is a line of text.
TEST(OneResolution, WorldFilesAreComparedByValue) {
    test::TempDir dir;
    const auto check = [&](const std::string& firstLine) {
        test::WriteFileBytes(dir.File("104_52.jgw"), firstLine + "\n0\n0\n-2.11685\n-520000\n-1.04e+006\n");
        CheckOneResolution(dir.Path(), 300);  // 4724-pixel tiles, 2.11685 m
    };
    EXPECT_NO_THROW(check("2.11685"));
    EXPECT_NO_THROW(check("2.116850"));
    EXPECT_NO_THROW(check("2.1168501377105713"));
    EXPECT_THROW(check("2.1097"), BatchError);  // 301 dpi
    EXPECT_THROW(check("2.11685 m"), BatchError);
    EXPECT_THROW(check("pixel"), BatchError);
    EXPECT_THROW(check("nan"), BatchError);
}

// A batch killed with SIGKILL once some sheets are finished resumes: the
// finished sheets are not run again and the tiles end as an uninterrupted
// batch leaves them.
TEST_F(Batch, KilledAndRestartedEndsWithTheTilesOfAnUninterruptedBatch) {
    ASSERT_EQ(Run({}, "uninterrupted").status, 0);
    fs::create_directory(Out());
    test::ChildProcess batch(BatchExe(), {Scans(), Out(), std::to_string(kOutputDpi), "--jobs", "2", "--config",
                                                   Area::Get().Config()},
                                     m_dir.Path());
    // Kill it as soon as the first sheet is in the journal, with the others running.
    for (int i = 0; i < 3000 && Journal::Load(Out()).Size() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    batch.Signal(SIGKILL);
    batch.Wait();
    const std::size_t finished = Journal::Load(Out()).Size();
    ASSERT_GE(finished, 1u);

    ASSERT_EQ(Run({}).status, 0);
    std::size_t skipped = 0;
    for (const auto& [sheet, status] : Statuses(Out() + "/summary.csv")) {
        skipped += status == "skipped" ? 1 : 0;
    }
    EXPECT_EQ(skipped, finished);
    const TileComparison comparison = CompareTiles(m_dir.File("uninterrupted"), Out());
    EXPECT_TRUE(comparison.onlyInOne.empty());
    EXPECT_LT(comparison.worstShare, kLostSheetShare) << comparison.worstTile;
}

TEST_F(Batch, TwoShardsAtOnceMakeWhatOneBatchMakes) {
    ASSERT_EQ(Run({}, "whole").status, 0);
    fs::create_directory(Out());
    std::vector<std::unique_ptr<test::ChildProcess>> shards;
    for (const char* shard : {"1/2", "2/2"}) {
        const std::vector<std::string> args = {Scans(), Out(), std::to_string(kOutputDpi), "--shard", shard,
                                               "--config", Area::Get().Config()};
        shards.push_back(std::make_unique<test::ChildProcess>(BatchExe(), args, m_dir.Path()));
    }
    for (const std::unique_ptr<test::ChildProcess>& shard : shards) {
        EXPECT_EQ(shard->Wait().exitStatus, 0);
    }
    // Each shard's summary holds its own sheets and what the journal knew of the others.
    for (const char* csv : {"/summary-1-of-2.csv", "/summary-2-of-2.csv"}) {
        const std::string text = test::ReadFileBytes(Out() + csv);
        std::size_t own = 0;
        for (std::string::size_type at = text.find(",this\n"); at != std::string::npos; at = text.find(",this\n", at + 1)) {
            ++own;
        }
        EXPECT_EQ(own, 2u) << text;
    }
    EXPECT_EQ(Journal::Load(Out()).Size(), kSheets.size());
    const TileComparison comparison = CompareTiles(m_dir.File("whole"), Out());
    EXPECT_TRUE(comparison.onlyInOne.empty());
    EXPECT_LT(comparison.worstShare, kLostSheetShare) << comparison.worstTile;
    EXPECT_EQ(test::ReadFileBytes(Out() + "/mosaic.vrt"), test::ReadFileBytes(m_dir.File("whole/mosaic.vrt")));
}

// A job array numbered from 0 names the last share 0; resubmitted under its
// other name it is the same share, finished.
TEST_F(Batch, ShardZeroIsTheLastShare) {
    ASSERT_EQ(Run({"--shard", "0/2"}).status, 0);
    const std::map<std::string, std::string> done = {{"40573", "done"}, {"40574", "done"}};
    EXPECT_EQ(Statuses(Out() + "/summary-2-of-2.csv"), done);
    EXPECT_FALSE(fs::exists(Out() + "/summary-0-of-2.csv"));
    ASSERT_EQ(Run({"--shard", "2/2"}).status, 0);
    const std::map<std::string, std::string> skipped = {{"40573", "skipped"}, {"40574", "skipped"}};
    EXPECT_EQ(Statuses(Out() + "/summary-2-of-2.csv"), skipped);
    EXPECT_EQ(Journal::Load(Out()).Size(), 2u);
}

// Scans without corner files: the corner finder finds those of a realistic
// scan (and writes them with its picture into OUTDIR/corners) and refuses a
// page without a map; the review page is written; a second batch uses the
// corners found before and skips the sheet.
TEST_F(Batch, FindsMissingCornersRefusesAPageWithoutAMapAndWritesTheReviewPage) {
    fs::create_directory(m_dir.File("found"));
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(5);
    options.dpi = 150.0;
    const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(40571, m_dir.File("found/40571.jpg"), options);
    options.page = synthesis::PageContent::blank;
    synthesis::WriteRealisticScan(40572, m_dir.File("found/40572.jpg"), options);

    const auto run = [&] {
        return test::RunInProcess(BatchMain, {"georef-batch", m_dir.File("found"), Out(), std::to_string(kOutputDpi),
                                              "--config", Area::Get().Config()});
    };
    const test::ToolResult first = run();
    EXPECT_EQ(first.status, 1) << first.out << first.err;
    EXPECT_EQ(Statuses(Out() + "/summary.csv"),
              (std::map<std::string, std::string>{{"40571", "done"}, {"40572", "failed"}}));
    EXPECT_NE(first.out.find("the corner finder refused"), std::string::npos) << first.out;

    std::ifstream in(Out() + "/corners/40571.txt");
    const std::optional<geometry::CornerPoints> found = geometry::ReadCornerPoints(in);
    ASSERT_TRUE(found);
    for (int k = 0; k < 4; ++k) {
        EXPECT_LT(std::hypot((*found)[k].x - scan.corners[k].x, (*found)[k].y - scan.corners[k].y), 1.0) << k;
    }
    EXPECT_GT(fs::file_size(Out() + "/corners/40571.png"), 0u);
    EXPECT_FALSE(fs::exists(Out() + "/corners/40572.txt"));
    const std::string page = test::ReadFileBytes(Out() + "/review/index.html");
    EXPECT_NE(page.find("corners/40571.png"), std::string::npos);
    EXPECT_NE(first.out.find("review: " + Out() + "/review/index.html"), std::string::npos) << first.out;

    const test::ToolResult second = run();
    EXPECT_EQ(Statuses(Out() + "/summary.csv"),
              (std::map<std::string, std::string>{{"40571", "skipped"}, {"40572", "failed"}}))
        << second.out;
}

}  // namespace
}  // namespace georef::batch
