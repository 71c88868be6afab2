#include "synthesis/realistic_scan.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/failure.hpp"
#include "synthesis/paper_wear.hpp"
#include "synthesis/scan_image_file.hpp"
#include "synthesis/scan_layout.hpp"
#include "synthesis/seeded_random.hpp"
#include "synthesis/sheet_drawing.hpp"

namespace georef::synthesis {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Largest image buffer drawn, bytes (canvas and scan each).
constexpr double kLargestImageBytes = 2147483647.0;

void Require(bool condition, const char* what) {
    if (!condition) {
        throw Failure(what);
    }
}

void CheckOptions(const RealisticScanOptions& o) {
    Require(o.dpi >= 10.0 && o.dpi <= 1200.0, "the scan resolution must lie between 10 and 1200 dpi");
    Require(std::fabs(o.rotationDegrees) <= 10.0, "the rotation must lie between -10 and 10 degrees");
    Require(o.titleSheet == 0 || geometry::IsValidSheetNumber(o.titleSheet), "the title must name a valid sheet");
    Require(o.turnDegrees == 0 || o.turnDegrees == 90 || o.turnDegrees == 180 || o.turnDegrees == 270,
            "the scan turns by 0, 90, 180 or 270 degrees");
    Require(o.neatLineWidth > 0.0 && o.neatLineWidth <= 20.0, "the neat line width must lie in (0, 20] px");
    Require(o.frameWidth > 0.0 && o.frameWidth <= 30.0, "the outer frame width must lie in (0, 30] px");
    Require(o.frameGap >= (o.neatLineWidth + o.frameWidth) / 2.0 + 4.0 && o.frameGap <= 200.0,
            "the outer frame must lie clear of the neat line and at most 200 px from it");
    Require(o.marginMillimetres >= 5.0 && o.marginMillimetres <= 100.0, "the margin must lie between 5 and 100 mm");
    Require(o.bedMillimetres >= 0.0 && o.bedMillimetres <= 100.0, "the scanner bed must lie between 0 and 100 mm");
    Require(o.grain >= 0.0 && o.grain <= 50.0, "the grain must lie between 0 and 50 grey levels");
    Require(o.stains >= 0 && o.stains <= 50, "the number of stains must lie between 0 and 50");
    Require(o.folds >= 0 && o.folds <= 4, "the number of folds must lie between 0 and 4");
    Require(o.lighting >= 0.0 && o.lighting <= 0.8, "the lighting loss must lie between 0 and 0.8");
    Require(o.blurPixels >= 0.0 && o.blurPixels <= 10.0, "the blur must lie between 0 and 10 px");
    Require(o.jpegQuality >= 10 && o.jpegQuality <= 100, "the JPEG quality must lie between 10 and 100");
    Require(o.bowPixels >= 0.0 && o.bowPixels <= 20.0, "the bowing must lie between 0 and 20 px");
    Require(std::fabs(o.shiftEastMetres) <= 5000.0 && std::fabs(o.shiftNorthMetres) <= 5000.0,
            "the drawing's shift must lie within 5000 m");
    Require(o.tearReach >= 0.0 && o.tearReach <= 0.3, "the tear's reach must lie between 0 and 0.3 of a side");
    Require(o.wornShare >= 0.0 && o.wornShare <= 0.4, "the worn share of the neat line must lie between 0 and 0.4");
    Require(o.hatchedCorners >= 0 && o.hatchedCorners <= 4, "the hatched corners must number 0 to 4");
    Require(o.scale >= 0.5 && o.scale <= 2.0, "the scale must lie between 0.5 and 2");
}

// The scan after cropping: the part of the image kept, in image pixels.
cv::Rect CropWindow(const ScanLayout& layout, std::optional<geometry::Side> crop) {
    cv::Rect window(0, 0, layout.ImageWidth(), layout.ImageHeight());
    if (!crop) {
        return window;
    }
    Quad q;
    for (int k = 0; k < 4; ++k) {
        q[k] = layout.ImageFromCanvas(layout.NeatLine()[k]);
    }
    // Cut 3 % of the sheet beyond the side, far more than any bowing.
    const double spanU = std::max(q[2].u, q[3].u) - std::min(q[0].u, q[1].u);
    const double spanV = std::max(q[0].v, q[3].v) - std::min(q[1].v, q[2].v);
    switch (*crop) {
        case geometry::Side::left: {
            const int cut = static_cast<int>(std::ceil(std::max(q[0].u, q[1].u) + 0.03 * spanU));
            window.x = cut;
            window.width -= cut;
            break;
        }
        case geometry::Side::right:
            window.width = static_cast<int>(std::floor(std::min(q[2].u, q[3].u) - 0.03 * spanU));
            break;
        case geometry::Side::top: {
            const int cut = static_cast<int>(std::ceil(std::max(q[1].v, q[2].v) + 0.03 * spanV));
            window.y = cut;
            window.height -= cut;
            break;
        }
        case geometry::Side::bottom:
            window.height = static_cast<int>(std::floor(std::min(q[0].v, q[3].v) - 0.03 * spanV));
            break;
    }
    return window;
}

// Every pixel set to one colour: the first row pixel by pixel, the others
// copied from it (OpenCV's fill with a three-channel value goes element by
// element, several times slower on a full-size sheet).
void FillWith(cv::Mat& image, const cv::Scalar& colour) {
    cv::Vec3b* first = image.ptr<cv::Vec3b>(0);
    const cv::Vec3b pixel(cv::saturate_cast<std::uint8_t>(colour[0]), cv::saturate_cast<std::uint8_t>(colour[1]),
                          cv::saturate_cast<std::uint8_t>(colour[2]));
    std::fill(first, first + image.cols, pixel);
    for (int row = 1; row < image.rows; ++row) {
        std::memcpy(image.ptr(row), first, static_cast<std::size_t>(image.cols) * 3);
    }
}

// The paper turned and bowed into the scanner's image; outside the paper
// lies `under`.
void PlaceOnScanner(const cv::Mat& canvas, const ScanLayout& layout, const cv::Scalar& under, cv::Mat& image) {
    // Where each image pixel comes from on the canvas. The bowing varies
    // over thousands of pixels: sampled every 32 pixels and interpolated, it
    // is exact to far below a thousandth of a pixel, and zero where the
    // sides are straight.
    constexpr int kCell = 32;
    const int gridW = layout.ImageWidth() / kCell + 2;
    const int gridH = layout.ImageHeight() / kCell + 2;
    std::vector<PixelPoint> grid(static_cast<std::size_t>(gridW) * gridH);
    for (int j = 0; j < gridH; ++j) {
        for (int i = 0; i < gridW; ++i) {
            grid[static_cast<std::size_t>(j) * gridW + i] =
                layout.CanvasFromImage({static_cast<double>(i * kCell), static_cast<double>(j * kCell)});
        }
    }
    // CanvasFromImage is affine plus the bow; interpolating it bilinearly
    // over the grid keeps the affine part exact.
    constexpr int kStrip = 64;
    cv::Mat mapU(kStrip, layout.ImageWidth(), CV_32F);
    cv::Mat mapV(kStrip, layout.ImageWidth(), CV_32F);
    for (int top = 0; top < layout.ImageHeight(); top += kStrip) {
        const int rows = std::min(kStrip, layout.ImageHeight() - top);
        for (int r = 0; r < rows; ++r) {
            const int v = top + r;
            const int j = v / kCell;
            const double fy = static_cast<double>(v % kCell) / kCell;
            float* mu = mapU.ptr<float>(r);
            float* mv = mapV.ptr<float>(r);
            for (int u = 0; u < layout.ImageWidth(); ++u) {
                const int i = u / kCell;
                const double fx = static_cast<double>(u % kCell) / kCell;
                const PixelPoint& p00 = grid[static_cast<std::size_t>(j) * gridW + i];
                const PixelPoint& p10 = grid[static_cast<std::size_t>(j) * gridW + i + 1];
                const PixelPoint& p01 = grid[static_cast<std::size_t>(j + 1) * gridW + i];
                const PixelPoint& p11 = grid[static_cast<std::size_t>(j + 1) * gridW + i + 1];
                const double cu = (p00.u * (1.0 - fx) + p10.u * fx) * (1.0 - fy) + (p01.u * (1.0 - fx) + p11.u * fx) * fy;
                const double cv_ = (p00.v * (1.0 - fx) + p10.v * fx) * (1.0 - fy) + (p01.v * (1.0 - fx) + p11.v * fx) * fy;
                mu[u] = static_cast<float>(cu);
                mv[u] = static_cast<float>(cv_);
            }
        }
        cv::Mat strip = image.rowRange(top, top + rows);
        cv::remap(canvas, strip, mapU.rowRange(0, rows), mapV.rowRange(0, rows), cv::INTER_LINEAR,
                  cv::BORDER_CONSTANT, under);
    }
}

}  // namespace

RealisticScanOptions VariedRealisticOptions(std::uint64_t seed) {
    SeededRandom random(seed ^ 0x5CA115CA115CA11ULL);
    RealisticScanOptions o;
    o.seed = seed;
    o.rotationDegrees = random.Uniform(-3.0, 3.0);
    o.neatLineWidth = random.Uniform(1.2, 3.0);
    o.frameGap = random.Uniform(20.0, 45.0);
    o.frameWidth = random.Uniform(4.0, 8.0);
    o.border = random.Chance(0.5) ? BorderStyle::filledMinutes : BorderStyle::minuteTicks;
    o.marginMillimetres = random.Uniform(15.0, 30.0);
    const int decoy = random.Integer(0, 4);  // 0: no decoy road; k: the k-th side, left first
    o.decoy = decoy == 0 ? std::nullopt : std::optional<geometry::Side>(static_cast<geometry::Side>(decoy - 1));
    o.bedMillimetres = random.Chance(0.6) ? random.Uniform(3.0, 15.0) : 0.0;
    o.grain = random.Uniform(2.0, 9.0);
    o.stains = random.Integer(0, 6);
    o.folds = random.Integer(0, 2);
    o.lighting = random.Uniform(0.0, 0.25);
    o.blurPixels = random.Uniform(0.3, 1.5);
    o.jpegQuality = random.Integer(60, 95);
    o.bowPixels = random.Uniform(0.0, 2.0);
    o.tornCorner = random.Chance(0.25) ? static_cast<SheetCorner>(random.Integer(1, 4)) : SheetCorner::none;
    return o;
}

RealisticScan WriteRealisticScan(int sheetNumber, const std::string& path, const RealisticScanOptions& options) {
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        throw Failure(std::to_string(sheetNumber) + " is not a valid sheet number");
    }
    CheckOptions(options);
    SeededRandom random(options.seed);
    SeededRandom paperRandom = random.Fork();
    SeededRandom sheetRandom = random.Fork();
    SeededRandom wearRandom = random.Fork();
    SeededRandom scannerRandom = random.Fork();

    // Paper lengths scale with the drawn size; scanner lengths do not.
    const double pixelsPer300 = options.dpi * options.scale / 300.0;
    const double pixelsPerMillimetre = options.dpi * options.scale / geometry::kMillimetresPerInch;
    LayoutParameters parameters;
    parameters.metresPerPixel = geometry::kGroundMetresPerInch / (options.dpi * options.scale);
    parameters.borderPixels = (options.frameGap + options.frameWidth / 2.0) * pixelsPer300 +
                              options.marginMillimetres * pixelsPerMillimetre;
    parameters.bedPixels = options.bedMillimetres * options.dpi / geometry::kMillimetresPerInch;
    parameters.rotationRadians = options.rotationDegrees * kPi / 180.0;
    for (double& bow : parameters.bowPixels) {
        bow = options.bowPixels * paperRandom.Uniform(0.5, 1.0) * (paperRandom.Chance(0.5) ? 1.0 : -1.0);
    }
    const ScanLayout layout(sheetNumber, parameters);
    const double canvasBytes = 3.0 * layout.CanvasWidth() * static_cast<double>(layout.CanvasHeight());
    const double imageBytes = 3.0 * layout.ImageWidth() * static_cast<double>(layout.ImageHeight());
    if (std::max(canvasBytes, imageBytes) > kLargestImageBytes) {
        throw Failure("a scan of " + std::to_string(layout.ImageWidth()) + " x " +
                      std::to_string(layout.ImageHeight()) + " pixels is too large to draw");
    }

    // Paper tinted and yellowed a little differently on every sheet.
    const double yellowing = paperRandom.Uniform(0.0, 1.0);
    const double shade = paperRandom.Uniform(-6.0, 6.0);
    SheetInks inks;
    inks.paper = cv::Scalar(238.0 + shade, 230.0 + shade - 2.0 * yellowing, 208.0 + shade - 14.0 * yellowing);
    inks.black = cv::Scalar(38.0, 35.0, 34.0);
    inks.brown = cv::Scalar(150.0, 104.0, 70.0);
    inks.blue = cv::Scalar(72.0, 112.0, 172.0);
    const cv::Scalar under = options.bedMillimetres > 0.0 ? cv::Scalar(34.0, 35.0, 38.0) : cv::Scalar(250.0, 250.0, 248.0);

    cv::Mat canvas(layout.CanvasHeight(), layout.CanvasWidth(), CV_8UC3);
    FillWith(canvas, inks.paper);
    SheetDrawing drawing(canvas, layout, sheetNumber, options, pixelsPer300, inks);
    if (options.page == PageContent::map) {
        drawing.DrawMapSheet(sheetRandom);
    } else {
        drawing.DrawPageWithoutMap(options.page == PageContent::text, sheetRandom);
    }
    DrawStains(canvas, options.stains, pixelsPer300, wearRandom);
    DrawFolds(canvas, options.folds, pixelsPer300, wearRandom);
    if (options.tearReach > 0.0) {
        TearCornerAcrossLine(canvas, options.tornCorner, layout.NeatLine(), options.tearReach, under, wearRandom);
    } else {
        TearCorner(canvas, options.tornCorner, parameters.borderPixels, under, wearRandom);
    }

    cv::Mat image(layout.ImageHeight(), layout.ImageWidth(), CV_8UC3);
    PlaceOnScanner(canvas, layout, under, image);
    canvas.release();
    LightAndGrain(image, options.lighting, options.grain, scannerRandom);
    if (options.blurPixels > 0.0) {
        cv::GaussianBlur(image, image, cv::Size(0, 0), options.blurPixels);
    }

    const cv::Rect window = CropWindow(layout, options.crop);
    Require(window.width > 0 && window.height > 0, "the crop leaves nothing of the scan");
    // Turned as a whole: kept pixel (u, v) of a w x h image moves to
    // (v, w - 1 - u) by a quarter turn counter-clockwise, and so on.
    cv::Mat kept = image(window);
    const int keptWidth = kept.cols;
    const int keptHeight = kept.rows;
    if (options.turnDegrees != 0) {
        cv::Mat turned;
        cv::rotate(kept, turned,
                   options.turnDegrees == 90    ? cv::ROTATE_90_COUNTERCLOCKWISE
                   : options.turnDegrees == 180 ? cv::ROTATE_180
                                                : cv::ROTATE_90_CLOCKWISE);
        image.release();
        kept = turned;
    }
    const auto turn = [&](double u, double v) -> PixelPoint {
        switch (options.turnDegrees) {
            case 90:
                return {v, keptWidth - 1.0 - u};
            case 180:
                return {keptWidth - 1.0 - u, keptHeight - 1.0 - v};
            case 270:
                return {keptHeight - 1.0 - v, u};
            default:
                return {u, v};
        }
    };
    RealisticScan scan;
    scan.hasMap = options.page == PageContent::map;
    scan.width = kept.cols;
    scan.height = kept.rows;
    scan.neatLineWidth = drawing.NeatLineWidth();
    const auto toCornerFile = [&](const Quad& canvasCorners, geometry::CornerPoints& corners) {
        for (int k = 0; k < 4; ++k) {
            const PixelPoint p = layout.ImageFromCanvas(canvasCorners[k]);
            const PixelPoint q = turn(p.u - window.x, p.v - window.y);
            corners[k] = geometry::CornerPoint{k + 1, q.u - 0.5, scan.height - 1.5 - q.v};
        }
    };
    toCornerFile(layout.NeatLine(), scan.corners);
    toCornerFile(layout.Offset(scan.neatLineWidth / 2.0), scan.outerEdgeCorners);
    toCornerFile(layout.Offset(-scan.neatLineWidth / 2.0), scan.innerEdgeCorners);

    const RgbImageView view = InterleavedRgb(kept.data, kept.cols, kept.rows, static_cast<std::ptrdiff_t>(kept.step));
    ScanEncoding encoding;
    encoding.jpegQuality = options.jpegQuality;
    encoding.densityDpi = options.density ? options.dpi : 0.0;
    WriteScanImage(path, view, encoding);
    return scan;
}

}  // namespace georef::synthesis
