#pragma once
// The first step of the search on the reduced copy: for each side, the long
// straight edges that may be the inner edge of the neat line. An edge is
// looked for in the side's edge response, oriented so that the side runs
// down its rows: rows are the along coordinate, columns the across one
// (for a top or bottom side, the transposed response).

#include <vector>

#include <opencv2/core.hpp>

#include "corners/frame.hpp"

namespace georef::corners {

// The edge response of a full step from ink to paper, in the 8-bit
// response images (0 for none).
inline constexpr double kFullResponse = 255.0;
// A line is a candidate when its edge covers this share of the scan's height
// (or width) at full strength.
inline constexpr double kCandidateCover = 0.25;

// A straight edge in the oriented response: across = acrossAtCentre + tilt *
// (along - the response's centre row), reduced pixels.
struct CandidateLine {
    double acrossAtCentre = 0.0;
    double tilt = 0.0;
    double cover = 0.0;  // share of the response's rows the edge covers at full strength
};

struct SideCandidates {
    std::vector<CandidateLine> lines;  // innermost (nearest the map) first; at most a few
    double strongestCover = 0.0;       // of any edge in the side's half, candidate or not
};

// The candidates of one side in its edge response (CV_8U, kFullResponse
// for a full step), oriented as described above when runsDown, in the
// image's orientation (the side running along the rows, the transposed of
// the above) otherwise. mapTowardsLargerAcross: the map lies towards larger
// across coordinates (a left or top side); the side is looked for in the
// other half.
SideCandidates FindCandidateLines(const cv::Mat& response, bool runsDown, bool mapTowardsLargerAcross);

// The candidate as a side line in reduced plane pixels; alongCentre: the
// oriented response's centre row.
SideLine ToSideLine(const CandidateLine& candidate, double alongCentre) noexcept;

}  // namespace georef::corners
