#pragma once
// The search on a reduced copy of the scan: the inner edge of each side of
// the neat line, the innermost long straight edge (map side light, line side
// dark) that runs along the whole side into both corners and, with the
// other three, makes a quadrilateral of the sheet's shape.
//
// The steps: edge responses of the reduced copy, candidate lines per side
// (candidate_lines.hpp), a score of each combination of four candidates,
// the choice of the innermost combination that holds, and its lines at full
// resolution. Each step may refuse, with the figures.

#include <array>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "corners/frame.hpp"
#include "corners/stage_result.hpp"

namespace georef::corners {

// What the sheet number and the scan's resolution tell about the frame.
struct SheetShape {
    std::array<double, 4> sideMetres{};  // nominal length of each side (Side order), metres
    std::optional<double> dpi;           // scan resolution when known, pixels per inch
};

// The reduced search's frame: width / height ratio, and size when the dpi is
// known, agree with the sheet within this share. (Looser than the final
// check of the measured corners: the reduced copy blurs the line.)
inline constexpr double kSearchShapeTolerance = 0.03;

struct CoarseFrame {
    SideLines inner;  // inner edge of each side's line, full-resolution plane frame
    int factor = 1;   // reduction of the searched copy
    int shape = 0;    // index of the shape asked for that the frame has
};

using CoarseResult = StageResult<CoarseFrame>;

// reduced: the scan reduced by factor (RGB, CV_8UC3). The frame of the
// first of shapes that one holds for; when none does, the refusal for the
// first shape.
CoarseResult SearchReduced(const cv::Mat& reduced, int factor, const std::vector<SheetShape>& shapes);

// Scan pixels per ground metre at 1:25 000 for a resolution in dpi.
double PixelsPerMetre(double dpi) noexcept;

}  // namespace georef::corners
