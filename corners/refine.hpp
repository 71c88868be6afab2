#pragma once
// The refinement at full resolution: near each corner, each of the two sides
// meeting there is measured across its line on many short profiles, the
// line's inner and outer edge (half-way between paper and ink) to a fraction
// of a pixel, and straight lines are fitted to them robustly. A corner is
// where the two sides' fitted lines meet.

#include <array>
#include <optional>
#include <string>

#include "corners/coarse_search.hpp"
#include "corners/frame.hpp"
#include "corners/scan_image.hpp"

namespace georef::corners {

// Which line of the drawn neat line marks the sheet's edge.
enum class Edge { centre, outer, inner };

struct RefinedFrame {
    // Per side, the fitted line near each end: [0] at the corner with the
    // smaller along coordinate (top or left), [1] at the other.
    std::array<std::array<SideLine, 2>, 4> lines;
    std::array<PlanePoint, 4> corners;  // LD, LH, PH, PD, plane frame
    double lineWidth = 0.0;             // median width of the drawn line, pixels (0 when not seen)
    double worstFitRms = 0.0;           // largest RMS of a side's fit, pixels
};

struct RefineResult {
    std::optional<RefinedFrame> frame;
    std::string refusal;
};

// dpi: the scan's resolution, stated or estimated, for the widths of the
// search; edge: which line of the drawn line to measure.
RefineResult RefineFullResolution(const ScanImage& scan, const CoarseFrame& coarse, double dpi, Edge edge);

}  // namespace georef::corners
