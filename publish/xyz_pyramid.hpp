#pragma once
// Web map tiles of the mosaic: an XYZ pyramid in Web Mercator, 256-pixel
// tiles in DIR/Z/X/Y.jpg, and for each tile the area's edge crosses also
// DIR/Z/X/Y.png with the outside transparent (its .jpg shows the outside
// white, for clients that take one file type).
//
// The finest zoom is the first whose pixel is no larger than the mosaic's
// own (measured in Web Mercator, as GDAL's warper suggests it); the coarsest
// is the last at which the whole area spans no more than one tile. Tiles of
// the finest zoom are warped from the mosaic (bilinear) in blocks of up to
// 8 x 8 tiles; every coarser tile is its four children averaged.

#include <optional>
#include <string>
#include <vector>

#include "publish/area_footprint.hpp"
#include "publish/progress.hpp"
#include "publish/source_area.hpp"

namespace georef::publish {

struct ZoomRange {
    int min = 0;
    int max = 0;
};

// The zooms described above for the area. Throws PublishError.
ZoomRange ChooseZooms(const SourceArea& area, const AreaFootprint& footprint);

struct XyzOptions {
    int quality = 75;  // JPEG quality
    int jobs = 1;      // worker threads
    std::optional<ZoomRange> zooms;  // empty: ChooseZooms
    bool incremental = true;  // false: redo every tile whatever the manifest says
};

struct XyzReport {
    ZoomRange zooms;
    bool incremental = false;      // only what changed was redone
    int changedSourceTiles = 0;    // added, changed or removed since the last run
    long tilesWritten = 0;         // web tiles written (a .jpg and its .png count once)
    long tilesRemoved = 0;         // web tiles that left the area
    std::vector<std::string> edgeTiles;  // "Z/X/Y" of every tile with a .png, sorted
};

// Writes (or brings up to date) the pyramid in directory, which is created
// when missing. Throws PublishError; the tiles written until then stay, and
// the next run redoes them.
XyzReport WriteWebTiles(const SourceArea& area, const AreaFootprint& footprint, const std::string& directory,
                        const XyzOptions& options, const Progress& progress = {});

}  // namespace georef::publish
