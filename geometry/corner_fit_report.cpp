#include "geometry/corner_fit_report.hpp"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"

namespace georef::geometry {

namespace {


constexpr const char* kCornerNames[4] = {"LD", "LH", "PH", "PD"};

}  // namespace

double CornerFitReport::WorstMetres() const noexcept {
    double worst = 0.0;
    for (const CornerResidual& c : residuals) {
        worst = std::max(worst, c.metres);
    }
    return worst;
}

bool CornerFitReport::Finite() const noexcept {
    const double values[] = {A(0, 0), A(0, 1), A(1, 0), A(1, 1), T(0, 0), T(1, 0), metresPerPixelX,
                             metresPerPixelY, rotationDegrees, dpi, determinant, rmsPixels, rmsMetres};
    if (!std::all_of(std::begin(values), std::end(values), [](double v) { return std::isfinite(v); })) {
        return false;
    }
    return std::all_of(residuals.begin(), residuals.end(), [](const CornerResidual& c) {
        return std::isfinite(c.pixels) && std::isfinite(c.metres) && std::isfinite(c.pixelsX) &&
               std::isfinite(c.pixelsY) && std::isfinite(c.metresX) && std::isfinite(c.metresY);
    });
}

CornerFitReport AnalyseCornerFit(const CornerPoints& corners, int sheetNumber) {
    CornerFitReport r;
    FitCorners(corners, sheetNumber, r.A, r.T);
    const Matrix& A = r.A;
    const Matrix& T = r.T;
    r.metresPerPixelX = std::hypot(A(0, 0), A(1, 0));
    r.metresPerPixelY = std::hypot(A(0, 1), A(1, 1));
    r.rotationDegrees = std::atan2(A(1, 0), A(0, 0)) * 180.0 / M_PI;
    r.dpi = kGroundMetresPerInch / (0.5 * (r.metresPerPixelX + r.metresPerPixelY));
    r.determinant = A(0, 0) * A(1, 1) - A(0, 1) * A(1, 0);

    const Matrix nominal = MakeNominalCorners(sheetNumber);
    double sumPixels = 0.0;
    double sumMetres = 0.0;
    for (int k = 0; k < 4; ++k) {
        const double x = corners[k].x;
        const double y = corners[k].y;
        const double X = nominal(2 * k, 0);
        const double Y = nominal(2 * k + 1, 0);
        CornerResidual& c = r.residuals[k];
        c.metresX = A(0, 0) * x + A(0, 1) * y + T(0, 0) - X;
        c.metresY = A(1, 0) * x + A(1, 1) * y + T(1, 0) - Y;
        c.metres = std::hypot(c.metresX, c.metresY);
        Matrix target(2, 1);
        target(0, 0) = X;
        target(1, 0) = Y;
        const Matrix image = ImageFromNominal(A, T, target);
        c.pixelsX = image(0, 0) - x;
        c.pixelsY = image(1, 0) - y;
        c.pixels = std::hypot(c.pixelsX, c.pixelsY);
        sumPixels += c.pixels * c.pixels;
        sumMetres += c.metres * c.metres;
    }
    r.rmsPixels = std::sqrt(sumPixels / 4.0);
    r.rmsMetres = std::sqrt(sumMetres / 4.0);
    return r;
}

void WriteCornerFitReport(const CornerFitReport& r, const CornerPoints& corners, int sheet,
                          const std::string& cornerSource, std::ostream& out) {
    const std::ios::fmtflags flags = out.flags();
    const std::streamsize precision = out.precision();
    out << std::fixed;
    out << "sheet " << sheet << ", corners from " << cornerSource << "\n";
    out << "fit: nominal = A * image + T\n" << std::setprecision(6);
    out << "  A = [ " << std::setw(12) << r.A(0, 0) << " " << std::setw(12) << r.A(0, 1) << " ]\n";
    out << "      [ " << std::setw(12) << r.A(1, 0) << " " << std::setw(12) << r.A(1, 1) << " ]\n";
    out << std::setprecision(3) << "  T = ( " << r.T(0, 0) << ", " << r.T(1, 0) << " ) m\n";
    out << std::setprecision(4) << "scale: " << r.metresPerPixelX << " m per pixel along x, "
        << r.metresPerPixelY << " m per pixel along y (about " << std::setprecision(0) << r.dpi
        << " dpi at 1:25 000)\n";
    out << std::setprecision(3) << "rotation: " << r.rotationDegrees << " degrees"
        << (r.Mirrored() ? ", MIRRORED (det A < 0)" : "") << "\n";
    out << "corner  id          x          y   residual px   residual m\n";
    for (int k = 0; k < 4; ++k) {
        out << std::setprecision(2) << kCornerNames[k] << "  " << std::setw(6) << corners[k].id << " "
            << std::setw(10) << corners[k].x << " " << std::setw(10) << corners[k].y << " " << std::setw(13)
            << r.residuals[k].pixels << " " << std::setw(12) << r.residuals[k].metres << "\n";
    }
    out << "RMS residual: " << r.rmsPixels << " px, " << r.rmsMetres << " m\n";
    out.flags(flags);
    out.precision(precision);
}

CornerFitJudgement JudgeCornerFit(const CornerFitReport& report, double thresholdMetres) {
    CornerFitJudgement judgement;
    if (report.Mirrored()) {
        judgement.warnings.push_back(
            "the fit mirrors the scan (det A < 0): the corners are not in the "
            "order LD LH PH PD (lower left, upper left, upper right, lower right), or y was counted "
            "down from the top edge instead of up from the bottom");
        judgement.sound = false;
    }
    for (int k = 0; k < 4; ++k) {
        if (report.residuals[k].metres > thresholdMetres) {
            std::ostringstream text;
            text << "corner " << kCornerNames[k] << " is " << std::fixed << std::setprecision(1)
                 << report.residuals[k].metres << " m (" << report.residuals[k].pixels
                 << " px) off the fit; the threshold is " << thresholdMetres << " m";
            judgement.warnings.push_back(text.str());
            judgement.sound = false;
        }
    }
    if (report.WorstMetres() > thresholdMetres) {
        judgement.advice =
            "the four corners do not fit one affine map: check that they are in the "
            "order LD LH PH PD, that y counts up from the bottom edge, and that each lies on its "
            "corner of the neat line";
    }
    if (judgement.sound) {
        std::ostringstream text;
        text << "ok: every residual is within " << std::fixed << std::setprecision(1) << thresholdMetres << " m";
        judgement.okLine = text.str();
    }
    return judgement;
}

}  // namespace georef::geometry
