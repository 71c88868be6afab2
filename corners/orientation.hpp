#pragma once
// Which way is up. A sheet may lie in its scan turned as a whole, by a
// quarter, a half or three quarters of a full turn (scanned sideways or
// upside down, or stored so). The corner file always names the sheet's own
// corners: LD is the sheet's south-west corner wherever it lies in the image.
//
// The sheet's shape tells a quarter turn from none: it is wider than high
// (7.5' of longitude by 3.75' of latitude, about 18 by 13.9 km), so a turned
// sheet's frame is higher than wide. It also tells a half turn from none:
// the south side is longer than the north side by about 46 m (0.26 %), which
// no affine fit can absorb, so the corners labelled upside down are each
// about 23 m off the fit of the four, twice the 12.5 m a corner may be off,
// while the right labels fit within a metre or two.
//
// Turns are given in degrees counter-clockwise as the image is seen: 90
// puts the sheet's north at the image's left edge.

#include <array>
#include <optional>
#include <string>

#include "corners/coarse_search.hpp"
#include "corners/frame_check.hpp"
#include "geometry/corner_fit.hpp"

namespace georef::corners {

// The turns a frame of the given shape may have: 0 and 180 for a frame as
// wide as the sheet, 90 and 270 for one turned on its side.
std::array<int, 2> PossibleTurns(bool onItsSide) noexcept;

// The sheet's shape as the image shows it when turned on its side: the
// image's left and right sides are the sheet's top and bottom, and so on.
SheetShape ShapeOnItsSide(const SheetShape& upright) noexcept;

// The sheet's corners (LD, LH, PH, PD of the sheet, ids 1 to 4) from the
// image's corners (LD, LH, PH, PD of the image: its bottom-left, top-left,
// top-right and bottom-right corner of the frame) of a sheet turned by
// turnDegrees (0, 90, 180 or 270).
geometry::CornerPoints SheetCornersFromImage(const geometry::CornerPoints& imageCorners, int turnDegrees) noexcept;

// "turned by 90 degrees counter-clockwise (north at the left)", and so on;
// "upright" for 0.
std::string TurnDescription(int turnDegrees);

struct TurnDecision {
    int turnDegrees = 0;           // the turn whose labels the checks accepted, or the first possible one
    geometry::CornerPoints sheetCorners{};  // the corners labelled for that turn
    CheckResult check = CheckResult::Refused({});  // the checks of those labels
    // The worst corner residual of the other possible turn's labels, metres;
    // empty when they admit no fit.
    std::optional<double> otherWorstMetres;
};

// Labels the image's corners for each turn the frame's shape allows, checks
// each labelling against the sheet (CheckCorners) and keeps the one the
// checks accept. When neither is accepted, the first possible turn's
// labels and refusal are kept, so an upright scan is refused for what is
// wrong with it upright.
TurnDecision DecideTurn(const geometry::CornerPoints& imageCorners, bool onItsSide, int sheetNumber,
                        std::optional<double> dpi);

}  // namespace georef::corners
