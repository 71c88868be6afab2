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

namespace georef::batch {

inline constexpr const char* kMosaicFile = "mosaic.vrt";

// Writes (replacing atomically) the mosaic of the tiles "X_Y.jpg" in
// outputDirectory, tileSize pixels each. Returns the number of tiles in it;
// without tiles no mosaic is written and 0 is returned. Throws
// std::runtime_error when GDAL cannot write it.
int WriteMosaic(const std::string& outputDirectory, int tileSize);

}  // namespace georef::batch
