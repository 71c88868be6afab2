// The viewer as a person's browser shows it: headless Chromium opens
// index.html from the file system, the tiles appear at three zooms, the
// sheets' outlines carry their numbers, and nothing is asked for outside the
// viewer's folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include <nlohmann/json.hpp>

#include "published_area.hpp"
#include "devtools/headless_browser.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "tools/publish_tool.hpp"

namespace georef::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Sets the zoom, waits for the tile layer's load event, and reports the
// tiles on screen and every resource the page has asked for so far.
std::string AtZoom(int zoom) {
    return R"JS((async () => {
  const map = window.georefMap;
  const layer = Object.values(map._layers).find(l => l instanceof L.TileLayer);
  const loaded = new Promise(done => { layer.once('load', done); setTimeout(done, 20000); });
  map.setView(map.getCenter(), )JS" + std::to_string(zoom) + R"JS(, {animate: false});
  await loaded;
  await new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));
  const tiles = Array.from(document.querySelectorAll('.leaflet-tile-container img'))
    .filter(i => i.classList.contains('leaflet-tile-loaded'))
    .map(i => ({src: i.getAttribute('src'), width: i.naturalWidth, height: i.naturalHeight}));
  const failed = document.querySelectorAll('.leaflet-tile-container img.leaflet-tile-error').length;
  const labels = Array.from(document.querySelectorAll('.sheet-number')).map(e => e.textContent).sort();
  const requests = performance.getEntriesByType('resource').map(e => e.name);
  return {zoom: map.getZoom(), tiles, failed, labels, requests, page: location.href};
})())JS";
}

TEST(Viewer, ShowsTheTilesAtThreeZoomsWithSheetNumbersAndStaysInItsFolder) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    std::vector<const char*> argv = {"georef-publish", area.tiles.c_str(), "--xyz", nullptr, "--config",
                                     area.config.c_str()};
    const std::string xyz = dir.File("web");
    argv[3] = xyz.c_str();
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(tools::RunPublishTool(static_cast<int>(argv.size()), argv.data(), out, err), 0) << err.str();
    EXPECT_TRUE(fs::exists(xyz + "/leaflet/leaflet.js"));
    const json tilejson = json::parse(std::ifstream(xyz + "/tiles.json"));
    EXPECT_EQ(tilejson["tiles"], json({"{z}/{x}/{y}.jpg"}));
    const int maxZoom = tilejson["maxzoom"];
    const int minZoom = tilejson["minzoom"];
    ASSERT_GE(maxZoom - minZoom, 2);

    std::unique_ptr<devtools::HeadlessBrowser> browser;
    try {
        browser = std::make_unique<devtools::HeadlessBrowser>();
    } catch (const devtools::BrowserUnavailable& e) {
        GTEST_SKIP() << "Chromium cannot start here, the viewer is not looked at: " << e.what();
    }
    browser->Open(xyz + "/index.html");
    const std::string folder = "file://" + fs::canonical(xyz).string() + "/";
    for (const int zoom : {maxZoom - 2, maxZoom - 1, maxZoom}) {
        const json seen = browser->Evaluate(AtZoom(zoom));
        EXPECT_EQ(seen["zoom"], zoom);
        EXPECT_EQ(seen["failed"], 0) << seen.dump(1);
        ASSERT_FALSE(seen["tiles"].empty()) << "no tile shown at zoom " << zoom;
        for (const json& tile : seen["tiles"]) {
            EXPECT_EQ(tile["width"], 256) << tile.dump();
            EXPECT_EQ(tile["src"].get<std::string>().rfind(std::to_string(zoom) + "/", 0), 0u) << tile.dump();
        }
        EXPECT_EQ(seen["labels"], json({"40571", "40572", "40573"})) << seen.dump(1);
        for (const json& request : seen["requests"]) {
            EXPECT_EQ(request.get<std::string>().rfind(folder, 0), 0u) << request;
        }
    }
}

}  // namespace
}  // namespace georef::test
