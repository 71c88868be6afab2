#pragma once
// The seams as the review page shows them: a line along each shared edge on
// the overview, coloured by the offset measured there, and the words that go
// with it.

#include <ostream>
#include <string>
#include <vector>

#include "review/review_page.hpp"
#include "review/sheet_outlines.hpp"

namespace georef::review::detail {

// The figures measured for an edge; nullptr when it was not measured.
const SeamFigures* FiguresOf(const std::vector<SeamFigures>& seams, const SharedEdge& edge) noexcept;

// 0 for a suspect seam, 1 for one measured within the threshold, 2 for one
// not measured: the order the page lists them in.
int SeamRank(const SeamFigures* figures) noexcept;

// "suspect: 31.2 m along, -4.0 m across, 12 lines" and the like.
std::string SeamDescription(const SeamFigures* figures);

// A line for each edge, in SVG units of metres from (west, north), x east
// and y south: from green at no offset through orange at the threshold to
// red when suspect; grey and dashed when not measured.
void WriteSeamLines(std::ostream& svg, const std::vector<SharedEdge>& edges, const std::vector<SeamFigures>& seams,
                    double thresholdMetres, double west, double north);

}  // namespace georef::review::detail
