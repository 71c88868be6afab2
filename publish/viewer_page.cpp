#include "publish/viewer_page.hpp"

#include <ogr_spatialref.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <nlohmann/json.hpp>

#include "platform/file_system.hpp"
#include "platform/web_text.hpp"
#include "publish/image_encoding.hpp"
#include "publish/publish_error.hpp"
#include "review/sheet_outlines.hpp"

namespace georef::publish {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

void WriteText(const std::string& path, const std::string& text) {
    WriteFileAtomically(path, text.data(), text.size());
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        throw PublishError("cannot read " + path +
                           " (Leaflet comes with the Debian package libjs-leaflet)");
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// leaflet.js, leaflet.css and the marker images into DIR/leaflet/.
void CopyLeaflet(const std::string& from, const std::string& directory) {
    const fs::path target = fs::path(directory) / "leaflet";
    std::error_code error;
    fs::create_directories(target / "images", error);
    for (const char* name : {"leaflet.js", "leaflet.css"}) {
        WriteText((target / name).string(), ReadWhole(platform::JoinPath(from, name)));
    }
    for (fs::directory_iterator it(fs::path(from) / "images", error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".png") {
            WriteText((target / "images" / it->path().filename()).string(), ReadWhole(it->path().string()));
        }
    }
}

struct TransformationCloser {
    void operator()(OGRCoordinateTransformation* t) const noexcept { OGRCoordinateTransformation::DestroyCT(t); }
};

// The outlines of config.bin as GeoJSON in WGS 84 (longitude, latitude).
json OutlineFeatures(const std::string& configPath, const std::vector<int>& published, int& count) {
    const std::vector<review::SheetOutline> outlines = review::ReadSheetOutlines(configPath);
    OGRSpatialReference krovak;
    OGRSpatialReference wgs84;
    krovak.importFromEPSG(5514);
    wgs84.importFromEPSG(4326);
    krovak.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<OGRCoordinateTransformation, TransformationCloser> toLonLat(
        OGRCreateCoordinateTransformation(&krovak, &wgs84));
    if (!toLonLat) {
        throw PublishError("PROJ has no transformation from EPSG:5514 to WGS 84");
    }
    json features = json::array();
    for (const review::SheetOutline& outline : outlines) {
        if (outline.vertices.size() < 3) {
            continue;
        }
        std::vector<double> x;
        std::vector<double> y;
        for (const transform::OutputPoint& p : outline.vertices) {
            x.push_back(-p.Y);  // easting
            y.push_back(-p.X);  // northing
        }
        x.push_back(x.front());
        y.push_back(y.front());
        if (!toLonLat->Transform(x.size(), x.data(), y.data())) {
            throw PublishError("PROJ cannot transform the outline of sheet " + std::to_string(outline.sheet));
        }
        json ring = json::array();
        for (std::size_t k = 0; k < x.size(); ++k) {
            ring.push_back({std::round(x[k] * 1e7) / 1e7, std::round(y[k] * 1e7) / 1e7});
        }
        const bool done = std::find(published.begin(), published.end(), outline.sheet) != published.end();
        features.push_back({{"type", "Feature"},
                            {"properties", {{"sheet", std::to_string(outline.sheet)}, {"published", done}}},
                            {"geometry", {{"type", "Polygon"}, {"coordinates", json::array({ring})}}}});
        ++count;
    }
    return {{"type", "FeatureCollection"}, {"features", features}};
}

const char* const kViewerScript = R"JS(
(function () {
  var t = georefTiles;
  var edges = new Set(t.edges);
  var bounds = L.latLngBounds([t.bounds[1], t.bounds[0]], [t.bounds[3], t.bounds[2]]);
  var map = L.map('map', {minZoom: t.minzoom, maxZoom: t.maxzoom + 2});
  // Tiles the area's edge crosses are PNG with the outside transparent.
  var Tiles = L.TileLayer.extend({
    getTileUrl: function (c) {
      var key = c.z + '/' + c.x + '/' + c.y;
      return key + (edges.has(key) ? '.png' : '.jpg');
    }
  });
  var tiles = new Tiles('', {minZoom: t.minzoom, maxZoom: t.maxzoom + 2, maxNativeZoom: t.maxzoom,
                             minNativeZoom: t.minzoom, bounds: bounds.pad(0.02),
                             attribution: t.attribution}).addTo(map);
  var sheets = L.geoJSON(georefSheets, {
    style: function (f) {
      return {color: '#c0392b', weight: 2, fill: false, dashArray: f.properties.published ? null : '6 6'};
    },
    onEachFeature: function (f, layer) {
      layer.bindTooltip(f.properties.sheet, {permanent: true, direction: 'center', className: 'sheet-number'});
    }
  }).addTo(map);
  L.control.layers(null, {'Map tiles': tiles, 'Sheets': sheets}, {collapsed: false}).addTo(map);
  L.control.scale({imperial: false}).addTo(map);
  map.fitBounds(bounds);
  window.georefMap = map;
})();
)JS";

std::string IndexHtml(const ViewerInput& input) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + platform::EscapeHtml(input.title) +
           "</title>\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<link rel=\"stylesheet\" href=\"leaflet/leaflet.css\">\n"
           "<style>html, body, #map { height: 100%; margin: 0; background: #f4f1ea; }\n"
           ".sheet-number { background: rgba(255,255,255,0.8); border: none; box-shadow: none; "
           "font: bold 13px sans-serif; color: #c0392b; }</style>\n"
           "</head>\n<body>\n<div id=\"map\"></div>\n"
           "<script src=\"leaflet/leaflet.js\"></script>\n<script src=\"tiles.js\"></script>\n"
           "<script src=\"sheets.js\"></script>\n<script>" +
           std::string(kViewerScript) + "</script>\n</body>\n</html>\n";
}

}  // namespace

ViewerReport WriteViewer(const ViewerInput& input, const XyzReport& tiles, const AreaFootprint& footprint) {
    ViewerReport report;
    CopyLeaflet(input.leafletFolder, input.directory);

    json sheets = {{"type", "FeatureCollection"}, {"features", json::array()}};
    if (!input.configPath.empty() && platform::Exists(input.configPath)) {
        try {
            sheets = OutlineFeatures(input.configPath, input.published, report.outlines);
        } catch (const PublishError&) {
            throw;
        } catch (const std::exception& error) {
            report.warnings.push_back(std::string("no sheet outlines: ") + error.what());
        }
    } else {
        report.warnings.push_back("no sheet outlines: no " +
                                  (input.configPath.empty() ? std::string("config.bin") : input.configPath));
    }
    const LonLatBox& b = footprint.lonLat;
    const json bounds = {b.west, b.south, b.east, b.north};
    const int centreZoom = (tiles.zooms.min + tiles.zooms.max) / 2;
    const json tileJson = {{"tilejson", "3.0.0"},
                           {"name", input.title},
                           {"attribution", input.attribution},
                           {"scheme", "xyz"},
                           {"tiles", {"{z}/{x}/{y}.jpg"}},
                           {"minzoom", tiles.zooms.min},
                           {"maxzoom", tiles.zooms.max},
                           {"bounds", bounds},
                           {"center", {0.5 * (b.west + b.east), 0.5 * (b.south + b.north), centreZoom}}};
    const json viewerTiles = {{"minzoom", tiles.zooms.min},   {"maxzoom", tiles.zooms.max},
                              {"bounds", bounds},             {"attribution", input.attribution},
                              {"edges", tiles.edgeTiles}};
    WriteText(platform::JoinPath(input.directory, "tiles.json"), tileJson.dump(2) + "\n");
    WriteText(platform::JoinPath(input.directory, "tiles.js"), "var georefTiles = " + viewerTiles.dump() + ";\n");
    WriteText(platform::JoinPath(input.directory, "sheets.js"), "var georefSheets = " + sheets.dump() + ";\n");
    report.indexPath = platform::JoinPath(input.directory, "index.html");
    WriteText(report.indexPath, IndexHtml(input));
    return report;
}

}  // namespace georef::publish
