// A refused sheet fixed in a real browser: headless Chromium, driven over
// its DevTools pipe, opens georef-review's address, follows the review
// page's link to the sheet's corner editor, clicks once in each corner's
// view where the corner was drawn and presses "Save and run". The hand
// corner file holds the drawn corners to a tenth of a pixel, the batch's
// journal says the sheet is done, and its tiles equal those of the exact
// corners within JPEG noise. Then one button removes the hand corner file and
// runs the sheet from the batch's own corners again.

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "batch/corner_source.hpp"
#include "batch/journal.hpp"
#include "devtools/headless_browser.hpp"
#include "reviewed_batch.hpp"
#include "support/raster/tile_comparison.hpp"

namespace georef::workbench {
namespace {

using devtools::HeadlessBrowser;
using nlohmann::json;

// Evaluates condition until it is true; pages load and scripts await the
// server meanwhile (an evaluation during a navigation may fail).
void WaitFor(HeadlessBrowser& browser, const std::string& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            if (browser.Evaluate("Boolean(" + condition + ")").get<bool>()) {
                return;
            }
        } catch (const devtools::BrowserError&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "the page never got to " << condition;
}

// The centre of the element, in viewport CSS pixels, after scrolling it into view.
std::pair<double, double> CentreOf(HeadlessBrowser& browser, const std::string& selector) {
    const json at = browser.Evaluate("(() => { const e = document.querySelector('" + selector +
                                     "'); e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect();"
                                     " return [r.left + r.width / 2, r.top + r.height / 2]; })()");
    return {at.at(0).get<double>(), at.at(1).get<double>()};
}

TEST(CornerEditor, FixesARefusedSheetWithFourClicksAndOneButton) {
    const ReviewedBatch batch;
    ASSERT_EQ(batch::Journal::Load(batch.out).Find(40572)->status, batch::SheetStatus::failed);
    ReviewProcess review(batch);
    std::unique_ptr<HeadlessBrowser> browser;
    try {
        browser = std::make_unique<HeadlessBrowser>();
    } catch (const devtools::BrowserUnavailable& why) {
        GTEST_SKIP() << "no browser here: " << why.what();
    }
    browser->OpenUrl(review.Address());
    const auto link = CentreOf(*browser, "#workbench a[href=\"/sheet/40572\"]");
    browser->Click(link.first, link.second);
    WaitFor(*browser, "location.pathname === '/sheet/40572' && document.body.dataset.ready === '1'");
    EXPECT_EQ(browser->Evaluate("document.body.dataset.checked").get<std::string>(), "refused");

    const char* names[4] = {"LD", "LH", "PH", "PD"};
    for (int k = 0; k < 4; ++k) {
        const corners::PlanePoint p = batch.ExactPlane(k);
        // Where the page draws the centre of the scan's point p in corner k's view.
        const json at = browser->Evaluate(
            "(() => { const img = document.querySelector('#corner-" + std::string(names[k]) +
            " img'); img.scrollIntoView({block: 'center'}); const r = img.getBoundingClientRect(); const v = views[" +
            std::to_string(k) + "]; return [r.left + (" + std::to_string(p.column) + " - v.column + 0.5) * v.zoom, r.top + (" +
            std::to_string(p.row) + " - v.row + 0.5) * v.zoom]; })()");
        browser->Click(at.at(0).get<double>(), at.at(1).get<double>());
    }
    WaitFor(*browser, "document.body.dataset.checked === 'accepted'");
    const auto save = CentreOf(*browser, "#save");
    browser->Click(save.first, save.second);
    WaitFor(*browser, "document.body.dataset.saved");
    EXPECT_EQ(browser->Evaluate("document.body.dataset.saved").get<std::string>(), "done")
        << browser->Evaluate("document.getElementById('outcome').textContent").get<std::string>();

    // The hand corner file: the drawn corners, in the corner file's frame.
    std::ifstream in(batch::HandCornersFile(batch.out, kRefusedSheet));
    const std::optional<geometry::CornerPoints> saved = geometry::ReadCornerPoints(in);
    ASSERT_TRUE(saved);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR((*saved)[k].x, batch.exact[k].x, 0.2) << names[k];
        EXPECT_NEAR((*saved)[k].y, batch.exact[k].y, 0.2) << names[k];
    }
    const batch::Journal journal = batch::Journal::Load(batch.out);
    const batch::JournalEntry* entry = journal.Find(40572);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->status, batch::SheetStatus::done) << entry->message;
    EXPECT_EQ(entry->cornerFile, batch::HandCornersFile(batch.out, kRefusedSheet));
    const test::TileComparison tiles = test::CompareTiles(batch.out, batch.reference);
    EXPECT_TRUE(tiles.onlyInOne.empty()) << tiles.onlyInOne.front();
    EXPECT_LT(tiles.worstShare, test::kLostSheetShare) << tiles.worstTile;

    // The review page served is the new one: the sheet no longer failed.
    browser->OpenUrl("http://127.0.0.1:" + std::to_string(review.Port()) + "/review/index.html");
    EXPECT_EQ(browser->Evaluate("document.querySelector('#sheet-40572').className").get<std::string>(), "s-done");

    // Back to the batch's own corners with one button: the misread corner
    // file beside the scan, refused again.
    browser->OpenUrl("http://127.0.0.1:" + std::to_string(review.Port()) + "/sheet/40572");
    WaitFor(*browser, "document.body.dataset.ready === '1'");
    ASSERT_FALSE(browser->Evaluate("document.getElementById('forget').hidden").get<bool>());
    const auto forget = CentreOf(*browser, "#forget");
    browser->Click(forget.first, forget.second);
    WaitFor(*browser, "document.body.dataset.saved");
    EXPECT_EQ(browser->Evaluate("document.body.dataset.saved").get<std::string>(), "failed");
    EXPECT_TRUE(browser->Evaluate("document.getElementById('forget').hidden").get<bool>());
    EXPECT_FALSE(std::filesystem::exists(batch::HandCornersFile(batch.out, kRefusedSheet)));
    browser.reset();

    const test::ProcessResult ended = review.Stop(SIGTERM);
    EXPECT_EQ(ended.exitStatus, 0) << ended.err;
    EXPECT_NE(ended.out.find("georef-review: stopped"), std::string::npos);
    EXPECT_EQ(TemporaryFilesUnder(batch.dir.Path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace georef::workbench
