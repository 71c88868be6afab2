#pragma once
// OUTDIR/mosaic.vrt: every tile of the output directory as one raster,
// EPSG:5514, each tile at its exact place.
//
// A world file gives the outer (north-west) corner of the top-left pixel,
// while GDAL reads lines 5 and 6 of a world file as that pixel's centre, so a
// tile opened on its own sits half a pixel south-east of its true place. The
// mosaic does not take the tiles' positions from their world files: it
// places each tile by its name (tileX / 10 000, tileY / 10 000), with the
// geotransform's origin on the true north-west corner and the exact pixel
// edge 10 000 / tileSize, so every tile lands on whole pixels of the mosaic.

#include <string>
#include <vector>

namespace georef::batch {

inline constexpr const char* kMosaicFile = "mosaic.vrt";

// A tile of the output directory, named "ROW_COLUMN.jpg": it covers
// X = row * 10 000 .. (row + 1) * 10 000 and Y = column * 10 000 ..
// (column + 1) * 10 000 of the output frame (metres).
struct TileName {
    int row = 0;     // tileX / 10 000: southward
    int column = 0;  // tileY / 10 000: westward
    std::string file;  // the name alone, without the directory
};

// The tiles "X_Y.jpg" that are regular files in directory, by row, then
// column; empty when there are none or the directory cannot be read.
std::vector<TileName> ListTiles(const std::string& directory);

// Writes (replacing atomically) the mosaic of the tiles "X_Y.jpg" in
// outputDirectory, tileSize pixels each. Returns the number of tiles in it;
// without tiles no mosaic is written and 0 is returned. Throws
// std::runtime_error when GDAL cannot write it.
int WriteMosaic(const std::string& outputDirectory, int tileSize);

}  // namespace georef::batch
