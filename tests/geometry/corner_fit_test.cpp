#include "geometry/corner_fit.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/sheet_geometry.hpp"
#include "platform/failure.hpp"
#include "support/temp_dir.hpp"

namespace {

using georef::geometry::CornerPoints;
using georef::geometry::Matrix;

constexpr int kSheet = 40571;

// The chosen image-to-nominal map: X = 2x + 0.5y + 100, Y = -0.3x + 3y + 7.
constexpr double kA[2][2] = {{2.0, 0.5}, {-0.3, 3.0}};
constexpr double kT[2] = {100.0, 7.0};

// Image corners whose image under the chosen map are the sheet's nominal
// corners.
CornerPoints CornersOfExactMap() {
    const Matrix n = georef::geometry::MakeNominalCorners(kSheet);
    const double det = kA[0][0] * kA[1][1] - kA[0][1] * kA[1][0];
    CornerPoints corners{};
    for (int k = 0; k < 4; ++k) {
        const double X = n(2 * k, 0) - kT[0];
        const double Y = n(2 * k + 1, 0) - kT[1];
        corners[k].id = k + 1;
        corners[k].x = (kA[1][1] * X - kA[0][1] * Y) / det;
        corners[k].y = (-kA[1][0] * X + kA[0][0] * Y) / det;
    }
    return corners;
}

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// a00 a01 a10 a11 t0 t1 of a fit to the test sheet.
std::vector<double> Fit(const CornerPoints& corners) {
    Matrix A(6, 6), T(6, 6);
    EXPECT_TRUE(georef::geometry::FitCorners(corners, kSheet, A, T));
    EXPECT_EQ(A.Rows(), 2);
    EXPECT_EQ(A.Cols(), 2);
    EXPECT_EQ(T.Rows(), 2);
    EXPECT_EQ(T.Cols(), 1);
    return {A(0, 0), A(0, 1), A(1, 0), A(1, 1), T(0, 0), T(1, 0)};
}

TEST(CornerFit, DegenerateCornersRaiseAndKeepThePreviousFit) {
    // LD, LH, PH on the image line x = 0; four equal corners.
    const CornerPoints vertical = {{{1, 0, 0}, {2, 0, 1000}, {3, 0, 2000}, {4, 512, 0}}};
    const CornerPoints equal = {{{1, 250, 125}, {2, 250, 125}, {3, 250, 125}, {4, 250, 125}}};
    for (const CornerPoints& corners : {vertical, equal}) {
        Matrix A(6, 6), T(6, 6);
        A.SetIdentity();
        T.SetZero();
        try {
            georef::geometry::FitCorners(corners, kSheet, A, T);
            ADD_FAILURE() << "no matrix_error";
        } catch (const math::matrix_error& e) {
            EXPECT_STREQ(e.what(), "matrixT::operator!: Inversion of a singular matrix");
        }
        EXPECT_EQ(A.Rows(), 6);
        EXPECT_EQ(A(5, 5), 1.0);
        EXPECT_EQ(T.Rows(), 6);
        EXPECT_EQ(T(5, 5), 0.0);
    }
}

TEST(CornerFit, RecoversAnExactAffineMapFromAllFourCornersInFileOrder) {
    const std::vector<double> exact = Fit(CornersOfExactMap());
    const double expected[6] = {2.0, 0.5, -0.3, 3.0, 100.0, 7.0};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_NEAR(exact[k], expected[k], k < 4 ? 1e-12 : 1e-8) << k;
    }

    // LD, LH and PH still lie on the exact map: a fit through them alone
    // would not move.
    CornerPoints movedPD = CornersOfExactMap();
    movedPD[3].x += 40.0;
    const std::vector<double> moved = Fit(movedPD);
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_GT(std::abs(moved[k] - exact[k]), 1e-6) << k;
    }

    CornerPoints swapped = CornersOfExactMap();
    std::swap(swapped[0], swapped[1]);
    const std::vector<double> swappedFit = Fit(swapped);
    double change = 0;
    for (std::size_t k = 0; k < 6; ++k) {
        change += std::abs(swappedFit[k] - exact[k]);
    }
    EXPECT_GT(change, 1.0);
}

TEST(CornerFit, CachedInverseIsBitIdenticalAndRoundTrips) {
    CornerPoints corners = CornersOfExactMap();
    corners[3].y -= 17.25;  // a fit with residuals
    Matrix A(6, 6), T(6, 6);
    ASSERT_TRUE(georef::geometry::FitCorners(corners, kSheet, A, T));
    const georef::geometry::InverseFit inverse(A, T);

    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> pixel(-2000.0, 12000.0);
    for (int k = 0; k < 3000; ++k) {
        Matrix q(2, 1);
        q(0, 0) = k == 0 ? 0.0 : pixel(random);
        q(1, 0) = k == 0 ? -0.0 : pixel(random);
        const Matrix nominal = A * q + T;
        const Matrix literal = georef::geometry::ImageFromNominal(A, T, nominal);
        EXPECT_NEAR(literal(0, 0), q(0, 0), 1e-7);
        EXPECT_NEAR(literal(1, 0), q(1, 0), 1e-7);

        double x = 0, y = 0;
        inverse.ImageFromNominal(nominal(0, 0), nominal(1, 0), x, y);
        ASSERT_EQ(Bits(x), Bits(literal(0, 0))) << k;
        ASSERT_EQ(Bits(y), Bits(literal(1, 0))) << k;
    }

    // Each row's sum starts at +0.0, so two negative zero products give +0.0.
    Matrix negative(2, 2), shift(2, 1);
    negative(0, 0) = -1;
    negative(0, 1) = -1;
    negative(1, 0) = 0;
    negative(1, 1) = 1;
    shift(0, 0) = shift(1, 0) = 5;
    Matrix at(2, 1);
    at(0, 0) = at(1, 0) = 5;
    double x = 1, y = 1;
    georef::geometry::InverseFit(negative, shift).ImageFromNominal(5, 5, x, y);
    EXPECT_EQ(Bits(x), Bits(georef::geometry::ImageFromNominal(negative, shift, at)(0, 0)));
    EXPECT_EQ(Bits(x), 0u);
}

TEST(CornerFileReader, ReadsFourRecordsInAnyLayoutFromAFile) {
    georef::test::TempDir dir;
    const std::string path = dir.File("rohy.txt");
    georef::test::WriteFileBytes(path, "1 120.5 80\n2 1.2e2 7.5E3\r\n3\t9000 7500\n"
                                       "4 9001.25 79.75 trailing text 5 6 7\n");
    std::ifstream in(path);
    const auto corners = georef::geometry::ReadCornerPoints(in);
    ASSERT_TRUE(corners.has_value());
    EXPECT_EQ((*corners)[0].id, 1);
    EXPECT_EQ((*corners)[0].x, 120.5);
    EXPECT_EQ((*corners)[1].x, 120.0);
    EXPECT_EQ((*corners)[1].y, 7500.0);
    EXPECT_EQ((*corners)[2].id, 3);
    EXPECT_EQ((*corners)[3].x, 9001.25);
    EXPECT_EQ((*corners)[3].y, 79.75);
}

TEST(CornerFileReader, RejectsShortOrMalformedInput) {
    for (const char* text : {"", "1 2 3\n2 4 5\n3 6 7\n4 8", "1 2 3 2 4 5 3 6 7 4 8 x",
                             "1 2 3\nLH 4 5\n3 6 7\n4 8 9", "1 2 3 2 4 5 3 6 7 4 8 1e999"}) {
        std::istringstream in(text);
        EXPECT_FALSE(georef::geometry::ReadCornerPoints(in).has_value()) << text;
    }
}

// The finder's files state what it measures (three decimals), the drawn
// scans' exact corners keep ten digits; both read back as written.
TEST(CornerFileWriter, WritesEachPrecisionAndReadsBackWhatItWrote) {
    const georef::geometry::CornerPoints corners = {{{1, 120.5, 80.0},
                                                     {2, 1.0 / 3.0, 7500.123456789},
                                                     {3, 9000.0004, 7499.9994},
                                                     {4, -0.25, 1e-7}}};
    using georef::geometry::CornerPrecision;
    EXPECT_EQ(georef::geometry::CornerFileText(corners, CornerPrecision::measured),
              "1 120.500 80.000\n2 0.333 7500.123\n3 9000.000 7499.999\n4 -0.250 0.000\n");
    EXPECT_EQ(georef::geometry::CornerFileText(corners, CornerPrecision::exact),
              "1 120.5 80\n2 0.3333333333 7500.123457\n3 9000.0004 7499.9994\n4 -0.25 1e-07\n");

    georef::test::TempDir dir;
    const std::string path = dir.File("rohy.txt");
    georef::test::WriteFileBytes(path, "an older file\n");
    georef::geometry::WriteCornerFile(path, corners, CornerPrecision::exact);
    std::ifstream in(path);
    const auto back = georef::geometry::ReadCornerPoints(in);
    ASSERT_TRUE(back.has_value());
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ((*back)[k].id, corners[k].id);
        EXPECT_NEAR((*back)[k].x, corners[k].x, 1e-9 * (1.0 + std::abs(corners[k].x)));
        EXPECT_NEAR((*back)[k].y, corners[k].y, 1e-9 * (1.0 + std::abs(corners[k].y)));
    }
    EXPECT_THROW(georef::geometry::WriteCornerFile(dir.File("missing/rohy.txt"), corners, CornerPrecision::measured),
                 georef::Failure);
    EXPECT_EQ(georef::test::ReadFileBytes(path), georef::geometry::CornerFileText(corners, CornerPrecision::exact));
}

}  // namespace
