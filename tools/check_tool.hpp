#pragma once
// georef-check: the corner fit of a sheet, looked at before any tile is
// written. Frames: image (scan pixels, x right from the left edge, y up from
// the bottom edge) and nominal (metres in the sheet's cell, x east, y north).

#include <ostream>

#include "geometry/corner_fit_report.hpp"

namespace georef::tools {

using geometry::kDefaultThreshold;
using geometry::CornerResidual;
using geometry::CornerFitReport;
using geometry::AnalyseCornerFit;

// The whole program: georef-check SHEET CORNERFILE [--threshold METRES].
// Returns 0 when the fit is sound, 1 when a residual exceeds the threshold,
// the fit is mirrored or cannot be made (or an input cannot be read), 2 for
// a wrong command line. The report goes to out, warnings and errors to err.
int RunCheckTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::tools
