#pragma once
// What stays fixed for the whole run and every tile of it.

#include "geometry/sheet_geometry.hpp"
#include "raster/source_raster.hpp"
#include "tiling/tile_watcher.hpp"
#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::tiling {

struct RunContext {
    int tileSize = 0;        // pixels per tile edge
    float pixelSize = 0.0f;  // metres per pixel edge (output frame)
    int sheetNumber = 0;
    const transform::SheetBoundary* boundary = nullptr;  // output frame
    const transform::TransformGrid* grid = nullptr;      // output frame -> graticule
    const geometry::Matrix* A = nullptr;                 // corner fit: nominal = A * image + T
    const geometry::Matrix* T = nullptr;
    const raster::SourceRaster* source = nullptr;        // the scan, loaded
    // Threads that render the rows of a tile; 0 takes one per core. The
    // pixels and the progress text do not depend on it.
    int threads = 0;
    // Told of every tile's final rows and of its file being replaced; null:
    // nobody is. It never changes what is written.
    TileWatcher* watcher = nullptr;
};

}  // namespace georef::tiling
