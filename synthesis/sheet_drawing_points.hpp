#pragma once
// Sub-pixel drawing helpers shared by the sheet drawing's two files
// (sheet_drawing.cpp: the map content; sheet_frame_drawing.cpp: the neat line
// and everything outside it). Points are canvas pixels (see scan_layout.hpp).

#include <cmath>

#include <opencv2/core.hpp>

#include "geometry/map_scale.hpp"
#include "synthesis/scan_layout.hpp"

namespace georef::synthesis::detail {

// Drawing positions carry 4 fractional bits.
constexpr int kShift = 4;
constexpr double kSubPixels = 16.0;
constexpr double kPixelsPerMillimetreAt300 = 300.0 / geometry::kMillimetresPerInch;

inline cv::Point Sub(PixelPoint p) {
    return {static_cast<int>(std::lround(p.u * kSubPixels)), static_cast<int>(std::lround(p.v * kSubPixels))};
}

inline PixelPoint Along(PixelPoint a, PixelPoint b, double t) noexcept {
    return {a.u + t * (b.u - a.u), a.v + t * (b.v - a.v)};
}

inline PixelPoint Plus(PixelPoint p, PixelPoint direction, double distance) noexcept {
    return {p.u + distance * direction.u, p.v + distance * direction.v};
}

// Unit direction from a to b and the outward normal of the neat line's side
// a -> b (see ScanLayout::Offset).
inline PixelPoint Direction(PixelPoint a, PixelPoint b) noexcept {
    const double length = std::hypot(b.u - a.u, b.v - a.v);
    return {(b.u - a.u) / length, (b.v - a.v) / length};
}
inline PixelPoint Outward(PixelPoint a, PixelPoint b) noexcept {
    const PixelPoint d = Direction(a, b);
    return {d.v, -d.u};
}

}  // namespace georef::synthesis::detail
