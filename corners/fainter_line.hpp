#pragma once
// A fainter line inside the line taken as a side's neat line. At low
// resolution a thin neat line may be too faint to measure on single
// profiles when the border (its inner band line, or the outer frame) or a
// road beside it is darker: the darker line is then taken in its place, and
// the frame it makes has the sheet's shape, only a few pixels larger. Near
// each corner, many profiles across the line taken, aligned on it and
// averaged, show the fainter line that single profiles miss.
//
// Frames: a stretch's oriented window (stretch.hpp): rows along the side,
// columns across it, origin at the plan's oriented rectangle.

#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "corners/frame.hpp"
#include "corners/stretch.hpp"

namespace georef::corners {

// A fainter line seen parallel to a side's line near one corner.
struct FainterLine {
    double innerEdge = 0.0;  // its inner edge's distance inside the line taken, pixels
    double edge = 0.0;       // the steepness of that edge, share of the stretch's contrast per pixel
    // Its centre's distance inside the line taken, pixels: a thin line
    // blurred darkens the profile as a bell whose steepest flank lies one
    // spread beyond its centre, the spread being 0.61 of its depth over the
    // flank's steepness. Empty when the spread found is not a thin line's.
    std::optional<double> centre;
};

// The most marked line within the border's width inside `line` (plane
// frame), on the mean of the stretch's profiles next to its corner aligned
// on `line`; empty when none shows. grey: OrientedGrey of the stretch.
std::optional<FainterLine> FainterLineInside(const StretchPlan& plan, const cv::Mat& grey, const SideLine& line,
                                             double dpi);

// The centres of the lines inside `line` (plane frame, the border's outer
// frame as a rule) within the border's width and a little further, on the
// mean of the stretch's profiles next to its corner aligned on it, each
// from its inner flank (where the profile rises towards the paper going
// inward, steep as kFainterEdge at least) and its bell's spread, as
// FainterLine::centre: pixels inside `line`, outermost first. A line merged
// with the one outside it, showing only as a shoulder on its inner flank,
// counts. grey: OrientedGrey of the stretch; from: the profiles averaged
// begin this far along from the one next to the corner, pixels (beyond a
// corner torn off).
inline constexpr double kFainterEdge = 0.04;
std::vector<double> LineCentresInside(const StretchPlan& plan, const cv::Mat& grey, const SideLine& line,
                                      double dpi, double from = 0.0);

}  // namespace georef::corners
