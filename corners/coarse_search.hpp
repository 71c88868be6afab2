#pragma once
// The search on a reduced copy of the scan: the inner edge of each side of
// the neat line, the innermost long straight edge (map side light, line side
// dark) that runs along the whole side into both corners and, with the
// other three, makes a quadrilateral of the sheet's shape.

#include <array>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "corners/frame.hpp"

namespace georef::corners {

// What the sheet number and the scan's resolution tell about the frame.
struct SheetShape {
    std::array<double, 4> sideMetres{};  // nominal length of each side (Side order), metres
    std::optional<double> dpi;           // scan resolution when known, pixels per inch
};

struct CoarseFrame {
    std::array<SideLine, 4> inner;  // inner edge of each side's line, full-resolution plane frame
    int factor = 1;                 // reduction of the searched copy
};

struct CoarseResult {
    std::optional<CoarseFrame> frame;
    std::string refusal;  // why no frame was found, with the figures
};

// reduced: the scan reduced by factor (RGB, CV_8UC3).
CoarseResult SearchReduced(const cv::Mat& reduced, int factor, const SheetShape& shape);

// Scan pixels per ground metre at 1:25 000 for a resolution in dpi.
double PixelsPerMetre(double dpi) noexcept;

}  // namespace georef::corners
