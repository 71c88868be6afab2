#pragma once
// The sheets of an area as config.bin describes them: each sheet's outline
// and the edges that neighbouring sheets share. Output frame: X metres
// southward, Y metres westward (easting = -Y, northing = -X of EPSG:5514).

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "transform/sheet_boundary.hpp"

namespace georef::review {

struct SheetOutline {
    int sheet = 0;
    std::vector<transform::OutputPoint> vertices;  // boundary in file order, output frame
    // The boundary vertices nearest to the sheet's graticule corners SW, NW,
    // NE, SE (nearest in the graticule frame, through the sheet's grid);
    // empty when no vertex lies inside the grid.
    std::optional<std::array<transform::OutputPoint, 4>> corners;
};

// Every sheet of config.bin with its boundary, in index order; a repeated
// entry is taken once, as georef uses only the first. Throws
// transform::DamagedFile for a damaged file and std::runtime_error when the
// file cannot be opened.
std::vector<SheetOutline> ReadSheetOutlines(const std::string& configPath);

// The edge two sheets share: a meridian (the first sheet lies west of the
// second) or a parallel (the first lies north of the second).
struct SharedEdge {
    int first = 0;
    int second = 0;
    bool meridian = false;           // true: west | east neighbours
    transform::OutputPoint from;     // ends of the edge, output frame
    transform::OutputPoint to;
};

// Pairs of sheets among the outlines whose graticule rectangles share a
// whole side, with the ends of that side taken from the first sheet's
// corners, ordered by first, then second sheet. Sheets with an invalid
// number or without corners have no neighbours.
std::vector<SharedEdge> FindSharedEdges(const std::vector<SheetOutline>& outlines);

}  // namespace georef::review
