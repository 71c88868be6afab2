#include "corners/find_corners.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "corners/coarse_search.hpp"
#include "corners/frame_check.hpp"
#include "corners/orientation.hpp"
#include "corners/scan_image.hpp"
#include "corners/sheet_reading.hpp"
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

// How far the search's corners may lie from the measured ones, pixels of
// the reduced copy.
constexpr double kSearchSlack = 3.0;

FrameCorners PlaneCorners(const geometry::CornerPoints& corners, int height) noexcept {
    FrameCorners plane;
    for (std::size_t k = 0; k < plane.size(); ++k) {
        plane[k] = PlaneFromCorner(corners[k], height);
    }
    return plane;
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
    SheetShape shape = MakeShape(sheetNumber);  // as the image shows it
    shape.dpi = dpi;

    // 1. The search on the reduced copy: for a frame as wide as the sheet
    // and for one turned on its side, the image's own shape first.
    result.reduction = ReductionFactor(scan.Width(), scan.Height());
    bool onItsSide = scan.Height() > scan.Width();
    CoarseResult coarse = CoarseResult::Refused({});
    {
        const cv::Mat reduced = scan.ReadReduced(result.reduction);
        const SheetShape turned = ShapeOnItsSide(shape);
        coarse = SearchReduced(reduced, result.reduction, {onItsSide ? turned : shape, onItsSide ? shape : turned});
        if (coarse.Found() && coarse->shape == 1) {
            onItsSide = !onItsSide;
        }
    }
    if (!coarse.Found()) {
        result.refusal = coarse.Refusal();
        return result;
    }
    if (onItsSide) {
        shape = ShapeOnItsSide(shape);
    }
    const std::array<int, 2> turns = PossibleTurns(onItsSide);
    const FrameCorners searchedCorners = IntersectSides(coarse->inner);
    const geometry::CornerPoints searched = CornersFromPlane(searchedCorners, scan.Height());
    result.turnDegrees = turns[0];
    result.searched = SheetCornersFromImage(searched, result.turnDegrees);
    if (dpi) {
        result.dpi = *dpi;
    } else {
        // From the width of the frame found against the sheet's: the image's top side, LH to PH.
        const PlanePoint& lh = searchedCorners[1];
        const PlanePoint& ph = searchedCorners[2];
        const double pixels = std::hypot(ph.column - lh.column, ph.row - lh.row);
        result.dpi = pixels / PixelsPerMetre(1.0) / shape.sideMetres[1];
    }

    // 2. The refinement at full resolution, reading along the margins where
    // the title and the corner labels are for each way the sheet may lie.
    std::vector<cv::Rect> readingWindows;
    if (options.checkIdentity) {
        for (const int turn : turns) {
            const std::vector<cv::Rect> w =
                ReadingWindows(sheetNumber, PlaneCorners(SheetCornersFromImage(searched, turn), scan.Height()),
                               kSearchSlack * result.reduction, cv::Size(scan.Width(), scan.Height()));
            readingWindows.insert(readingWindows.end(), w.begin(), w.end());
        }
    }
    const RefineResult refined = RefineFullResolution(scan, *coarse, result.dpi, options.edge, readingWindows, options.threads);
    if (!refined.Found()) {
        result.refusal = refined.Refusal();
        return result;
    }
    result.lineWidth = refined->lineWidth;
    result.extrapolated = refined->carried;
    result.fromFrame = refined->fromFrame;
    result.fromFainter = refined->fromFainter;
    const geometry::CornerPoints measured = CornersFromPlane(refined->corners, scan.Height());

    // 3. The check against the sheet, labelled for each way it may lie.
    const TurnDecision turn = DecideTurn(measured, onItsSide, sheetNumber, dpi);
    result.turnDegrees = turn.turnDegrees;
    result.searched = SheetCornersFromImage(searched, turn.turnDegrees);
    result.measured = turn.sheetCorners;
    {
        // Per corner of the image, as measured; per corner of the sheet from here on.
        const std::array<double, 4> image = result.extrapolated;
        const int quarters = turn.turnDegrees / 90;
        for (int k = 0; k < 4; ++k) {
            result.extrapolated[static_cast<std::size_t>(k)] = image[static_cast<std::size_t>((k - quarters + 4) % 4)];
        }
        // Sides turn as their corners do: side k runs from corner k to k + 1.
        const std::array<std::optional<double>, 4> sides = result.fromFrame;
        for (int k = 0; k < 4; ++k) {
            result.fromFrame[static_cast<std::size_t>(k)] = sides[static_cast<std::size_t>((k - quarters + 4) % 4)];
        }
        const std::array<std::optional<std::array<double, 2>>, 4> fainter = result.fromFainter;
        for (int k = 0; k < 4; ++k) {
            result.fromFainter[static_cast<std::size_t>(k)] = fainter[static_cast<std::size_t>((k - quarters + 4) % 4)];
        }
    }
    CheckResult check = turn.check;
    if (!check.Found()) {
        result.refusal = check.Refusal();
        return result;
    }
    // Sides carried on over a larger tear: from their other ends instead,
    // where that puts the corners closer to the fit of the four.
    for (const FrameCorners& otherEnds : refined->otherEnds) {
        const geometry::CornerPoints corners =
            SheetCornersFromImage(CornersFromPlane(otherEnds, scan.Height()), turn.turnDegrees);
        CheckResult again = CheckCorners(corners, sheetNumber, dpi);
        if (again.Found() && again->WorstMetres() < check->WorstMetres()) {
            check = std::move(again);
            result.measured = corners;
        }
    }
    if (!dpi) {
        result.dpi = check->dpi;
    }

    // 4. Is this the named sheet?
    if (options.checkIdentity) {
        const std::size_t crops = readingWindows.size() / turns.size();
        const std::size_t first = turn.turnDegrees == turns[0] ? 0 : crops;
        const auto from = [first](const auto& all) { return all.begin() + static_cast<std::ptrdiff_t>(first); };
        const std::vector<cv::Rect> windows(from(readingWindows), from(readingWindows) + static_cast<std::ptrdiff_t>(crops));
        const std::vector<cv::Mat> pixels(from(refined->alsoRead), from(refined->alsoRead) + static_cast<std::ptrdiff_t>(crops));
        result.reading = ReadSheet(sheetNumber, PlaneCorners(*result.measured, scan.Height()), windows, pixels);
        result.identity = JudgeIdentity(result.reading, sheetNumber);
        if (result.identity.contradicted) {
            result.refusal = result.identity.message;
            return result;
        }
    }
    result.corners = result.measured;
    result.fit = *check;
    return result;
}

IdentityCheck CheckSheetIdentity(int sheetNumber, const std::string& scanPath, const geometry::CornerPoints& corners) {
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        throw std::invalid_argument(std::to_string(sheetNumber) + " is not a valid sheet number");
    }
    return CheckSheetIdentity(sheetNumber, ScanImage(scanPath), corners);
}

IdentityCheck CheckSheetIdentity(int sheetNumber, const ScanImage& scan, const geometry::CornerPoints& corners) {
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        throw std::invalid_argument(std::to_string(sheetNumber) + " is not a valid sheet number");
    }
    const FrameCorners plane = PlaneCorners(corners, scan.Height());
    // Corners made by hand are good to a few pixels.
    constexpr double kHandSlack = 4.0;
    const std::vector<cv::Rect> windows =
        ReadingWindows(sheetNumber, plane, kHandSlack, cv::Size(scan.Width(), scan.Height()));
    IdentityCheck check;
    check.reading = ReadSheet(sheetNumber, plane, windows, scan.ReadWindows(windows));
    check.verdict = JudgeIdentity(check.reading, sheetNumber);
    return check;
}

}  // namespace georef::corners
