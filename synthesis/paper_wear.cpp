#include "synthesis/paper_wear.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "geometry/map_scale.hpp"

namespace georef::synthesis {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPixelsPerMillimetreAt300 = 300.0 / geometry::kMillimetresPerInch;

std::uint8_t Clamp(double value) noexcept {
    return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0) + 0.5);
}

// Paints the piece between the paper's corner and a ragged tear from a to b.
void FillTear(cv::Mat& canvas, const cv::Point2d& paperCorner, const cv::Point2d& a, const cv::Point2d& b,
              const cv::Scalar& under, SeededRandom& random) {
    const cv::Point2d chord = b - a;
    const double length = std::hypot(chord.x, chord.y);
    const cv::Point2d normal(-chord.y / length, chord.x / length);
    std::vector<cv::Point> outline{cv::Point(static_cast<int>(paperCorner.x * 16.0), static_cast<int>(paperCorner.y * 16.0))};
    const double bulge = random.Uniform(-0.04, 0.04) * length;
    for (int s = 0; s <= 60; ++s) {
        const double t = s / 60.0;
        const double off = bulge * std::sin(kPi * t) + random.Normal() * 0.006 * length;
        const cv::Point2d p = a + chord * t + normal * off;
        outline.emplace_back(static_cast<int>(std::lround(p.x * 16.0)), static_cast<int>(std::lround(p.y * 16.0)));
    }
    cv::fillPoly(canvas, std::vector<std::vector<cv::Point>>{outline}, under, cv::LINE_AA, 4);
}

}  // namespace

void DrawStains(cv::Mat& canvas, int count, double pixelsPer300, SeededRandom& random) {
    const cv::Rect whole(0, 0, canvas.cols, canvas.rows);
    const cv::Vec3d stain(165.0, 128.0, 80.0);
    for (int n = 0; n < count; ++n) {
        const double radius = random.Uniform(8.0, 45.0) * kPixelsPerMillimetreAt300 * pixelsPer300;
        const double cu = random.Uniform(0.0, canvas.cols);
        const double cv_ = random.Uniform(0.0, canvas.rows);
        const double strength = random.Uniform(0.08, 0.3);
        const int reach = static_cast<int>(1.6 * radius) + 2;
        const cv::Rect box =
            cv::Rect(static_cast<int>(cu) - reach, static_cast<int>(cv_) - reach, 2 * reach, 2 * reach) & whole;
        if (box.empty()) {
            continue;
        }
        cv::Mat mask = cv::Mat::zeros(box.size(), CV_32F);
        std::vector<cv::Point> outline;
        const double wobble[2] = {random.Uniform(0.0, 0.2), random.Uniform(0.0, 0.1)};
        const double phase[2] = {random.Uniform(0.0, 2.0 * kPi), random.Uniform(0.0, 2.0 * kPi)};
        for (int k = 0; k < 48; ++k) {
            const double a = 2.0 * kPi * k / 48.0;
            const double r = radius * (1.0 + wobble[0] * std::sin(2 * a + phase[0]) + wobble[1] * std::sin(5 * a + phase[1]));
            outline.emplace_back(static_cast<int>(cu + r * std::cos(a)) - box.x,
                                 static_cast<int>(cv_ + r * std::sin(a)) - box.y);
        }
        cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(1.0));
        // A darker rim where the liquid dried, then soft edges.
        cv::Mat inner;
        cv::erode(mask, inner, cv::Mat(), cv::Point(-1, -1), std::max(1, static_cast<int>(radius * 0.05)));
        mask = 0.6 * mask + 0.4 * (mask - inner) * 2.0;
        cv::GaussianBlur(mask, mask, cv::Size(0, 0), std::max(0.5, radius * 0.04));
        for (int v = 0; v < box.height; ++v) {
            const float* m = mask.ptr<float>(v);
            cv::Vec3b* row = canvas.ptr<cv::Vec3b>(box.y + v) + box.x;
            for (int u = 0; u < box.width; ++u) {
                const double weight = strength * m[u];
                if (weight <= 0.0) {
                    continue;
                }
                for (int c = 0; c < 3; ++c) {
                    row[u][c] = Clamp(row[u][c] + weight * (stain[c] - row[u][c]));
                }
            }
        }
    }
}

void DrawFolds(cv::Mat& canvas, int count, double pixelsPer300, SeededRandom& random) {
    const double crease = 3.0 * pixelsPer300;  // pixels
    const int reach = static_cast<int>(std::ceil(8.0 * crease)) + 1;
    for (int f = 0; f < count; ++f) {
        const bool vertical = f % 2 == 0;
        const double place = f < 2 ? 0.5 : (f == 2 ? 1.0 / 3.0 : 2.0 / 3.0);
        const int length = vertical ? canvas.rows : canvas.cols;
        const int across = vertical ? canvas.cols : canvas.rows;
        const double at = across * (place + random.Uniform(-0.04, 0.04));
        const double slope = random.Uniform(-0.004, 0.004);
        const double depth = random.Uniform(0.06, 0.16);
        const double light = random.Uniform(0.02, 0.06);
        const double side = random.Chance(0.5) ? 1.0 : -1.0;
        for (int s = 0; s < length; ++s) {
            const double centre = at + slope * (s - length / 2.0);
            const int from = std::max(0, static_cast<int>(centre) - reach);
            const int to = std::min(across - 1, static_cast<int>(centre) + reach);
            for (int a = from; a <= to; ++a) {
                const double d = (a - centre) / crease;
                const double shade = -depth * std::exp(-d * d) +
                                     light * std::exp(-(d - side * 2.5) * (d - side * 2.5) / 2.25);
                cv::Vec3b& pixel = vertical ? canvas.at<cv::Vec3b>(s, a) : canvas.at<cv::Vec3b>(a, s);
                for (int c = 0; c < 3; ++c) {
                    pixel[c] = Clamp(pixel[c] * (1.0 + shade));
                }
            }
        }
    }
}

void TearCorner(cv::Mat& canvas, SheetCorner corner, double borderPixels, const cv::Scalar& under,
                SeededRandom& random) {
    if (corner == SheetCorner::none) {
        return;
    }
    const int k = static_cast<int>(corner) - static_cast<int>(SheetCorner::ld);
    const bool west = k == 0 || k == 1;
    const bool top = k == 1 || k == 2;
    const cv::Point2d paperCorner(west ? -0.5 : canvas.cols - 0.5, top ? -0.5 : canvas.rows - 0.5);
    const cv::Point2d alongU(west ? 1.0 : -1.0, 0.0);
    const cv::Point2d alongV(0.0, top ? 1.0 : -1.0);
    // With both distances at most 1.5 borders, the straight tear passes the
    // neat line's corner (one border along each edge) at 0.35 borders; the
    // raggedness stays well inside that.
    const cv::Point2d a = paperCorner + alongU * (random.Uniform(0.6, 1.5) * borderPixels);
    const cv::Point2d b = paperCorner + alongV * (random.Uniform(0.6, 1.5) * borderPixels);
    FillTear(canvas, paperCorner, a, b, under, random);
}

void TearCornerAcrossLine(cv::Mat& canvas, SheetCorner corner, const Quad& neat, double reach,
                          const cv::Scalar& under, SeededRandom& random) {
    if (corner == SheetCorner::none) {
        return;
    }
    const int k = static_cast<int>(corner) - static_cast<int>(SheetCorner::ld);
    const bool west = k == 0 || k == 1;
    const bool top = k == 1 || k == 2;
    const cv::Point2d paperCorner(west ? -0.5 : canvas.cols - 0.5, top ? -0.5 : canvas.rows - 0.5);
    const cv::Point2d at(neat[k].u, neat[k].v);
    // The neighbours along the west or east side and along the north or
    // south side.
    const PixelPoint& down = neat[k ^ 1];
    const PixelPoint& sideways = neat[3 - k];
    const cv::Point2d p = at + (cv::Point2d(down.u, down.v) - at) * (reach * random.Uniform(0.85, 1.15));
    const cv::Point2d q = at + (cv::Point2d(sideways.u, sideways.v) - at) * (reach * random.Uniform(0.85, 1.15));
    // The chord through both cuts, carried on to the paper's edges.
    const cv::Point2d d = q - p;
    const double toU = std::fabs(d.x) > 1e-9 ? (paperCorner.x - p.x) / d.x : 0.0;
    const double toV = std::fabs(d.y) > 1e-9 ? (paperCorner.y - p.y) / d.y : 1.0;
    FillTear(canvas, paperCorner, p + d * std::min(toU, toV) - d * 0.05, p + d * std::max(toU, toV) + d * 0.05, under,
             random);
}

void LightAndGrain(cv::Mat& image, double lighting, double grain, SeededRandom& random) {
    // Brightness factors on a coarse grid, interpolated per pixel.
    constexpr int kCell = 32;  // pixels
    const int gridW = image.cols / kCell + 2;
    const int gridH = image.rows / kCell + 2;
    std::vector<double> factor(static_cast<std::size_t>(gridW) * gridH);
    const double direction = random.Uniform(0.0, 2.0 * kPi);
    const double mottle = 0.01;
    for (int j = 0; j < gridH; ++j) {
        for (int i = 0; i < gridW; ++i) {
            const double x = 2.0 * i * kCell / image.cols - 1.0;
            const double y = 2.0 * j * kCell / image.rows - 1.0;
            const double slope = std::clamp((x * std::cos(direction) + y * std::sin(direction) + 1.0) / 2.0, 0.0, 1.0);
            const double corners = std::min(1.0, (x * x + y * y) / 2.0);
            const double dark = lighting * (0.6 * slope + 0.4 * corners);
            factor[static_cast<std::size_t>(j) * gridW + i] = (1.0 - dark) * (1.0 + mottle * random.Normal());
        }
    }
    const std::uint64_t seed = random.Next();
    const double grainScale = grain * std::sqrt(6.0);
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        std::vector<double> rowFactor(static_cast<std::size_t>(gridW));
        for (int v = rows.start; v < rows.end; ++v) {
            const int j = v / kCell;
            const double fy = static_cast<double>(v % kCell) / kCell;
            for (int i = 0; i < gridW; ++i) {
                rowFactor[i] = factor[static_cast<std::size_t>(j) * gridW + i] * (1.0 - fy) +
                               factor[static_cast<std::size_t>(j + 1) * gridW + i] * fy;
            }
            // Each row's grain has its own stream, so the result does not
            // depend on how rows are shared out between threads.
            SeededRandom rowRandom(seed ^ (static_cast<std::uint64_t>(v) * 0xD1B54A32D192ED03ULL));
            std::uint64_t bits = 0;
            int left = 0;
            cv::Vec3b* row = image.ptr<cv::Vec3b>(v);
            for (int u = 0; u < image.cols; ++u) {
                const int i = u / kCell;
                const double fx = static_cast<double>(u % kCell) / kCell;
                const double f = rowFactor[i] * (1.0 - fx) + rowFactor[i + 1] * fx;
                if (left == 0) {
                    bits = rowRandom.Next();
                    left = 4;
                }
                // Two 8-bit uniforms: their sum is triangular, variance 1/6.
                const double noise = ((bits & 0xFF) + ((bits >> 8) & 0xFF) + 1.0) / 256.0 - 1.0;
                bits >>= 16;
                --left;
                const double add = grainScale * noise;
                for (int c = 0; c < 3; ++c) {
                    row[u][c] = Clamp(row[u][c] * f + add);
                }
            }
        }
    });
}

}  // namespace georef::synthesis
