#pragma once
// The check before anything is written: the four corners found must make
// the same least-squares fit georef makes, with every residual under
// georef-check's threshold, unmirrored, and a quadrilateral of the sheet's
// size and shape at the scan's resolution.

#include <optional>

#include "corners/stage_result.hpp"
#include "geometry/corner_fit_report.hpp"

namespace georef::corners {

// Each side's length, and the scale along each image axis, of the measured
// corners agree with the sheet's nominal geometry within this share.
inline constexpr double kMeasuredShapeTolerance = 0.02;
// Resolutions a scan may be estimated at when it states none, dpi.
inline constexpr double kLowestDpi = 100.0;
inline constexpr double kHighestDpi = 1200.0;

// The corners' fit when every check held; otherwise the check that failed,
// with figures.
using CheckResult = StageResult<geometry::CornerFitReport>;

// corners: image frame (the corner file's). dpi: the scan's resolution when
// known (stated or given); otherwise it is estimated from the fit and must lie
// between kLowestDpi and kHighestDpi.
CheckResult CheckCorners(const geometry::CornerPoints& corners, int sheetNumber, std::optional<double> dpi);

}  // namespace georef::corners
