// The zoomable mosaic in a real browser: headless Chromium opens
// georef-review's map page, which shows map tiles drawn from the batch's
// tiles, each sheet's outline and number, and a sheet's state in a popup
// when it is clicked; every file the page loads comes from the server
// itself (Leaflet included), none from the network.

#include <gtest/gtest.h>

#include "review_in_browser.hpp"

namespace georef::workbench {
namespace {

using nlohmann::json;

class MosaicPage : public ReviewInBrowser {};

TEST_F(MosaicPage, ShowsTilesOutlinesAndNumbersAndASheetsStateOnClickWithNothingFromTheNetwork) {
    devtools::HeadlessBrowser& browser = Browser();
    const std::string origin = Origin();
    browser.OpenUrl(origin + "/map?token=" + Review().Token());
    ASSERT_TRUE(WaitFor("document.body.dataset.ready === '1'"));

    // Map tiles drawn by the server: 40571 was painted, 40572 refused.
    ASSERT_TRUE(WaitFor("document.querySelectorAll('img.leaflet-tile-loaded').length > 0 && "
                        "!document.querySelector('img.leaflet-tile:not(.leaflet-tile-loaded)')"));
    const json tiles = browser.Evaluate(
        "Array.from(document.querySelectorAll('img.leaflet-tile-loaded')).map(i => [i.naturalWidth, i.src])");
    for (const json& tile : tiles) {
        EXPECT_EQ(tile.at(0).get<int>(), 256) << tile.at(1);
    }
    // Each sheet's outline, coloured by its state, and its number.
    EXPECT_EQ(browser.Evaluate("document.querySelector('path.sheet-40571').getAttribute('stroke')"), "#1a7f1a");
    EXPECT_EQ(browser.Evaluate("document.querySelector('path.sheet-40572').getAttribute('stroke')"), "#c01c28");
    EXPECT_EQ(browser.Evaluate("Array.from(document.querySelectorAll('.sheet-number')).map(t => t.textContent)"
                                ".sort()"),
              json::array({"40571", "40572"}));

    // A click inside the refused sheet, off its number, opens its state.
    const json at = browser.Evaluate(
        "(() => { const r = document.querySelector('path.sheet-40572').getBoundingClientRect();"
        " return [r.left + r.width * 0.3, r.top + r.height * 0.3]; })()");
    browser.Click(at.at(0).get<double>(), at.at(1).get<double>());
    ASSERT_TRUE(WaitFor("document.querySelector('.leaflet-popup-content')"));
    const std::string popup = browser.Evaluate("document.querySelector('.leaflet-popup-content').textContent");
    EXPECT_EQ(popup.rfind("40572: failed", 0), 0u) << popup;
    EXPECT_NE(popup.find("refused"), std::string::npos) << popup;
    EXPECT_EQ(browser.Evaluate("document.querySelector('.leaflet-popup-content a').getAttribute('href')"),
              "/sheet/40572");

    // Everything the page loaded, and every address it names, is the server's.
    const json loaded = browser.Evaluate(
        "performance.getEntriesByType('resource').map(e => e.name).concat("
        "Array.from(document.querySelectorAll('script[src], img[src], link[href]')).map(e => e.src || e.href))");
    ASSERT_GT(loaded.size(), 3u);
    for (const json& address : loaded) {
        EXPECT_EQ(address.get<std::string>().rfind(origin + "/", 0), 0u) << address;
    }
    EXPECT_TRUE(browser.Evaluate("typeof L === 'object' && L.version.length > 0").get<bool>());
}

}  // namespace
}  // namespace georef::workbench
