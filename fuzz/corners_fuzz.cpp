// A corner file as a user may type it, or another tool write it: any bytes.
// Reads it as georef does, makes the run's corner fit and the per-pixel
// inverse, and runs georef-check over the same file. A file that does not
// hold four records is refused; a degenerate corner set ends in
// math::matrix_error; nothing else may escape or crash.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>

#include "fuzz/fuzz_input.hpp"
#include "geometry/corner_fit.hpp"
#include "geometry/corner_fit_report.hpp"
#include "tools/check_tool.hpp"

namespace {

using namespace georef::geometry;
using georef::fuzz::Fail;

constexpr int kSheet = 40571;

void FitAsTheRunDoes(const CornerPoints& corners) {
    Matrix A(6, 6);
    Matrix T(6, 6);
    try {
        if (!FitCorners(corners, kSheet, A, T)) {
            Fail("FitCorners returned false");
        }
    } catch (const math::matrix_error&) {
        return;
    }
    if (A.Rows() != 2 || A.Cols() != 2 || T.Rows() != 2 || T.Cols() != 1) {
        Fail("the fit did not give a 2x2 A and a 2x1 T");
    }
    try {
        const InverseFit inverse(A, T);
        double x = 0.0;
        double y = 0.0;
        inverse.ImageFromNominal(corners[0].x, corners[0].y, x, y);
        Matrix nominal(2, 1);
        nominal(0, 0) = corners[2].x;
        nominal(1, 0) = corners[2].y;
        (void)ImageFromNominal(A, T, nominal);
    } catch (const math::matrix_error&) {
        // A fit can be singular even when its corners were not exactly so.
    }
    try {
        const CornerFitReport report = AnalyseCornerFit(corners, kSheet);
        (void)report.WorstMetres();
        (void)report.Mirrored();
    } catch (const math::matrix_error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    const std::optional<CornerPoints> corners = ReadCornerPoints(in);
    if (corners) {
        FitAsTheRunDoes(*corners);
    }

    static const std::string path = georef::fuzz::ScratchPath("corners.txt");
    georef::fuzz::WriteFileBytes(path, data, size);
    const char* argv[] = {"georef-check", "40571", path.c_str()};
    std::ostringstream out;
    std::ostringstream err;
    const int status = georef::tools::RunCheckTool(3, argv, out, err);
    if (status != 0 && status != 1) {
        Fail("georef-check returned " + std::to_string(status) + ": " + err.str());
    }
    if ((status == 0) && !corners) {
        Fail("georef-check accepted a corner file that the run refuses");
    }
    return 0;
}
