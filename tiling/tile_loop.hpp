#pragma once
// The tiles of a sheet: every 10 000 m tile of the output frame that meets
// the boundary's bounding box gets its world file and is opened (or created),
// painted and saved.

#include <ostream>
#include <string>
#include <vector>

#include "tiling/run_context.hpp"
#include "transform/sheet_boundary.hpp"

namespace georef::tiling {

// The tiles a bounding box meets, inclusive bounds in output metres: tileX
// (top edge) from firstTileX to lastTileX and tileY (east edge) from
// firstTileY to lastTileY, in steps of 10 000.
struct TileRange {
    int firstTileX = 0;
    int lastTileX = -10000;
    int firstTileY = 0;
    int lastTileY = -10000;

    bool Empty() const noexcept { return firstTileX > lastTileX || firstTileY > lastTileY; }
};

// Each bound is the multiple of 10 000 at or below the box's coordinate
// (rounded toward minus infinity, so a box reaching below 0 keeps its strip
// there). Tiles whose names or edges would leave the 32-bit range are not
// part of any range. The empty box (no vertex) gives an empty range.
TileRange TileRangeOf(const transform::BoundingBox& box) noexcept;

// How many tiles a loop wrote completely (world file and tile) and how many
// it could not, with the lines that reported each file not written (as
// printed, without their line ends).
struct TileTally {
    int written = 0;
    int failed = 0;
    std::vector<std::string> problems;
};

// Runs over all tiles, each under its tile lock (tiling/tile_lock.hpp),
// writing its messages and the rendering progress to out, and warnings to
// err: an existing tile of another size or colour model is replaced by a
// white one, and that loses the sheets painted into it. Returns true when
// every world file and tile was written; a file that could not be written is
// reported on out and the loop goes on with the next tile. When tally is
// given, each visited tile is counted in it. Throws raster::JpegError when
// the JPEG library gives up on a tile (the run then stops),
// std::invalid_argument when run.tileSize is outside 1 .. 26754 (a tile
// buffer must stay below 2^31 bytes) before any file is touched, and
// math::matrix_error when the corner fit cannot be inverted.
bool TileLoop(const std::string& outputDirectory, const RunContext& run, std::ostream& out, std::ostream& err,
              TileTally* tally = nullptr);

}  // namespace georef::tiling
