#pragma once
// One profile across a side of the neat line: the grey levels of a short
// run of pixels across the side, index growing outward (away from the map),
// and the dark lines it crosses, each measured to a fraction of a pixel.

#include <optional>
#include <vector>

namespace georef::corners {

// Where a profile crosses one dark line. Edges lie half-way between paper
// and ink; positions in the profile's index units.
struct LineCrossing {
    double innerEdge = 0.0;            // the edge towards the map
    std::optional<double> outerEdge;   // the edge away from it, when the paper comes back beyond the line
    double paper = 0.0;                // grey level of the paper beside the line, on the map's side
    double area = 0.0;                 // darkness below the paper integrated across the line, twice
                                       // its half towards the map; grey level x pixels (only with
                                       // an outer edge)
};

// Every dark line the profile crosses whose inner edge (a local steepest
// fall) lies from searchInward before index expected to searchOutward after
// it, inner edge first. maxWidth: the widest line, pixels; minDepth: the
// least darkness below the paper, grey levels.
std::vector<LineCrossing> FindLineCrossings(const std::vector<float>& profile, int expected, int searchInward,
                                            int searchOutward, int maxWidth, double minDepth);

}  // namespace georef::corners
