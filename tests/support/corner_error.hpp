#pragma once
// How far found corners lie from the corners a scan was drawn with.

#include <algorithm>
#include <cmath>

#include "geometry/corner_file.hpp"

namespace georef::test {

// The largest distance, in scan pixels, between a found corner and the same
// corner drawn.
inline double WorstError(const geometry::CornerPoints& found, const geometry::CornerPoints& truth) {
    double worst = 0.0;
    for (int k = 0; k < 4; ++k) {
        worst = std::max(worst, std::hypot(found[k].x - truth[k].x, found[k].y - truth[k].y));
    }
    return worst;
}

}  // namespace georef::test
