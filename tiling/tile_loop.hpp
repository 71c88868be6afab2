#pragma once
// The tiles of a sheet: every 10 000 m tile of the output frame that meets
// the boundary's bounding box gets its world file and is opened (or created),
// painted and saved.

#include <ostream>
#include <string>

#include "tiling/run_context.hpp"

namespace georef::tiling {

// Runs over all tiles, writing its messages and the rendering progress to
// out. Returns true when every world file and tile was written; a file that
// could not be written is reported on out and the loop goes on with the next
// tile. Throws raster::JpegError when the JPEG library gives up on a tile
// (the run then stops).
bool TileLoop(const std::string& outputDirectory, const RunContext& run, std::ostream& out);

}  // namespace georef::tiling
