// What makes a batch's "done" trustworthy, through real scans, corner files
// and tiles: every corner source checked before painting, found corners
// kept for the scan's bytes (not its name or date), a finished sheet
// recognised by content wherever its folder lies, and the whole area's state
// in summary.csv and on the review page.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>

#include "area.hpp"
#include "tools/batch_tool.hpp"
#include "batch/content_key.hpp"
#include "batch/journal.hpp"
#include "geometry/corner_fit.hpp"
#include "platform/atomic_file.hpp"
#include "support/in_process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "tools/config_tool.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::batch {
namespace {

namespace fs = std::filesystem;

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

// summary.csv as sheet -> (status, batch column).
std::map<std::string, std::pair<std::string, std::string>> Summary(const std::string& csv) {
    std::ifstream in(csv);
    std::map<std::string, std::pair<std::string, std::string>> rows;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::string::size_type comma = line.find(',');
        const std::string status = line.substr(comma + 1, line.find(',', comma + 1) - comma - 1);
        rows[line.substr(0, comma)] = {status, line.substr(line.rfind(',') + 1)};
    }
    return rows;
}

std::string StatusOf(const std::string& csv, const std::string& sheet) {
    return Summary(csv)[sheet].first;
}

geometry::CornerPoints ReadCornerFile(const std::string& path) {
    std::ifstream in(path);
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    if (!corners) {
        throw std::runtime_error("no corners in " + path);
    }
    return *corners;
}

void WriteCorners(const std::string& path, const geometry::CornerPoints& corners) {
    std::ofstream out(path, std::ios::trunc);
    out.precision(10);
    for (const geometry::CornerPoint& c : corners) {
        out << c.id << ' ' << c.x << ' ' << c.y << '\n';
    }
}

class Trust : public ::testing::Test {
protected:
    Trust() { Area::Get().CopyScansTo(Scans()); }

    test::ToolResult Run(const std::string& scans, std::vector<std::string> options = {},
                         const std::string& config = Area::Get().Config()) const {
        std::vector<std::string> args = {"georef-batch", scans, Out(), std::to_string(kOutputDpi), "--config",
                                         config};
        args.insert(args.end(), options.begin(), options.end());
        return test::RunInProcess(BatchMain, args);
    }
    test::ToolResult Run() const { return Run(Scans()); }
    test::ToolResult RunWith(std::vector<std::string> options) const { return Run(Scans(), options); }
    std::string Scans() const { return m_dir.File("scans"); }
    std::string Out() const { return m_dir.File("out"); }
    std::string Csv() const { return Out() + "/summary.csv"; }

    test::TempDir m_dir;
};

// A scan's height in pixels, from the JPEG itself.
int HeightOf(const std::string& jpeg) {
    return test::ReadJpeg(jpeg).height;
}

TEST_F(Trust, HandMadeCornerFilesThatWouldPaintWrongFailRedWithTheirFigures) {
    // 40571: every y counted from the top, the classic mistake.
    const int height = HeightOf(Scans() + "/40571.jpg");
    geometry::CornerPoints flipped = ReadCornerFile(Scans() + "/40571.txt");
    for (geometry::CornerPoint& c : flipped) {
        c.y = height - 2.0 - c.y;
    }
    WriteCorners(Scans() + "/40571.txt", flipped);
    // 40572: one corner (LH) counted from the top.
    geometry::CornerPoints one = ReadCornerFile(Scans() + "/40572.txt");
    one[1].y = HeightOf(Scans() + "/40572.jpg") - 2.0 - one[1].y;
    WriteCorners(Scans() + "/40572.txt", one);
    // 40573: a corner file in --corners, mirrored too.
    fs::create_directory(m_dir.File("corners"));
    geometry::CornerPoints other = ReadCornerFile(Scans() + "/40573.txt");
    for (geometry::CornerPoint& c : other) {
        c.y = HeightOf(Scans() + "/40573.jpg") - 2.0 - c.y;
    }
    WriteCorners(m_dir.File("corners/40573.txt"), other);

    const test::ToolResult result = RunWith({"--corners", m_dir.File("corners")});
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_EQ(StatusOf(Csv(), "40571"), "failed");
    EXPECT_EQ(StatusOf(Csv(), "40572"), "failed");
    EXPECT_EQ(StatusOf(Csv(), "40573"), "failed");
    EXPECT_EQ(StatusOf(Csv(), "40574"), "done");  // the control
    EXPECT_NE(result.out.find("mirrored fit"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("off the fit of the four"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("worst corner"), std::string::npos) << result.out;
    for (const char* sheet : {"40571", "40572", "40573"}) {
        EXPECT_FALSE(fs::exists(Out() + "/logs/" + sheet + ".log")) << sheet << ": it ran";
        EXPECT_GT(fs::file_size(Out() + "/corners/" + sheet + ".png"), 0u) << sheet;
    }
    const std::string page = test::ReadFileBytes(Out() + "/review/index.html");
    EXPECT_NE(page.find("mirrored fit"), std::string::npos);

    // georef alone paints them as it always did, and says so on its error stream.
    fs::create_directory(m_dir.File("alone"));
    const test::ProcessResult alone = test::RunGeoref(
        {"40571", Scans() + "/40571.txt", Scans() + "/40571.jpg", m_dir.File("alone"), "40"}, Area::Get().Dir());
    EXPECT_EQ(alone.exitStatus, 0);
    EXPECT_NE(alone.err.find("mirrored fit"), std::string::npos) << alone.err;
    EXPECT_EQ(alone.out.find("warning"), std::string::npos) << alone.out;
    const test::ProcessResult skewed = test::RunGeoref(
        {"40572", Scans() + "/40572.txt", Scans() + "/40572.jpg", m_dir.File("alone"), "40"}, Area::Get().Dir());
    EXPECT_EQ(skewed.exitStatus, 0);
    EXPECT_NE(skewed.err.find("off the fit of the four"), std::string::npos) << skewed.err;
    const test::ProcessResult sound = test::RunGeoref(
        {"40574", Scans() + "/40574.txt", Scans() + "/40574.jpg", m_dir.File("alone"), "40"}, Area::Get().Dir());
    EXPECT_EQ(sound.err, "");
}

// Film scanned from its back: the scan itself is mirrored, and so are its
// true corners. Refused unless the option says so; then painted right.
TEST_F(Trust, AMirroredScanIsPaintedOnlyWithTheOptionAndThenRight) {
    const test::JpegImage scan = test::ReadJpeg(Scans() + "/40573.jpg");
    test::WriteJpeg(Scans() + "/40573.jpg", scan.width, scan.height,
                    [&](int column, int row) { return scan.At(scan.width - 1 - column, row); });
    geometry::CornerPoints corners = ReadCornerFile(Scans() + "/40573.txt");
    for (geometry::CornerPoint& c : corners) {
        c.x = scan.width - 2.0 - c.x;
    }
    WriteCorners(Scans() + "/40573.txt", corners);

    EXPECT_EQ(Run().status, 1);
    EXPECT_EQ(StatusOf(Csv(), "40573"), "failed");
    const test::ToolResult accepted = RunWith({"--accept-mirrored"});
    EXPECT_EQ(accepted.status, 0) << accepted.out;
    EXPECT_EQ(StatusOf(Csv(), "40573"), "done");

    RunSequentially(m_dir.File("reference"));
    const TileComparison comparison = CompareTiles(m_dir.File("reference"), Out());
    EXPECT_TRUE(comparison.onlyInOne.empty());
    EXPECT_LT(comparison.worstShare, kLostSheetShare) << comparison.worstTile;
}

TEST_F(Trust, ARenamedScanFolderAndAWiderConfigSkipEveryFinishedSheet) {
    ASSERT_EQ(Run().status, 0);
    const std::map<std::string, std::string> tiles = TileBytes(Out());
    fs::rename(Scans(), m_dir.File("scans-2023"));
    std::vector<std::string> args = {"georef-config", "-o", m_dir.File("wider.bin")};
    args.insert(args.end(), kSheets.begin(), kSheets.end());
    args.insert(args.end(), {"40581", "40583"});
    ASSERT_EQ(test::RunInProcess(tools::RunConfigTool, args).status, 0);

    const test::ToolResult again = Run(m_dir.File("scans-2023"), {}, m_dir.File("wider.bin"));
    EXPECT_EQ(again.status, 0) << again.out;
    for (const std::string& sheet : kSheets) {
        EXPECT_EQ(StatusOf(Csv(), sheet), "skipped") << again.out;
    }
    EXPECT_EQ(TileBytes(Out()), tiles);
    // Nothing changed since: the page in place stays, not drawn again.
    const std::string page = test::ReadFileBytes(Out() + "/review/index.html");
    const test::ToolResult third = Run(m_dir.File("scans-2023"), {}, m_dir.File("wider.bin"));
    EXPECT_NE(third.out.find("review: " + Out() + "/review/index.html (unchanged)"), std::string::npos) << third.out;
    EXPECT_EQ(test::ReadFileBytes(Out() + "/review/index.html"), page);

    // A changed scan under the same name, size and date is run again (the
    // changed byte may spoil its decoding: it is not skipped in any case).
    const std::string scan = m_dir.File("scans-2023/40572.jpg");
    const fs::file_time_type time = fs::last_write_time(scan);
    std::string bytes = test::ReadFileBytes(scan);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    test::WriteFileBytes(scan, bytes);
    fs::last_write_time(scan, time);
    Run(m_dir.File("scans-2023"), {}, m_dir.File("wider.bin"));
    EXPECT_NE(StatusOf(Csv(), "40572"), "skipped");
    EXPECT_EQ(StatusOf(Csv(), "40571"), "skipped");
}

TEST_F(Trust, AListRunKeepsTheWholeAreaInTheSummaryAndOnThePage) {
    fs::remove(Scans() + "/40574.txt");  // and no map the finder could find: failed
    const test::ToolResult first = Run();
    EXPECT_EQ(first.status, 1);
    test::WriteFileBytes(m_dir.File("one.txt"), "40572 scans/40572.jpg scans/40572.txt\n");
    const test::ToolResult listed = test::RunInProcess(
        BatchMain, {"georef-batch", "--list", m_dir.File("one.txt"), Out(), std::to_string(kOutputDpi), "--config",
                    Area::Get().Config(), "--force"});
    EXPECT_EQ(listed.status, 0) << listed.out << listed.err;
    using Row = std::pair<std::string, std::string>;
    EXPECT_EQ(Summary(Csv()), (std::map<std::string, Row>{{"40571", {"done", "earlier"}},
                                                          {"40572", {"done", "this"}},
                                                          {"40573", {"done", "earlier"}},
                                                          {"40574", {"failed", "earlier"}}}));
    EXPECT_NE(listed.out.find("1 sheets: 1 done, 0 skipped (unchanged), 0 failed"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find(": 4 (3 done, 0 skipped (unchanged), 1 failed; 3 of them only in earlier batches)"),
              std::string::npos)
        << listed.out;
    const std::string page = test::ReadFileBytes(Out() + "/review/index.html");
    EXPECT_NE(page.find("finished by an earlier batch"), std::string::npos);
    EXPECT_NE(page.find("in an earlier batch: the corner finder refused"), std::string::npos);
}

// Corners the finder found are kept for the exact bytes of the scan: a
// rescan with an older date is searched and drawn again, and --force
// searches again whatever the record says.
TEST_F(Trust, FoundCornersAreKeptForTheScanBytesNotItsNameOrDate) {
    const std::string found = m_dir.File("found");
    fs::create_directory(found);
    synthesis::RealisticScanOptions options = synthesis::VariedRealisticOptions(5);
    options.dpi = 150.0;
    synthesis::WriteRealisticScan(40571, found + "/40571.jpg", options);
    ASSERT_EQ(Run(found).status, 0);
    const std::string firstCorners = test::ReadFileBytes(Out() + "/corners/40571.txt");
    const std::string firstPicture = test::ReadFileBytes(Out() + "/corners/40571.png");
    const fs::file_time_type firstTime = fs::last_write_time(found + "/40571.jpg");

    // The rescan: another size and tilt, dated before the first scan.
    options = synthesis::VariedRealisticOptions(8);
    options.dpi = 160.0;
    options.rotationDegrees = 2.5;
    const synthesis::RealisticScan rescan = synthesis::WriteRealisticScan(40571, found + "/40571.jpg", options);
    fs::last_write_time(found + "/40571.jpg", firstTime - std::chrono::hours(24));
    const test::ToolResult second = Run(found);
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(StatusOf(Csv(), "40571"), "done");
    const geometry::CornerPoints corners = ReadCornerFile(Out() + "/corners/40571.txt");
    for (int k = 0; k < 4; ++k) {
        EXPECT_LT(std::hypot(corners[k].x - rescan.corners[k].x, corners[k].y - rescan.corners[k].y), 1.0) << k;
    }
    EXPECT_NE(test::ReadFileBytes(Out() + "/corners/40571.txt"), firstCorners);
    EXPECT_NE(test::ReadFileBytes(Out() + "/corners/40571.png"), firstPicture);

    // A record that claims other corners (written by hand, or by a faulty
    // program) is believed without --force, and refused by the check...
    geometry::CornerPoints wrong = corners;
    wrong[2].x += 400.0;
    WriteCorners(Out() + "/corners/40571.txt", wrong);
    std::string key = test::ReadFileBytes(Out() + "/corners/40571.key");
    const std::string::size_type at = key.find("found ");
    ASSERT_NE(at, std::string::npos);
    key.replace(at, key.find('\n', at) - at, "found " + ContentDigest(Out() + "/corners/40571.txt"));
    test::WriteFileBytes(Out() + "/corners/40571.key", key);
    EXPECT_EQ(Run(found).status, 1);
    EXPECT_EQ(StatusOf(Csv(), "40571"), "failed");
    // ...and --force searches the scan again.
    EXPECT_EQ(Run(found, {"--force"}).status, 0);
    EXPECT_EQ(StatusOf(Csv(), "40571"), "done");
}

// Misnamed files: a scan of 40573 saved as 40572 (the finder reads its
// title) and one of 40574 saved as 40573 with its own exact corner file
// beside it (checked against its print too): both fail, naming what the
// scan reads, and nothing of them is painted.
TEST_F(Trust, AMisnamedScanFailsInsteadOfBeingPaintedOverItsNeighbour) {
    const std::string misnamed = m_dir.File("misnamed");
    fs::create_directory(misnamed);
    synthesis::RealisticScanOptions options;
    options.dpi = 150.0;
    synthesis::WriteRealisticScan(40573, misnamed + "/40572.jpg", options);
    const synthesis::RealisticScan other = synthesis::WriteRealisticScan(40574, misnamed + "/40573.jpg", options);
    WriteCorners(misnamed + "/40573.txt", other.corners);
    const test::ToolResult result = Run(misnamed);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_EQ(StatusOf(Csv(), "40572"), "failed");
    EXPECT_EQ(StatusOf(Csv(), "40573"), "failed");
    EXPECT_NE(result.out.find("the scan reads 4057/3, not 4057/2"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("the scan is not sheet 40573: the scan reads 4057/4, not 4057/3"), std::string::npos)
        << result.out;
    for (const char* sheet : {"40572", "40573"}) {
        EXPECT_FALSE(fs::exists(Out() + "/logs/" + sheet + ".log")) << sheet << ": it ran";
    }
    // The verdict is kept with the corner file's digest: the next batch reads nothing again.
    const std::string key = test::ReadFileBytes(Out() + "/corners/40573.key");
    EXPECT_NE(key.find("identity "), std::string::npos);
    // The picture shows what was read, as georef-corners' picture does.
    EXPECT_NE(key.find("read: title 4057/4"), std::string::npos) << key;
    EXPECT_TRUE(fs::exists(Out() + "/corners/40573.png"));
    EXPECT_EQ(Run(misnamed).status, 1);
    EXPECT_EQ(StatusOf(Csv(), "40573"), "failed");
}

// A messy folder: a subfolder, two scans of one sheet, a scan cut short, a
// file that is no image, a number that is no sheet. Each file gets its true
// reason first, and the terminal, summary.csv and the page count alike.
TEST_F(Trust, AMessyFolderGivesEachFileItsTrueReasonAndOneCountEverywhere) {
    fs::create_directories(Scans() + "/1880/north");
    fs::create_directory(Scans() + "/old");
    for (const char* name : {"40572.jpg", "40572.txt"}) {
        fs::rename(Scans() + "/" + name, Scans() + "/1880/north/" + name);
    }
    fs::copy_file(Scans() + "/40573.jpg", Scans() + "/old/40573_1998.jpg");
    const std::string whole = test::ReadFileBytes(Scans() + "/40574.jpg");
    test::WriteFileBytes(Scans() + "/40574.jpg", whole.substr(0, whole.size() / 2));
    test::WriteFileBytes(Scans() + "/40581.pdf", "%PDF-1.4\nnot a map at all\n");
    fs::copy_file(Scans() + "/40571.jpg", Scans() + "/40585.jpg");

    const test::ToolResult result = Run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(StatusOf(Csv(), "40571"), "done");
    EXPECT_EQ(StatusOf(Csv(), "40572"), "done") << result.out;
    const auto messageOf = [&](const std::string& sheet) {
        const std::string::size_type at = result.out.find("] " + sheet + " failed: ");
        return at == std::string::npos ? std::string() : result.out.substr(at, result.out.find('\n', at) - at);
    };
    EXPECT_NE(messageOf("40573").find("2 scans of sheet 40573: " + Scans() + "/40573.jpg and " + Scans() +
                                      "/old/40573_1998.jpg"),
              std::string::npos)
        << result.out;
    EXPECT_NE(messageOf("40574").find("failed: cannot read the scan " + Scans() + "/40574.jpg: damaged ("),
              std::string::npos)
        << result.out;
    EXPECT_NE(messageOf("40581").find("failed: cannot read the scan " + Scans() + "/40581.pdf: not an image"),
              std::string::npos)
        << result.out;
    EXPECT_NE(messageOf("40585").find("failed: 40585 is no valid sheet number"), std::string::npos) << result.out;
    EXPECT_EQ(messageOf("40574").find("chyba"), std::string::npos) << result.out;

    EXPECT_NE(result.out.find("6 sheets: 2 done, 0 skipped (unchanged), 4 failed"), std::string::npos) << result.out;
    std::size_t failedRows = 0;
    for (const auto& [sheet, row] : Summary(Csv())) {
        failedRows += row.first == "failed" ? 1 : 0;
    }
    EXPECT_EQ(failedRows, 4u);
    EXPECT_NE(test::ReadFileBytes(Out() + "/review/index.html").find("failed: 4<"), std::string::npos);

    // The older scan left out: the sheet runs.
    const test::ToolResult chosen = RunWith({"--exclude", "old"});
    EXPECT_EQ(StatusOf(Csv(), "40573"), "done") << chosen.out;
}

// What a batch leaves: no temporary file of a killed run, even when every
// sheet is skipped; logs of messages, not of counters; an empty mosaic said
// once.
TEST_F(Trust, ARunLeavesNoLeftoversShortLogsAndSaysAnEmptyMosaicOnce) {
    ASSERT_EQ(Run().status, 0);
    for (const std::string& sheet : kSheets) {
        const std::string log = test::ReadFileBytes(Out() + "/logs/" + sheet + ".log");
        EXPECT_LT(log.size(), 10000u) << sheet;
        EXPECT_EQ(log.find('\r'), std::string::npos) << sheet;
        EXPECT_NE(log.find("zapisuji "), std::string::npos) << sheet;
        EXPECT_EQ(log.find("\n\n"), std::string::npos) << log;
        // The messages, then the last counter printed: the last row of the last tile.
        EXPECT_NE(log.find("program dobehl do konce\n628/629\n"), std::string::npos) << log;
    }
    std::string tile;
    for (const auto& entry : fs::directory_iterator(Out())) {
        if (entry.path().extension() == ".jpg") {
            tile = entry.path().filename().string();
        }
    }
    ASSERT_FALSE(tile.empty());
    // As a run killed while writing them leaves them.
    for (const std::string& name : {tile + ".tmp-Ab3xYz", tile.substr(0, tile.size() - 4) + ".jgw.tmp-000001",
                                    std::string(kJournalFile) + ".tmp-Qw12Er"}) {
        test::WriteFileBytes(Out() + "/" + name, "partial");
    }
    test::WriteFileBytes(Out() + "/reduced/" + tile + ".tmp-Kp09Zz", "partial");  // the tile's kept reduction
    test::WriteFileBytes(Out() + "/notes.txt.tmp-abcdef", "not ours");
    const test::ToolResult skipped = Run();
    EXPECT_EQ(skipped.status, 0);
    EXPECT_NE(skipped.out.find("removed 4 temporary files that killed runs left"), std::string::npos) << skipped.out;
    for (const std::string& directory : {Out(), Out() + "/reduced"}) {
        for (const auto& entry : fs::directory_iterator(directory)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find(".tmp-") == std::string::npos || name == "notes.txt.tmp-abcdef") << name;
        }
    }

    // Every sheet fails (no corner file, and no scan the finder takes at 50 dpi).
    for (const std::string& sheet : kSheets) {
        fs::remove(Scans() + "/" + sheet + ".txt");
    }
    const test::ToolResult none =
        test::RunInProcess(BatchMain, {"georef-batch", Scans(), m_dir.File("empty"), std::to_string(kOutputDpi),
                                       "--config", Area::Get().Config()});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("mosaic: none, no sheet has painted a tile into " + m_dir.File("empty") + " yet\n"),
              std::string::npos)
        << none.out;
    EXPECT_EQ(none.err.find("mosaic"), std::string::npos) << none.err;
}

// A batch killed while writing its shared files, a sheet's corner files and
// the review page leaves temporaries under the real writers' names; the next
// batch (every sheet skipped) removes them under the locks their writers
// hold, and touches no file that only looks like one.
TEST_F(Trust, ABatchKilledMidwayLeavesNothingTheNextStartKeepsAndNoUsersFileGoes) {
    ASSERT_EQ(Run().status, 0);
    const std::string hand = Out() + "/corners/hand";
    fs::create_directories(hand);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A run that dies (kill -9) with these files open.
        std::vector<std::unique_ptr<platform::AtomicFile>> open;
        for (const std::string& target : {Out() + "/summary.csv", Out() + "/mosaic.vrt", Out() + "/corners/40571.key",
                                          Out() + "/corners/40572.txt", hand + "/40573.txt"}) {
            open.push_back(std::make_unique<platform::AtomicFile>(target));
            std::fputs("partial", open.back()->Stream());
            std::fflush(open.back()->Stream());
        }
        open.push_back(std::make_unique<platform::AtomicFile>(Out() + "/corners/40571.png",
                                                              platform::AtomicFile::Access::byName));
        fs::create_directories(Out() + "/.review-new-Ab3xYz/seams");
        fs::create_directories(Out() + "/.review-old-Zx81Qa/page");
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto temporaries = [](const std::string& directory) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) {
            const std::string name = entry.path().filename().string();
            if (name.find(".tmp-") != std::string::npos || name.rfind(".review-", 0) == 0) {
                names.insert(name);
            }
        }
        return names;
    };
    ASSERT_EQ(temporaries(Out()).size(), 4u);
    ASSERT_EQ(temporaries(Out() + "/corners").size(), 3u);
    ASSERT_EQ(temporaries(hand).size(), 1u);
    // The hand file's writers take no lock: only one older than the run goes.
    const std::string oldHand = hand + "/" + *temporaries(hand).begin();
    fs::last_write_time(oldHand, fs::last_write_time(oldHand) - std::chrono::hours(1));
    test::WriteFileBytes(hand + "/40574.txt.tmp-Live01", "a writer at work");
    fs::last_write_time(hand + "/40574.txt.tmp-Live01", fs::file_time_type::clock::now() + std::chrono::hours(1));
    // Not ours, though they look alike.
    const std::vector<std::string> users = {Out() + "/mine.csv.tmp-Ab3xYz", Out() + "/corners/notes.txt.tmp-Ab3xYz",
                                            Out() + "/corners/40571.txt.tmp-old", Out() + "/corners/4057.png.tmp-Ab3xYz",
                                            Out() + "/summary.csv.bak"};
    for (const std::string& user : users) {
        test::WriteFileBytes(user, "a user's");
    }
    fs::create_directories(Out() + "/.review-new-mine");

    const test::ToolResult skipped = Run();
    EXPECT_EQ(skipped.status, 0) << skipped.out;
    EXPECT_NE(skipped.out.find("removed 2 unfinished review pages that killed runs left"), std::string::npos)
        << skipped.out;
    EXPECT_NE(skipped.out.find("removed 6 temporary files that killed runs left"), std::string::npos) << skipped.out;
    EXPECT_EQ(temporaries(Out()), (std::set<std::string>{".review-new-mine", "mine.csv.tmp-Ab3xYz"}));
    EXPECT_EQ(temporaries(Out() + "/corners"), (std::set<std::string>{"notes.txt.tmp-Ab3xYz", "40571.txt.tmp-old",
                                                                       "4057.png.tmp-Ab3xYz"}));
    EXPECT_EQ(temporaries(hand), std::set<std::string>{"40574.txt.tmp-Live01"});
    for (const std::string& user : users) {
        EXPECT_EQ(test::ReadFileBytes(user), "a user's") << user;
    }
    EXPECT_EQ(Summary(Csv()).size(), kSheets.size());
}

// The page is drawn once a batch, and an image of it whose tiles are
// unchanged is taken over from the page before instead of being read from
// the mosaic again.
TEST_F(Trust, ThePageTakesOverTheImagesOfUnchangedTilesAndRedrawsTheOthers) {
    ASSERT_EQ(Run().status, 0);
    const std::string page = Out() + "/review";
    const auto inode = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    std::map<std::string, ino_t> first;
    for (const auto& entry : fs::recursive_directory_iterator(page)) {
        if (entry.path().extension() == ".jpg") {
            first[entry.path().string()] = inode(entry.path().string());
        }
    }
    ASSERT_GE(first.size(), 2u);  // the overview and at least one seam
    // The page's own images as it shows them (name and size).
    const auto images = [&] {
        static const std::regex tag("<img [^>]*src=\"(overview|seams/)[^>]*>");
        const std::string html = test::ReadFileBytes(page + "/index.html");
        std::vector<std::string> tags;
        for (std::sregex_iterator it(html.begin(), html.end(), tag), end; it != end; ++it) {
            tags.push_back(it->str());
        }
        return tags;
    };
    const std::vector<std::string> shown = images();
    ASSERT_EQ(shown.size(), first.size());
    fs::remove(page + "/.page-key");  // drawn again, from the same tiles
    ASSERT_EQ(Run().status, 0);
    EXPECT_EQ(images(), shown);
    for (const auto& [path, number] : first) {
        EXPECT_EQ(inode(path), number) << path << " was drawn again";
    }
    // A tile written again: the overview, which reads every tile, is drawn anew.
    std::string tile;
    for (const auto& entry : fs::directory_iterator(Out())) {
        if (entry.path().extension() == ".jpg") {
            tile = entry.path().string();
        }
    }
    const std::string bytes = test::ReadFileBytes(tile);
    fs::remove(tile);
    test::WriteFileBytes(tile, bytes);
    fs::remove(page + "/.page-key");
    ASSERT_EQ(Run().status, 0);
    EXPECT_NE(inode(page + "/overview.jpg"), first[page + "/overview.jpg"]);
    EXPECT_EQ(images(), shown);
    for (const auto& [path, number] : first) {
        EXPECT_TRUE(fs::exists(path)) << path;
    }
}

// The batch decodes a scan once and hands the pixels to the run: the tiles
// are byte for byte those georef makes reading the scan itself.
TEST_F(Trust, ASheetRunOnTheBatchsDecodedScanMakesGeorefsTilesByteForByte) {
    fs::create_directory(m_dir.File("one"));
    for (const char* name : {"40573.jpg", "40573.txt"}) {
        fs::copy_file(Scans() + "/" + name, m_dir.File(std::string("one/") + name));
    }
    ASSERT_EQ(Run(m_dir.File("one")).status, 0);
    fs::create_directory(m_dir.File("alone"));
    ASSERT_EQ(test::RunGeoref({"40573", Scans() + "/40573.txt", Scans() + "/40573.jpg", m_dir.File("alone"),
                               std::to_string(kOutputDpi)},
                              Area::Get().Dir())
                  .exitStatus,
              0);
    const std::map<std::string, std::string> alone = TileBytes(m_dir.File("alone"));
    ASSERT_FALSE(alone.empty());
    EXPECT_EQ(TileBytes(Out()), alone);
}

}  // namespace
}  // namespace georef::batch
