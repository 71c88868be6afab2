#pragma once
// The refinement at full resolution: near each corner, each of the two sides
// meeting there is measured across its line on many short profiles, the
// line's inner and outer edge (half-way between paper and ink) to a fraction
// of a pixel, and straight lines are fitted to them robustly. A corner is
// where the two sides' fitted lines meet.
//
// The steps: a plan of the eight stretches (stretch.hpp), their pixels read
// in one pass, the dark lines on their profiles (line_profile.hpp), the
// straight lines of each stretch (line_fit.hpp), the choice of each side's
// neat line among them, and the corners where the chosen lines meet. The
// choice may refuse, with the figures.

#include <array>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "corners/coarse_search.hpp"
#include "corners/frame.hpp"
#include "corners/scan_image.hpp"
#include "corners/stage_result.hpp"

namespace georef::corners {

// Which line of the drawn neat line marks the sheet's edge.
enum class Edge { centre, outer, inner };

struct RefinedFrame {
    SideEndLines lines;     // per side, the fitted line near each end (end [0] at the smaller along)
    FrameCorners corners;   // LD, LH, PH, PD, plane frame
    double lineWidth = 0.0; // median width of the drawn line, pixels (0 when not seen)
    // Per corner, how far its sides' lines were carried on to it because
    // they stop short of it (torn off, hidden, worn away), pixels; 0 where
    // both run into it.
    std::array<double, 4> carried{};
    // Per side (left, top, right, bottom), the gap from the border's outer
    // frame inward at which its neat line was placed because it could not
    // be told from the lines beside it, pixels; empty where it was found.
    std::array<std::optional<double>, 4> fromFrame{};
    // Per side, how far inside the line taken near each of its corners (end
    // [0] first) its neat line was taken, pixels, because at this resolution
    // the neat line merges with the border's line and shows only as a fainter
    // line inside it; empty where the line taken is the neat line.
    std::array<std::optional<std::array<double, 2>>, 4> fromFainter{};
    // The corners again with the lines of sides carried on over a larger
    // tear taken from the sides' other ends instead (each combination, the
    // corners named first): a side bowed or sheared where it is present next
    // to the tear carries a lean on to the corner that its other end, lying
    // straight, may not. Empty when no side was carried so.
    std::vector<FrameCorners> otherEnds;
    // The pixels of the windows asked to be read along (RGB, clipped to the
    // scan), in their order.
    std::vector<cv::Mat> alsoRead;
};

using RefineResult = StageResult<RefinedFrame>;

// dpi: the scan's resolution, stated or estimated, for the widths of the
// search; edge: which line of the drawn line to measure.
// alsoRead: more windows (plane frame, within the scan) to read in the same
// pass over the scan, for what comes after the refinement. threads: 2 to
// measure the stretches on two cores (the same results as on one).
RefineResult RefineFullResolution(const ScanImage& scan, const CoarseFrame& coarse, double dpi, Edge edge,
                                  const std::vector<cv::Rect>& alsoRead = {}, int threads = 1);

}  // namespace georef::corners
