#pragma once
// Lines that cross a seam strip's edge on one side of it: roads, railways,
// rivers and contour lines running out of a sheet at an angle to its edge,
// each found as a straight piece through the band beside the edge.
//
// Frame: strip pixels (see seam_strip.hpp); a line's position is the column
// where its straight piece meets the edge's row, and its slope is the change
// of that column per row away from the edge, taken in the strip's own sense
// of rows (positive rows towards the second sheet).

#include <vector>

#include "seams/seam_strip.hpp"

namespace georef::seams {

struct CrossingLine {
    double column = 0.0;     // where it meets the edge, strip pixels
    double slope = 0.0;      // columns per row, at the edge
    double curvature = 0.0;  // columns per row squared: column = c + slope s + curvature s^2
    double strength = 0.0;   // mean high-passed ink along it
    // Its centre row by row: distance from the edge (signed rows), column.
    std::vector<std::pair<double, double>> centres;
};

struct CrossingOptions {
    int gapRows = 3;            // rows next to the edge left out (the neat line's remains)
    double largestSlope = 2.5;  // steeper lines run too nearly along the edge
    double leastInk = 18.0;     // mean ink above its surroundings, grey levels
};

enum class StripSide { first, second };

// The lines crossing the band on one side of the edge, within the columns
// where both sides have tiles, ordered by column.
std::vector<CrossingLine> FindCrossingLines(const SeamStrip& strip, StripSide side, const CrossingOptions& options);

}  // namespace georef::seams
