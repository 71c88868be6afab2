#pragma once
// Where the source tiles lie in Web Mercator and in WGS 84, computed by
// GDAL's coordinate transformation (PROJ) from EPSG:5514.

#include <vector>

#include "publish/source_area.hpp"
#include "publish/web_mercator.hpp"

namespace georef::publish {

struct LonLatBox {
    double west = 0.0;  // degrees, WGS 84
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};

struct AreaFootprint {
    std::vector<MercatorBox> tiles;  // one per source tile, in the area's order
    MercatorBox whole;               // all of them
    LonLatBox lonLat;                // all of them in WGS 84
};

// The box of each tile's outline (densified, so the curved edges are inside).
// Throws PublishError when PROJ cannot transform.
AreaFootprint FootprintOf(const SourceArea& area);

}  // namespace georef::publish
