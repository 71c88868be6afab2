// A refused sheet fixed in a real browser: headless Chromium, driven over
// its DevTools pipe, opens georef-review's address, follows the review
// page's link to the sheet's corner editor, clicks once in each corner's
// view where the corner was drawn and presses "Save and run". The hand
// corner file holds the drawn corners to a tenth of a pixel, the batch's
// journal says the sheet is done, and its tiles equal those of the exact
// corners within JPEG noise. Then one button removes the hand corner file and
// runs the sheet from the batch's own corners again.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "batch/corner_source.hpp"
#include "batch/journal.hpp"
#include "review_in_browser.hpp"
#include "support/raster/tile_comparison.hpp"

namespace georef::workbench {
namespace {

using nlohmann::json;

class CornerEditor : public ReviewInBrowser {};

TEST_F(CornerEditor, FixesARefusedSheetWithFourClicksAndOneButton) {
    const ReviewedBatch& batch = Batch();
    ASSERT_EQ(batch::Journal::Load(batch.out).Find(40572)->status, batch::SheetStatus::failed);
    devtools::HeadlessBrowser& browser = Browser();
    browser.OpenUrl(Review().Address());
    const auto link = CentreOf("#workbench a[href=\"/sheet/40572\"]");
    browser.Click(link.first, link.second);
    ASSERT_TRUE(WaitFor("location.pathname === '/sheet/40572' && document.body.dataset.ready === '1'"));
    EXPECT_EQ(browser.Evaluate("document.body.dataset.checked").get<std::string>(), "refused");

    const char* names[4] = {"LD", "LH", "PH", "PD"};
    for (int k = 0; k < 4; ++k) {
        const corners::PlanePoint p = batch.ExactPlane(k);
        // Where the page draws the centre of the scan's point p in corner k's view.
        const json at = browser.Evaluate(
            "(() => { const img = document.querySelector('#corner-" + std::string(names[k]) +
            " img'); img.scrollIntoView({block: 'center'}); const r = img.getBoundingClientRect(); const v = views[" +
            std::to_string(k) + "]; return [r.left + (" + std::to_string(p.column) + " - v.column + 0.5) * v.zoom, r.top + (" +
            std::to_string(p.row) + " - v.row + 0.5) * v.zoom]; })()");
        browser.Click(at.at(0).get<double>(), at.at(1).get<double>());
    }
    ASSERT_TRUE(WaitFor("document.body.dataset.checked === 'accepted'"));
    const auto save = CentreOf("#save");
    browser.Click(save.first, save.second);
    ASSERT_TRUE(WaitFor("document.body.dataset.saved"));
    EXPECT_EQ(browser.Evaluate("document.body.dataset.saved").get<std::string>(), "done")
        << browser.Evaluate("document.getElementById('outcome').textContent").get<std::string>();

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
    browser.OpenUrl(Origin() + "/review/index.html");
    EXPECT_EQ(browser.Evaluate("document.querySelector('#sheet-40572').className").get<std::string>(), "s-done");

    // Back to the batch's own corners with one button: the misread corner
    // file beside the scan, refused again.
    browser.OpenUrl(Origin() + "/sheet/40572");
    ASSERT_TRUE(WaitFor("document.body.dataset.ready === '1'"));
    ASSERT_FALSE(browser.Evaluate("document.getElementById('forget').hidden").get<bool>());
    const auto forget = CentreOf("#forget");
    browser.Click(forget.first, forget.second);
    ASSERT_TRUE(WaitFor("document.body.dataset.saved"));
    EXPECT_EQ(browser.Evaluate("document.body.dataset.saved").get<std::string>(), "failed");
    EXPECT_TRUE(browser.Evaluate("document.getElementById('forget').hidden").get<bool>());
    EXPECT_FALSE(std::filesystem::exists(batch::HandCornersFile(batch.out, kRefusedSheet)));
    // The server then stops cleanly and leaves no temporary file (ReviewInBrowser).
}

}  // namespace
}  // namespace georef::workbench
