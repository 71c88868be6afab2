#include "corners/find_corners.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "corners/coarse_search.hpp"
#include "corners/frame_check.hpp"
#include "corners/scan_image.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"

namespace georef::corners {

namespace {

// The reduced copy searched has at most this many pixels on its longer edge
// (a sheet with its margins at 75 dpi or more, where a neat line of 0.1 mm
// still shows); the factor is a power of two, which a JPEG decodes at
// directly.
constexpr int kReducedEdge = 3200;

// The corner file's points (ids 1 to 4) of a frame's corners.
geometry::CornerPoints CornersFromPlane(const FrameCorners& corners, int height) noexcept {
    geometry::CornerPoints points;
    for (std::size_t k = 0; k < points.size(); ++k) {
        points[k] = CornerFromPlane(corners[k], height, static_cast<int>(k) + 1);
    }
    return points;
}

int ReductionFactor(int width, int height) noexcept {
    int factor = 1;
    while (std::max(width, height) / factor > kReducedEdge) {
        factor *= 2;
    }
    return factor;
}

SheetShape MakeShape(int sheetNumber) {
    const geometry::Matrix n = geometry::MakeNominalCorners(sheetNumber);
    const auto length = [&n](int p, int q) {
        return std::hypot(n(2 * q, 0) - n(2 * p, 0), n(2 * q + 1, 0) - n(2 * p + 1, 0));
    };
    SheetShape shape;
    // Sides: left LD-LH, top LH-PH, right PH-PD, bottom PD-LD.
    shape.sideMetres = {length(0, 1), length(1, 2), length(2, 3), length(3, 0)};
    return shape;
}

}  // namespace

geometry::CornerPoint CornerFromPlane(const PlanePoint& p, int height, int id) noexcept {
    return {id, p.column - 0.5, height - p.row - 1.5};
}

PlanePoint PlaneFromCorner(const geometry::CornerPoint& c, int height) noexcept {
    return {c.x + 0.5, height - c.y - 1.5};
}

FindResult FindCorners(int sheetNumber, const std::string& scanPath, const FindOptions& options) {
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        throw std::invalid_argument(std::to_string(sheetNumber) + " is not a valid sheet number");
    }
    const ScanImage scan(scanPath);
    return FindCorners(sheetNumber, scan, options);
}

FindResult FindCorners(int sheetNumber, const ScanImage& scan, const FindOptions& options) {
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        throw std::invalid_argument(std::to_string(sheetNumber) + " is not a valid sheet number");
    }
    FindResult result;
    result.width = scan.Width();
    result.height = scan.Height();
    std::optional<double> dpi;
    if (options.dpi) {
        dpi = options.dpi;
        result.dpiSource = DpiSource::given;
    } else if (scan.StatedDpi() && *scan.StatedDpi() >= kLowestDpi && *scan.StatedDpi() <= kHighestDpi) {
        dpi = scan.StatedDpi();
        result.dpiSource = DpiSource::stated;
    }
    SheetShape shape = MakeShape(sheetNumber);
    shape.dpi = dpi;

    // 1. The search on the reduced copy.
    result.reduction = ReductionFactor(scan.Width(), scan.Height());
    const CoarseResult coarse = SearchReduced(scan.ReadReduced(result.reduction), result.reduction, shape);
    if (!coarse.Found()) {
        result.refusal = coarse.Refusal();
        return result;
    }
    const FrameCorners searchedCorners = IntersectSides(coarse->inner);
    result.searched = CornersFromPlane(searchedCorners, scan.Height());
    if (dpi) {
        result.dpi = *dpi;
    } else {
        // From the width of the frame found against the sheet's: its top side, LH to PH.
        const PlanePoint& lh = searchedCorners[1];
        const PlanePoint& ph = searchedCorners[2];
        const double pixels = std::hypot(ph.column - lh.column, ph.row - lh.row);
        result.dpi = pixels / PixelsPerMetre(1.0) / shape.sideMetres[1];
    }

    // 2. The refinement at full resolution.
    const RefineResult refined = RefineFullResolution(scan, *coarse, result.dpi, options.edge);
    if (!refined.Found()) {
        result.refusal = refined.Refusal();
        return result;
    }
    result.lineWidth = refined->lineWidth;
    result.extrapolated = refined->carried;
    const geometry::CornerPoints measured = CornersFromPlane(refined->corners, scan.Height());
    result.measured = measured;

    // 3. The check against the sheet.
    const CheckResult check = CheckCorners(measured, sheetNumber, dpi);
    if (!check.Found()) {
        result.refusal = check.Refusal();
        return result;
    }
    if (!dpi) {
        result.dpi = check->dpi;
    }
    result.corners = measured;
    result.fit = *check;
    return result;
}

}  // namespace georef::corners
