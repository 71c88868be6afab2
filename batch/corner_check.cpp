#include "batch/corner_check.hpp"

#include <cmath>
#include <cstdio>

#include "corners/frame_check.hpp"

namespace georef::batch {

namespace {

std::string Figures(const geometry::CornerFitReport& fit) {
    char text[200];
    std::snprintf(text, sizeof text, " (fit RMS %.1f m, worst corner %.1f m, rotation %.1f degrees, %.0f dpi)",
                  fit.rmsMetres, fit.WorstMetres(), fit.rotationDegrees, fit.dpi);
    return text;
}

// Degrees from the nearest quarter turn.
double OffQuarterTurn(double degrees) {
    const double turns = degrees / 90.0;
    return std::fabs(turns - std::round(turns)) * 90.0;
}

}  // namespace

CornerVerdict CheckCornerSet(const geometry::CornerPoints& corners, int sheet, std::optional<double> statedDpi,
                             bool acceptMirrored) {
    CornerVerdict verdict;
    try {
        verdict.fit = geometry::AnalyseCornerFit(corners, sheet);
    } catch (const math::matrix_error&) {
        verdict.refusal = "the corners admit no fit: three of them lie on one line";
        return verdict;
    }
    verdict.fitted = true;
    if (!verdict.fit.Finite()) {
        verdict.refusal = "the corners admit no fit: its figures are not finite numbers";
        return verdict;
    }
    geometry::CornerPoints checked = corners;
    geometry::CornerFitReport upright = verdict.fit;
    if (verdict.fit.Mirrored()) {
        if (!acceptMirrored) {
            verdict.refusal = "the corners make a mirrored fit (y counted from the top?)" + Figures(verdict.fit) +
                              "; a scan that really is mirrored needs --accept-mirrored";
            return verdict;
        }
        // The mirror image (x from the right) has the same residuals and sides.
        for (geometry::CornerPoint& c : checked) {
            c.x = -c.x;
        }
        upright = geometry::AnalyseCornerFit(checked, sheet);
    }
    const bool believed = statedDpi && *statedDpi >= corners::kLowestDpi && *statedDpi <= corners::kHighestDpi;
    const corners::CheckResult check = corners::CheckCorners(checked, sheet, believed ? statedDpi : upright.dpi);
    if (!check.Found()) {
        verdict.refusal = check.Refusal() + Figures(verdict.fit);
        return verdict;
    }
    if (!(OffQuarterTurn(upright.rotationDegrees) <= kPlausibleRotationDegrees)) {
        char text[160];
        std::snprintf(text, sizeof text, "the corners turn the sheet by %.1f degrees; %.0f allowed", upright.rotationDegrees,
                      kPlausibleRotationDegrees);
        verdict.refusal = text + Figures(verdict.fit);
    }
    return verdict;
}

}  // namespace georef::batch
