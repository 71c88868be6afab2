#include "geometry/corner_fit_report.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"

namespace georef::geometry {

namespace {


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

}  // namespace georef::geometry
