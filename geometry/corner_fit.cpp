#include "geometry/corner_fit.hpp"

#include "geometry/sheet_geometry.hpp"

namespace georef::geometry {

namespace {

// ((e' W) u) / ((e' W) e): the weighted mean of the entries of the 8x1 u that
// the selector e picks; both quotient terms are 1x1 products.
double SelectedMean(const Matrix& e, const Matrix& W, const Matrix& u) {
    const Matrix numerator = (Transpose(e) * W) * u;
    const Matrix denominator = (Transpose(e) * W) * e;
    return numerator[0][0] / denominator[0][0];
}

// Rows 2k and 2k + 1 of the design of corner k in centred image coordinates:
// dX = p0 dx + p2 dy + p4 and dY = p1 dx + p3 dy + p5. M must be zeroed.
void SetDesignRows(Matrix& M, int k, double dx, double dy) {
    double* const rowX = M[2 * k];
    double* const rowY = M[2 * k + 1];
    rowX[0] = dx;
    rowX[2] = dy;
    rowX[4] = 1.0;
    rowY[1] = dx;
    rowY[3] = dy;
    rowY[5] = 1.0;
}

}  // namespace

bool FitCorners(const CornerPoints& corners, int sheetNumber, Matrix& A, Matrix& T) {
    // v: image corners LD, LH, PH, PD as x, y pairs (pixels).
    Matrix v(8, 1);
    for (int k = 0; k < 4; ++k) {
        v[2 * k][0] = corners[k].x;
        v[2 * k + 1][0] = corners[k].y;
    }

    // Selectors of the x and the y entries, and unit weights.
    Matrix ex(8, 1);
    Matrix ey(8, 1);
    for (int i = 0; i < 8; ++i) {
        ex[i][0] = (i + 1) % 2;
        ey[i][0] = i % 2;
    }
    Matrix W(8, 8);
    W.SetIdentity();

    // n: nominal corners in the same order (nominal frame, metres).
    const Matrix n = MakeNominalCorners(sheetNumber);

    // Centroids of the four image corners (g) and nominal corners (G).
    Matrix g(2, 1);
    g[0][0] = SelectedMean(ex, W, v);
    g[1][0] = SelectedMean(ey, W, v);
    Matrix G(2, 1);
    G[0][0] = SelectedMean(ex, W, n);
    G[1][0] = SelectedMean(ey, W, n);

    // Centred coordinates of every corner, about the centroids of all four.
    double dx[4], dy[4], dX[4], dY[4];
    for (int k = 0; k < 4; ++k) {
        dx[k] = v[2 * k][0] - g[0][0];
        dy[k] = v[2 * k + 1][0] - g[1][0];
        dX[k] = n[2 * k][0] - G[0][0];
        dY[k] = n[2 * k + 1][0] - G[1][0];
    }

    // Start parameters from the exact fit through LD, LH and PH.
    Matrix K(6, 6);
    K.SetZero();
    Matrix l3(6, 1);
    for (int k = 0; k < 3; ++k) {
        SetDesignRows(K, k, dx[k], dy[k]);
        l3[2 * k][0] = dX[k];
        l3[2 * k + 1][0] = dY[k];
    }
    const Matrix p0 = (!K) * l3;

    // One least-squares correction over all four corners.
    Matrix B(8, 6);
    B.SetZero();
    Matrix l(8, 1);
    for (int k = 0; k < 4; ++k) {
        SetDesignRows(B, k, dx[k], dy[k]);
        l[2 * k][0] = dX[k];
        l[2 * k + 1][0] = dY[k];
    }
    const Matrix r = l - (B * p0);
    const Matrix Q = (Transpose(B) * W) * B;
    const Matrix delta = (((!Q) * Transpose(B)) * W) * r;
    const Matrix p = delta + p0;

    // A(i, j) = p[2j + i]; the shift s = (p4, p5) is zero up to rounding.
    Matrix fitA(2, 2);
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            fitA[i][j] = p[2 * j + i][0];
        }
    }
    Matrix s(2, 1);
    s[0][0] = p[4][0];
    s[1][0] = p[5][0];
    const Matrix fitT = (G - fitA * g) + s;

    A = fitA;
    T = fitT;
    return true;
}

Matrix ImageFromNominal(const Matrix& A, const Matrix& T, const Matrix& nominal) {
    return (!A) * (nominal - T);
}

InverseFit::InverseFit(const Matrix& A, const Matrix& T) : m_inverse{}, m_shift{} {
    const Matrix inverse = !A;
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            m_inverse[i][j] = inverse(i, j);
        }
        m_shift[i] = T(i, 0);
    }
}

void InverseFit::ImageFromNominal(double X, double Y, double& x, double& y) const noexcept {
    // The same operations as (!A) * (nominal - T): the difference first,
    // then each row's sum starting at 0.0 (which turns a -0.0 into +0.0).
    const double d0 = X - m_shift[0];
    const double d1 = Y - m_shift[1];
    x = (0.0 + m_inverse[0][0] * d0) + m_inverse[0][1] * d1;
    y = (0.0 + m_inverse[1][0] * d0) + m_inverse[1][1] * d1;
}

}  // namespace georef::geometry
