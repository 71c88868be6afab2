// georef-review finds the scans the journal names wherever it is started:
// a batch run with relative paths records them absolute, and a journal of
// an earlier batch, which holds them relative to where it ran (beside its
// output directory), is still read.

#include <gtest/gtest.h>

#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "batch/journal.hpp"
#include "reviewed_batch.hpp"

namespace georef::workbench {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// GET path from a georef-review process, with its token.
httplib::Result Get(const ReviewProcess& review, const std::string& path) {
    httplib::Client client("127.0.0.1", review.Port());
    client.set_read_timeout(120, 0);
    return client.Get(path.c_str(), {{"Cookie", "georef_review=" + review.Token()}});
}

TEST(ScanPaths, TheWorkbenchFindsTheScansWhereverItIsStarted) {
    const ReviewedBatch batch;
    const std::string elsewhere = batch.dir.File("elsewhere");
    fs::create_directories(elsewhere);

    // A batch given relative paths records them absolute.
    const test::ProcessResult ran = test::RunProcess(
        GEOREF_BATCH_EXE, {"scans", "again", std::to_string(kOutputDpi), "--config", "config.bin"}, batch.dir.Path());
    ASSERT_EQ(ran.exitStatus, 1) << ran.err;  // 40572's corners are refused
    const batch::Journal journal = batch::Journal::Load(batch.dir.File("again"));
    ASSERT_NE(journal.Find(40572), nullptr);
    EXPECT_EQ(journal.Find(40572)->scan, batch.dir.File("scans/40572.jpg"));
    EXPECT_EQ(journal.Find(40572)->cornerFile, batch.dir.File("scans/40572.txt"));
    {
        ReviewProcess review(batch.dir.File("again"), batch.config, elsewhere);
        const httplib::Result sheet = Get(review, "/api/sheet/40572");
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->status, 200) << sheet->body;
    }

    // A journal from before: paths relative to the directory the batch ran
    // in, the output directory's parent.
    const std::string journalPath = batch.out + "/" + batch::kJournalFile;
    std::string old = ReadAll(journalPath);
    for (std::string::size_type at; (at = old.find(batch.dir.Path() + "/")) != std::string::npos;) {
        old.erase(at, batch.dir.Path().size() + 1);
    }
    ASSERT_NE(old.find("\tscan\tscans/40572.jpg"), std::string::npos) << old;
    std::ofstream(journalPath) << old;
    ReviewProcess review(batch.out, batch.config, elsewhere);
    const httplib::Result sheet = Get(review, "/api/sheet/40572");
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->status, 200) << sheet->body;
    // The corners start from the corner file the journal names, found too.
    EXPECT_EQ(nlohmann::json::parse(sheet->body)["startSource"], batch.dir.File("scans/40572.txt"));
    const httplib::Result crop = Get(review, "/api/sheet/40571/crop.png?column=0&row=0&size=16");
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->status, 200) << crop->body;
}

}  // namespace
}  // namespace georef::workbench
