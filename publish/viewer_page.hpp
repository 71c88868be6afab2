#pragma once
// Beside the web tiles: index.html, a viewer that opens from the file system
// or any static web server with no network (Leaflet, copied from the
// system's libjs-leaflet into leaflet/), the sheets' outlines and numbers as
// a layer (sheets.js), what the viewer needs of the pyramid (tiles.js) and a
// TileJSON description (tiles.json) for other clients.

#include <string>
#include <vector>

#include "publish/area_footprint.hpp"
#include "publish/xyz_pyramid.hpp"

namespace georef::publish {

inline constexpr const char* kSystemLeaflet = "/usr/share/javascript/leaflet";

struct ViewerInput {
    std::string directory;     // the pyramid's folder; receives the files
    std::string configPath;    // config.bin: the outlines; empty or missing: no outline layer
    std::vector<int> published;  // sheets of the batch journal, drawn solid (others dashed)
    std::string leafletFolder = kSystemLeaflet;
    std::string title = "Published area";
    std::string attribution = "Map sheets 1:25 000 of the third military mapping, georeferenced with georef";
};

struct ViewerReport {
    std::string indexPath;
    int outlines = 0;  // sheets in the outline layer
    std::vector<std::string> warnings;  // e.g. no config.bin: no outlines
};

// Writes the files (each through a temporary file). Throws PublishError,
// also when Leaflet is not installed.
ViewerReport WriteViewer(const ViewerInput& input, const XyzReport& tiles, const AreaFootprint& footprint);

}  // namespace georef::publish
