#pragma once
// How well four scan corners fit the sheet: the corner fit with its scale,
// rotation, implied scan resolution and the residual of each corner.
// Frames: image (scan pixels, x right from the left edge, y up from the
// bottom edge) and nominal (metres in the sheet's cell, x east, y north).

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "geometry/corner_fit.hpp"

namespace georef::geometry {

// Default residual threshold: 0.5 mm on the map at 1:25 000, metres.
inline constexpr double kDefaultThreshold = 12.5;

struct CornerResidual {
    double pixelsX = 0.0;  // fitted minus measured position, image frame
    double pixelsY = 0.0;
    double pixels = 0.0;   // length of (pixelsX, pixelsY)
    double metresX = 0.0;  // fitted minus nominal position, nominal frame
    double metresY = 0.0;
    double metres = 0.0;   // length of (metresX, metresY)
};

struct CornerFitReport {
    Matrix A{2, 2};  // nominal = A * image + T
    Matrix T{2, 1};
    double metresPerPixelX = 0.0;  // length of the image x axis in the nominal frame
    double metresPerPixelY = 0.0;  // the same for the image y axis
    double rotationDegrees = 0.0;  // image x axis against nominal x (east), counter-clockwise
    double dpi = 0.0;              // scan resolution the mean scale implies at 1:25 000
    double determinant = 0.0;      // of A; below 0 the fit mirrors the scan
    std::array<CornerResidual, 4> residuals;  // LD, LH, PH, PD
    double rmsPixels = 0.0;
    double rmsMetres = 0.0;

    bool Mirrored() const noexcept { return determinant < 0.0; }
    // True when every parameter and residual is a finite number; a fit of
    // huge or non-numeric corners is none, whatever its residuals compare as.
    bool Finite() const noexcept;
    // The largest corner residual in metres.
    double WorstMetres() const noexcept;
};

// Runs FitCorners for a valid sheet and derives the report. Throws
// math::matrix_error for a degenerate corner set.
CornerFitReport AnalyseCornerFit(const CornerPoints& corners, int sheetNumber);

// What georef-check says when AnalyseCornerFit throws.
inline constexpr const char* kNoFitText = "the corners admit no fit: three of them lie on one line or coincide";

// The report as georef-check prints it: the sheet, where the corners came
// from, A and T, scale, rotation, each corner with its residual, the RMS.
void WriteCornerFitReport(const CornerFitReport& report, const CornerPoints& corners, int sheet,
                          const std::string& cornerSource, std::ostream& out);

// georef-check's verdict on a finite fit: warnings (mirrored, each corner
// beyond the threshold, metres), the advice when the corners do not fit one
// affine map, and the closing line when every check held.
struct CornerFitJudgement {
    bool sound = true;
    std::vector<std::string> warnings;  // each without the program's name
    std::string advice;                 // empty unless the worst residual exceeds the threshold
    std::string okLine;                 // "ok: ..." when sound, else empty
};
CornerFitJudgement JudgeCornerFit(const CornerFitReport& report, double thresholdMetres);

}  // namespace georef::geometry
