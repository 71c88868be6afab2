#pragma once
// Scans of a sheet drawn for the corner finder's tests: the neat line
// centred on the sheet's edge, a graduated border (filled minute segments
// between the neat line and a thicker outer frame), hatching that runs up to
// the line, a road alongside a side, tinted grainy paper, blur; written
// through GDAL (JPEG or TIFF, with the resolution stated or not). The exact
// corners are known: the drawn quadrilateral is the affine image of the
// sheet's nominal corners.

#include <string>

#include "geometry/corner_fit.hpp"

namespace georef::test {

struct SheetScanOptions {
    int sheet = 40572;
    double dpi = 120.0;
    double rotationDegrees = -1.7;
    double lineWidthMm = 0.2;      // neat line, centred on the edge
    double borderGapMm = 2.5;      // neat line to outer frame, 0: no border
    double marginMm = 14.0;        // paper around the neat line
    double roadInsideMm = 0.6;     // road along the bottom side's middle, centre inside the line's
    bool jpeg = true;
    bool stateDpi = true;          // write the resolution into the file
    int cropRightMm = 0;           // cut this much off the image's right edge
    double blurPixels = 0.6;       // Gaussian sigma
    unsigned seed = 1;             // paper grain
};

struct SheetScan {
    geometry::CornerPoints corners;  // exact, image frame (the corner file's)
    int width = 0;
    int height = 0;
};

SheetScan WriteSheetScan(const std::string& path, const SheetScanOptions& options);

}  // namespace georef::test
