#include "geometry/matrix.hpp"

#include <functional>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Matrix = math::matrixT<double>;

Matrix Make(int rows, int cols, const std::vector<double>& values) {
    Matrix m(rows, cols);
    for (int k = 0; k < rows * cols; ++k) {
        m(k / cols, k % cols) = values[static_cast<std::size_t>(k)];
    }
    return m;
}

std::vector<double> Values(const Matrix& m) {
    std::vector<double> values;
    for (int k = 0; k < m.Rows() * m.Cols(); ++k) {
        values.push_back(m(k / m.Cols(), k % m.Cols()));
    }
    return values;
}

void ExpectMatrixError(const std::function<void()>& operation, const char* message) {
    try {
        operation();
        ADD_FAILURE() << "no matrix_error, expected: " << message;
    } catch (const std::logic_error& e) {
        EXPECT_NE(dynamic_cast<const math::matrix_error*>(&e), nullptr);
        EXPECT_STREQ(e.what(), message);
    }
}

TEST(Matrix, ChangeThroughCopyNeverReachesTheSource) {
    Matrix source = Make(2, 2, {1, 2, 3, 4});
    Matrix viaElement = source;
    Matrix viaZero(3, 3);
    viaZero = source;
    EXPECT_EQ(source.RefCount(), 3);
    viaZero = static_cast<const Matrix&>(viaZero);  // self-assignment keeps the share
    EXPECT_EQ(viaZero[1], source[1]);

    viaElement(1, 0) = 30;
    viaZero.SetZero();
    EXPECT_EQ(source.RefCount(), 1);
    EXPECT_EQ(viaElement.RefCount(), 1);
    EXPECT_EQ(viaZero.RefCount(), 1);
    EXPECT_EQ(Values(source), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(Values(viaElement), (std::vector<double>{1, 2, 30, 4}));
    EXPECT_EQ(Values(viaZero), (std::vector<double>{0, 0, 0, 0}));
}

TEST(Matrix, EveryViolationRaisesItsOwnMessage) {
    const Matrix col = Make(2, 1, {1, 2});
    const Matrix row = Make(1, 2, {1, 2});
    Matrix m = Make(2, 3, {1, 2, 3, 4, 5, 6});
    ExpectMatrixError([&] { col + row; }, "matrixT::operator+ : Inconsistent matrix sizes in addition!");
    ExpectMatrixError([&] { col - row; }, "matrixT::operator- : Inconsistent matrix sizes in addition!");
    ExpectMatrixError([&] { m * m; }, "matrixT::operator* : Inconsistent matrix sizes in multiplication!");
    ExpectMatrixError([&] { !m; }, "matrixT::operator!: Inversion of a non-square matrix");
    ExpectMatrixError([&] { !Make(2, 2, {1, 2, 2, 4}); },
                      "matrixT::operator!: Inversion of a singular matrix");
    for (int i : {2, -1}) {
        ExpectMatrixError([&] { m[i]; }, "matrixT::operator[]: Index out of range!");
        ExpectMatrixError([&] { m(i, 0); }, "matrixT::operator(): Index out of range!");
    }
    for (int j : {3, -1}) {
        ExpectMatrixError([&] { m(0, j); }, "matrixT::operator(): Index out of range!");
    }
    EXPECT_EQ(Values(m), (std::vector<double>{1, 2, 3, 4, 5, 6}));

    EXPECT_THROW(Matrix(-1, 2), std::bad_alloc);
    EXPECT_THROW(Matrix(1, 1 << 29), std::bad_alloc);  // a 4 GiB row
}

// An element type whose construction fails on request, to break a matrix's
// allocation part-way through.
struct Fragile {
    static int live;
    static int failAfter;  // constructions left before one throws; -1 never
    Fragile() {
        if (failAfter == 0) {
            throw std::bad_alloc();
        }
        failAfter -= failAfter > 0 ? 1 : 0;
        ++live;
    }
    Fragile(const Fragile&) { ++live; }
    Fragile& operator=(const Fragile&) = default;
    ~Fragile() { --live; }
};
int Fragile::live = 0;
int Fragile::failAfter = -1;

TEST(Matrix, FailedAllocationReleasesWhatWasBuilt) {
    Fragile::failAfter = 7;  // the third row of three elements fails part-way
    EXPECT_THROW((math::matrixT<Fragile>(5, 3)), std::bad_alloc);
    EXPECT_EQ(Fragile::live, 0);

    Fragile::failAfter = -1;
    math::matrixT<Fragile> a(2, 2);
    math::matrixT<Fragile> b = a;
    Fragile::failAfter = 3;  // the copy that would give b its own storage fails
    EXPECT_THROW(b(0, 0), std::bad_alloc);
    EXPECT_EQ(a.RefCount(), 2);
    EXPECT_EQ(b[1], a[1]);
    Fragile::failAfter = -1;
    EXPECT_EQ(Fragile::live, 4);
}

TEST(Matrix, ShapesOfIdentityProductAndTranspose) {
    Matrix m = Make(2, 3, {1, 2, 3, 4, 5, 6});
    const double* const row0 = m[0];
    m.SetIdentity();
    EXPECT_EQ(m[0], row0);  // no reallocation
    EXPECT_EQ(Values(m), (std::vector<double>{1, 0, 0, 1}));

    Matrix row(1, 8), square(8, 8), col(8, 1);
    square.SetIdentity();
    for (int k = 0; k < 8; ++k) {
        row(0, k) = k;
        col(k, 0) = 1;
    }
    const Matrix one = (row * square) * col;
    EXPECT_EQ(Values(one), std::vector<double>{28});
    EXPECT_EQ(Transpose(row).Rows(), 8);
    EXPECT_EQ(Values(Transpose(row)), Values(row));

    // Summed from k = 0 upwards: 1e16 + 1 rounds back to 1e16.
    const Matrix sum = Make(1, 3, {1e16, 1, -1e16}) * Make(3, 1, {1, 1, 1});
    EXPECT_EQ(sum(0, 0), 0.0);
}

TEST(Matrix, InverseLeavesItsOperandAndExchangesRowsByPivot) {
    const Matrix swap = Make(2, 2, {0, 1, 1, 0});
    EXPECT_EQ(Values(!swap), Values(swap));
    EXPECT_EQ(Values(swap), (std::vector<double>{0, 1, 1, 0}));
    EXPECT_EQ(swap.RefCount(), 1);

    const std::vector<double> inverse = Values(!Make(2, 2, {4, 7, 2, 6}));
    const double expected[4] = {0.6, -0.7, -0.2, 0.4};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(inverse[static_cast<std::size_t>(k)], expected[k], 1e-15);
    }

    // Equal pivot magnitudes keep the first row; taking row 1 would round
    // the first row to 0.66666666666666663 and -0.33333333333333337.
    const Matrix tie = !Make(2, 2, {1, 1, -1, 2});
    EXPECT_EQ(tie(0, 0), 0.66666666666666674);
    EXPECT_EQ(tie(0, 1), -0.33333333333333331);
}

TEST(Matrix, LargeInverseReportsProgressEveryHundredRows) {
    std::ostringstream captured;
    std::streambuf* const old = std::cout.rdbuf(captured.rdbuf());
    Matrix hundred(100, 100);
    hundred.SetIdentity();
    !hundred;
    const std::string silent = captured.str();
    Matrix m(101, 101);
    m.SetIdentity();
    m(100, 0) = 2;
    const Matrix inverse = !m;
    std::cout.rdbuf(old);

    EXPECT_EQ(silent, "");
    EXPECT_EQ(inverse(100, 0), -2);
    std::istringstream text(captured.str());
    std::vector<std::string> line;
    for (std::string l; std::getline(text, l);) {
        line.push_back(l);
    }
    ASSERT_EQ(line.size(), 4u) << captured.str();
    EXPECT_EQ(line[0], "0");
    EXPECT_EQ(line[2], "100");
    for (const std::string& seconds : {line[1], line[3]}) {
        std::size_t used = 0;
        EXPECT_GE(std::stof(seconds, &used), 0.0f);
        EXPECT_EQ(used, seconds.size()) << seconds;
    }
}

}  // namespace
