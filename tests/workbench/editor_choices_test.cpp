// The editor's two other choices, over HTTP to a georef-review process:
// "accept mirrored" for film scanned from its back (as georef-batch
// --accept-mirrored), kept with the hand corner file for later batches
// while the file is unchanged, and removing a sheet's hand corner file, which runs
// the sheet again from the batch's own corners. Both change state, so both
// need the page's header.

#include <gtest/gtest.h>

#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch/corner_source.hpp"
#include "batch/hand_corners.hpp"
#include "batch/journal.hpp"
#include "corners/find_corners.hpp"
#include "reviewed_batch.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/raster/tile_comparison.hpp"

namespace georef::workbench {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class Editor {
public:
    explicit Editor(const ReviewProcess& review) : m_client("127.0.0.1", review.Port()), m_token(review.Token()) {
        m_client.set_read_timeout(300, 0);
    }

    // POST path with the cookie and, when withHeader, the page's header: the
    // status and the answer, JSON when it is 200.
    std::pair<int, json> Post(const std::string& path, const json& body, bool withHeader = true) {
        httplib::Headers headers = {{"Cookie", "georef_review=" + m_token}};
        if (withHeader) {
            headers.emplace("X-Georef-Review", "1");
        }
        const httplib::Result answer = m_client.Post(path.c_str(), headers, body.dump(), "application/json");
        if (!answer) {
            ADD_FAILURE() << "no answer to " << path;
            return {0, json()};
        }
        return {answer->status, answer->status == 200 ? json::parse(answer->body) : json(answer->body)};
    }

    // GET path with the cookie: the status and the answer, JSON when it is 200.
    std::pair<int, json> Get(const std::string& path) {
        const httplib::Result answer = m_client.Get(path.c_str(), {{"Cookie", "georef_review=" + m_token}});
        if (!answer) {
            ADD_FAILURE() << "no answer to " << path;
            return {0, json()};
        }
        return {answer->status, answer->status == 200 ? json::parse(answer->body) : json(answer->body)};
    }

private:
    httplib::Client m_client;
    std::string m_token;
};

TEST(EditorChoices, AMirroredScanIsPaintedOnlyWhenAcceptedAndAHandFileCanBeRemoved) {
    const ReviewedBatch batch;
    // 40572 scanned from the film's back: the scan and its drawn corners mirrored.
    const std::string scan = batch.dir.File("scans/40572.jpg");
    const test::JpegImage image = test::ReadJpeg(scan);
    test::WriteJpeg(scan, image.width, image.height,
                    [&](int column, int row) { return image.At(image.width - 1 - column, row); });
    json mirrored = json::array();
    for (int k = 0; k < 4; ++k) {
        geometry::CornerPoint c = batch.exact[static_cast<std::size_t>(k)];
        c.x = image.width - 2.0 - c.x;
        const corners::PlanePoint p = corners::PlaneFromCorner(c, image.height);
        mirrored.push_back({p.column, p.row});
    }
    ReviewProcess review(batch);
    Editor editor(review);
    const std::string handFile = batch::HandCornersFile(batch.out, kRefusedSheet);

    // Refused unless the scan is said to be mirrored.
    const auto plain = editor.Post("/api/sheet/40572/check", {{"corners", mirrored}});
    ASSERT_EQ(plain.first, 200) << plain.second;
    EXPECT_FALSE(plain.second["accepted"].get<bool>());
    EXPECT_NE(plain.second["batch"].get<std::string>().find("mirrored fit"), std::string::npos) << plain.second;
    const auto accepted = editor.Post("/api/sheet/40572/check", {{"corners", mirrored}, {"acceptMirrored", true}});
    ASSERT_EQ(accepted.first, 200);
    EXPECT_TRUE(accepted.second["accepted"].get<bool>()) << accepted.second;
    const auto refusedRun = editor.Post("/api/sheet/40572/save", {{"corners", mirrored}});
    ASSERT_EQ(refusedRun.first, 200);
    EXPECT_EQ(refusedRun.second["status"], "failed");
    EXPECT_NE(refusedRun.second["message"].get<std::string>().find("mirrored fit"), std::string::npos);
    const auto painted = editor.Post("/api/sheet/40572/save", {{"corners", mirrored}, {"acceptMirrored", true}});
    ASSERT_EQ(painted.first, 200);
    EXPECT_EQ(painted.second["status"], "done") << painted.second;
    EXPECT_EQ(painted.second["cornerFile"], handFile);
    const test::TileComparison tiles = test::CompareTiles(batch.out, batch.reference);
    EXPECT_TRUE(tiles.onlyInOne.empty());
    EXPECT_LT(tiles.worstShare, test::kLostSheetShare) << tiles.worstTile;

    // The choice is kept with the hand corner file: a later batch paints the
    // sheet from it again, and the editor opens with the box ticked.
    const std::string record = batch::MirroredHandCornersFile(batch.out, kRefusedSheet);
    EXPECT_TRUE(fs::exists(record));
    const auto opened = editor.Get("/api/sheet/40572");
    ASSERT_EQ(opened.first, 200);
    EXPECT_TRUE(opened.second["mirroredAccepted"].get<bool>()) << opened.second;
    const auto batchRun = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {batch.dir.File("scans"), batch.out, std::to_string(kOutputDpi), "--config",
                                         batch.config};
        args.insert(args.end(), more.begin(), more.end());
        return test::RunProcess(GEOREF_BATCH_EXE, args, batch.dir.Path());
    };
    const test::ProcessResult again = batchRun({"--force", "--jobs", "1"});
    EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
    ASSERT_NE(batch::Journal::Load(batch.out).Find(40572), nullptr);
    EXPECT_EQ(batch::Journal::Load(batch.out).Find(40572)->status, batch::SheetStatus::done);
    EXPECT_EQ(batch::Journal::Load(batch.out).Find(40572)->cornerFile, handFile);
    // Only while the file is unchanged: edited since, its fit is refused.
    std::ofstream(handFile, std::ios::app) << "# looked at again\n";
    const test::ProcessResult edited = batchRun({});
    EXPECT_EQ(edited.exitStatus, 1) << edited.out << edited.err;
    EXPECT_NE(edited.out.find("40572 failed: the corners of " + handFile + " are refused"), std::string::npos)
        << edited.out;
    EXPECT_NE(edited.out.find("mirrored fit"), std::string::npos) << edited.out;
    EXPECT_FALSE(editor.Get("/api/sheet/40572").second["mirroredAccepted"].get<bool>());

    // Removing the hand file needs the header too; then the batch's own
    // corner file (the misread one beside the scan) is taken and refused.
    EXPECT_EQ(editor.Post("/api/sheet/40572/forget", json::object(), false).first, 403);
    EXPECT_TRUE(fs::exists(handFile));
    const auto forgotten = editor.Post("/api/sheet/40572/forget", json::object());
    ASSERT_EQ(forgotten.first, 200) << forgotten.second;
    EXPECT_FALSE(fs::exists(handFile));
    EXPECT_FALSE(fs::exists(record));
    EXPECT_EQ(forgotten.second["status"], "failed");
    EXPECT_EQ(forgotten.second["cornerFile"], batch.dir.File("scans/40572.txt"));
    const batch::Journal journal = batch::Journal::Load(batch.out);
    const batch::JournalEntry* entry = journal.Find(40572);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->status, batch::SheetStatus::failed);
    EXPECT_EQ(entry->cornerFile, batch.dir.File("scans/40572.txt"));
    EXPECT_EQ(editor.Post("/api/sheet/40572/forget", json::object()).first, 404);

    const test::ProcessResult ended = review.Stop(SIGTERM);
    EXPECT_EQ(ended.exitStatus, 0) << ended.err;
    EXPECT_EQ(TemporaryFilesUnder(batch.dir.Path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace georef::workbench
