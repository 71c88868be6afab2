#pragma once
// What georef-publish publishes: the 10 km JPEG tiles of an output directory
// and mosaic.vrt over them (written afresh, as georef-batch writes it).
//
// Frame: EPSG:5514 easting/northing in metres. A tile ROW_COLUMN covers
// easting -(column + 1) * 10 000 .. -column * 10 000 and northing
// -(row + 1) * 10 000 .. -row * 10 000.

#include <cstdint>
#include <string>
#include <vector>

#include "batch/mosaic.hpp"

namespace georef::publish {

inline constexpr double kTileMetres = 10000.0;  // edge of a source tile on the ground

struct EastNorthBox {
    double west = 0.0;  // metres, EPSG:5514
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};

struct SourceTile {
    batch::TileName name;
    std::int64_t bytes = 0;       // file size
    std::int64_t modifiedNs = 0;  // modification time, nanoseconds since the epoch

    EastNorthBox Box() const noexcept {
        return {-(name.column + 1) * kTileMetres, -(name.row + 1) * kTileMetres, -name.column * kTileMetres,
                -name.row * kTileMetres};
    }
};

struct SourceArea {
    std::string directory;
    std::string mosaicPath;  // OUTDIR/mosaic.vrt
    int tileSize = 0;        // pixels along each side of every tile
    std::vector<SourceTile> tiles;

    double PixelMetres() const noexcept { return kTileMetres / tileSize; }
};

// Lists the tiles of outputDirectory, checks they all have one size, and
// (re)writes mosaic.vrt over them. Throws PublishError naming the directory
// when it is missing, holds no tiles, or holds tiles of different sizes or
// that GDAL cannot read.
SourceArea OpenSourceArea(const std::string& outputDirectory);

}  // namespace georef::publish
