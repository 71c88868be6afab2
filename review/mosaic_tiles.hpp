#pragma once
// The tiles of a mosaic that the batch wrote as a VRT: each tile placed
// whole, pixel for pixel, at its place. Readers that know this decode the
// tiles themselves (a window of a tile, or its reduced copy) instead of
// going through GDAL's VRT.

#include <string>
#include <vector>

namespace georef::review {

// A JPEG tile placed whole in the mosaic.
struct MosaicTile {
    std::string path;
    int x = 0;  // mosaic column and row of its top-left pixel
    int y = 0;
    int width = 0;
    int height = 0;
};

// The tiles of a VRT of `bands` bands (3) whose every band is a list of
// simple sources, band k of each its band k, each source's whole image at
// its place, the same in every band. Empty for any other raster, which GDAL
// then reads. Paths relative to the VRT are made relative to its folder.
std::vector<MosaicTile> WholeTiles(const std::string& vrtPath, int bands);

}  // namespace georef::review
