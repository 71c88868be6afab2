#include "corners/frame_check.hpp"

#include <cmath>
#include <cstdio>

#include "corners/frame.hpp"
#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"

namespace georef::corners {

namespace {

std::string Format(const char* format, double a, double b = 0.0, double c = 0.0, double d = 0.0) {
    char text[300];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

}  // namespace

CheckResult CheckCorners(const geometry::CornerPoints& corners, int sheetNumber, std::optional<double> dpi) {
    geometry::CornerFitReport fit;
    try {
        fit = geometry::AnalyseCornerFit(corners, sheetNumber);
    } catch (const math::matrix_error&) {
        return CheckResult::Refused("the corners admit no fit: three of them lie on one line");
    }
    if (fit.Mirrored()) {
        return CheckResult::Refused("the corners make a mirrored fit");
    }
    for (int k = 0; k < 4; ++k) {
        const geometry::CornerResidual& r = fit.residuals[static_cast<std::size_t>(k)];
        if (!(r.metres <= geometry::kDefaultThreshold)) {
            return CheckResult::Refused(std::string("corner ") + kCornerNames[static_cast<std::size_t>(k)] +
                                        Format(" is %.1f m (%.1f px) off the fit of the four; %.1f m allowed",
                                               r.metres, r.pixels, geometry::kDefaultThreshold));
        }
    }
    const double resolution = dpi ? *dpi : fit.dpi;
    if (!dpi && !(fit.dpi >= kLowestDpi && fit.dpi <= kHighestDpi)) {
        return CheckResult::Refused(Format("the frame found implies %.0f dpi; a scan states none, so %.0f to %.0f "
                                           "dpi is required (give --dpi)",
                                           fit.dpi, kLowestDpi, kHighestDpi));
    }
    // Scale along each image axis against the resolution.
    const double metresPerPixel = geometry::kGroundMetresPerInch / resolution;
    for (const double axis : {fit.metresPerPixelX, fit.metresPerPixelY}) {
        const double share = axis / metresPerPixel - 1.0;
        if (!(std::fabs(share) <= kMeasuredShapeTolerance)) {
            char text[200];
            std::snprintf(text, sizeof text, "the frame found is %.2f %% %s than the sheet at %.0f dpi (%.0f %% allowed)",
                          100.0 * std::fabs(share), share > 0.0 ? "smaller" : "larger", resolution,
                          100.0 * kMeasuredShapeTolerance);
            return CheckResult::Refused(text);
        }
    }
    // Each side against its nominal length.
    const geometry::Matrix nominal = geometry::MakeNominalCorners(sheetNumber);
    for (int k = 0; k < 4; ++k) {
        const int n = (k + 1) % 4;
        const double pixels = std::hypot(corners[static_cast<std::size_t>(n)].x - corners[static_cast<std::size_t>(k)].x,
                                         corners[static_cast<std::size_t>(n)].y - corners[static_cast<std::size_t>(k)].y);
        const double metres = std::hypot(nominal(2 * n, 0) - nominal(2 * k, 0), nominal(2 * n + 1, 0) - nominal(2 * k + 1, 0));
        const double share = pixels * metresPerPixel / metres - 1.0;
        if (!(std::fabs(share) <= kMeasuredShapeTolerance)) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "the side %s-%s is %.0f pixels long; the sheet at %.0f dpi has %.0f (%.1f %% off, %.0f %% "
                          "allowed)",
                          kCornerNames[static_cast<std::size_t>(k)], kCornerNames[static_cast<std::size_t>(n)], pixels,
                          resolution, metres / metresPerPixel, 100.0 * share, 100.0 * kMeasuredShapeTolerance);
            return CheckResult::Refused(text);
        }
    }
    return fit;
}

}  // namespace georef::corners
