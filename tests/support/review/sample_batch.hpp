#pragma once
// Real output of a small batch, made with the project's own programs, for
// the review page's tests and measurements: synthetic scans of neighbouring
// sheets (georef-demo-scan), config.bin (georef-config), a georef run per
// sheet into one tile directory, mosaic.vrt over the tiles (GDAL), and a
// corner picture per sheet cut from its scan. A sheet whose corner file is
// broken fails in georef as it would in a batch, with georef's message.

#include <string>
#include <vector>

#include "geometry/corner_fit.hpp"
#include "review/review_page.hpp"

namespace georef::test {

struct SampleBatch {
    std::string directory;   // OUTDIR: tiles/, mosaic.vrt, config.bin, pictures/
    std::string configPath;
    std::string mosaicPath;
    std::vector<batch::SheetResult> sheets;  // in the order they were run
};

// Runs doneSheets (each must succeed) and failingSheets (georef is given a
// corner file it refuses for the first, no corner file for the others) in
// directory, which must exist. config.bin holds
// the sheets of all three lists; otherSheets are not run. Fails the current test (gtest assertions)
// when a step does not do what it should.
SampleBatch MakeSampleBatch(const std::string& directory, const std::vector<int>& doneSheets,
                            const std::vector<int>& failingSheets, const std::vector<int>& otherSheets = {});

// A VRT of the given size in tiles (easting/northing of EPSG:5514) that
// repeats the JPEG tiles of a real tile directory over the area from
// (west, north), 10 km per tile: a mosaic of a large area at the cost of a
// small one. Returns the VRT's path.
std::string WriteRepeatedMosaic(const std::string& vrtPath, const std::string& tileDirectory, double west,
                                double north, int tilesEast, int tilesSouth);

// Writes an RGB PNG picture of the four corners of a scan: 2 x 2 insets of
// insetPixels cut around the corner points, each with a cross at the point.
void WriteCornerPicture(const std::string& scanPath, const geometry::CornerPoints& corners,
                        const std::string& pngPath, int insetPixels = 200);

}  // namespace georef::test
