#pragma once
// Synthetic map-like scans of a sheet, for the demo and the end-to-end
// tests: a white collar around the neat line, graticule ticks on the neat
// line and crosses inside, and a few drawn features (forest, contours, a
// lake, a river, roads) defined in the graticule frame so that neighbouring
// sheets continue one another. Black is used only for the neat line, its
// ticks, the crosses and the collar's outer frame.

#include <string>
#include <vector>

#include "geometry/corner_fit.hpp"
#include "transform/transform_grid.hpp"

namespace georef::synthesis {

struct DemoScanOptions {
    double dpi = 150.0;              // scan resolution, pixels per inch of paper
    double rotationDegrees = 0.4;    // the sheet's tilt on the scanner, counter-clockwise
    double collarMillimetres = 15.0; // white paper around the neat line
    bool density = false;            // record the dpi in the file (TIFF tags, JFIF density)
};

struct DemoScan {
    geometry::CornerPoints corners;  // where the neat line's corners were drawn (image frame)
    int width = 0;                   // pixels
    int height = 0;
};

// Draws the scan of a valid sheet and writes it through GDAL: JPEG for a
// name ending in .jpg or .jpeg, TIFF (deflate) otherwise. The image
// point (x, y) of the corner file (y up from the bottom edge) is drawn at
// column x + 0.5 and row height - y - 1.5, the position georef samples it
// from. Throws georef::Failure when the file cannot be written.
DemoScan WriteDemoScan(int sheetNumber, const std::string& path, const DemoScanOptions& options = {});

// Graticule points (degrees) of the crosses drawn inside a sheet: every
// 2.5 minutes of longitude and latitude, away from the neat line.
std::vector<transform::GraticulePoint> DemoCrosses(int sheetNumber);

}  // namespace georef::synthesis
