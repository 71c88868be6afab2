#pragma once
// The offset across a seam from the lines that cross it: each line found on
// both sides gives one equation, and lines crossing at different angles
// separate the offset along the edge from the offset across it.
//
// If the second sheet's content lies (along, across) strip pixels from where
// the first sheet's continues, a line meeting the edge at column x with slope
// q on the first side meets it at x + along - q * across on the second.

#include <optional>
#include <vector>

#include "seams/crossing_lines.hpp"

namespace georef::seams {

struct SeamOffset {
    std::optional<double> along;   // strip pixels; empty when nothing matched
    std::optional<double> across;  // empty also when the matched lines all cross at one angle
    int features = 0;              // lines matched on both sides
    bool consistent = false;       // enough of the lines continue across with one offset
};

struct MatchOptions {
    double searchPixels = 24.0;    // largest offset sought
    double tolerancePixels = 1.0;  // a line matches when it fits the offset this closely
    double slopeTolerance = 0.25;  // a line keeps its slope across a seam within this
    int leastFeatures = 4;
    double leastShare = 0.2;       // of the lines on the side with fewer
};

SeamOffset MatchCrossings(const std::vector<CrossingLine>& first, const std::vector<CrossingLine>& second,
                          const MatchOptions& options);

}  // namespace georef::seams
