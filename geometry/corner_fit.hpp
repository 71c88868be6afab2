#pragma once
// The fit of the scan's four corners to the sheet's nominal corners:
// nominal = A * image + T, least squares over the four corner pairs.
// Image frame: pixels of the scan, x to the right from the left edge, y
// upwards from the bottom edge. Nominal frame: see sheet_geometry.hpp.

#include "geometry/corner_file.hpp"
#include "geometry/matrix.hpp"

namespace georef::geometry {

using Matrix = math::matrixT<double>;

// Fits the corners of a valid sheet. On success replaces A by the 2x2 and T
// by the 2x1 result and returns true. Throws math::matrix_error (and leaves
// A and T unchanged) when the corner set is degenerate so that a pivot of an
// inversion is exactly zero, std::invalid_argument for an invalid sheet
// number (see IsValidSheetNumber).
bool FitCorners(const CornerPoints& corners, int sheetNumber, Matrix& A, Matrix& T);

// image = (!A) * (nominal - T): nominal 2x1 metres -> image 2x1 pixels.
// Inverts A on every call; throws math::matrix_error when A is singular.
Matrix ImageFromNominal(const Matrix& A, const Matrix& T, const Matrix& nominal);

// ImageFromNominal with the inverse of A formed once, for the per-pixel path.
// Gives bit-identical results. Throws math::matrix_error when A is singular.
class InverseFit {
public:
    InverseFit(const Matrix& A, const Matrix& T);

    // (X, Y) nominal metres -> (x, y) image pixels.
    void ImageFromNominal(double X, double Y, double& x, double& y) const noexcept;

    // Element (i, j) of the inverse of A (pixels per metre) and element i
    // of T (metres), as ImageFromNominal uses them.
    double Inverse(int i, int j) const noexcept { return m_inverse[i][j]; }
    double Shift(int i) const noexcept { return m_shift[i]; }

private:
    double m_inverse[2][2];
    double m_shift[2];
};

}  // namespace georef::geometry
