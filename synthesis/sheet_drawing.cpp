// The sheet drawn in order, and the map content inside the neat line:
// contours, forest, water, roads, the decoy road, villages and names, and
// the dense hatching at the corners. The neat line and everything outside
// it are drawn in sheet_frame_drawing.cpp.

#include "synthesis/sheet_drawing.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "synthesis/landscape.hpp"
#include "synthesis/landscape_drawing.hpp"
#include "synthesis/sheet_drawing_points.hpp"

namespace georef::synthesis {

using namespace detail;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A closed, smoothly wobbling outline around centre, sub-pixel points.
std::vector<cv::Point> Blob(PixelPoint centre, double radius, SeededRandom& random, cv::Point origin = {0, 0}) {
    double amplitude[3], phase[3];
    for (int h = 0; h < 3; ++h) {
        amplitude[h] = random.Uniform(0.0, 0.25 / (h + 1));
        phase[h] = random.Uniform(0.0, 2.0 * kPi);
    }
    std::vector<cv::Point> points;
    const int count = 64;
    for (int k = 0; k < count; ++k) {
        const double a = 2.0 * kPi * k / count;
        double r = radius;
        for (int h = 0; h < 3; ++h) {
            r += radius * amplitude[h] * std::sin((h + 2) * a + phase[h]);
        }
        const cv::Point p = Sub({centre.u + r * std::cos(a), centre.v + r * std::sin(a)});
        points.push_back(p - origin * kSubPixels);
    }
    return points;
}

// Parallel lines (forest hatching) as StampHatchedBlob draws them.
struct Hatching {
    double spacing = 1.0;  // between lines along a row, pixels
    double reach = 1.0;    // lines start this many box heights left of the box and end as far right
    cv::Scalar ink;
    int thickness = 1;     // pixels
};

// Hatching stamped onto canvas through a blob of about radius around centre,
// within the box 3.2 radius wide around it: nothing when the box lies off the
// canvas. The lines' slope (pixels across per pixel down) comes from slope(),
// then the blob's outline from random, in that order, so that each caller
// keeps its own sequence of random numbers.
template <typename DrawSlope>
void StampHatchedBlob(cv::Mat& canvas, PixelPoint centre, double radius, const Hatching& hatching, DrawSlope slope,
                      SeededRandom& random) {
    const cv::Rect whole(0, 0, canvas.cols, canvas.rows);
    const cv::Rect box = cv::Rect(static_cast<int>(centre.u - 1.6 * radius), static_cast<int>(centre.v - 1.6 * radius),
                                  static_cast<int>(3.2 * radius) + 1, static_cast<int>(3.2 * radius) + 1) &
                         whole;
    if (box.empty()) {
        return;
    }
    cv::Mat region = canvas(box);
    cv::Mat hatched = region.clone();
    const double angle = slope();
    for (double c = -hatching.reach * box.height; c < box.width + hatching.reach * box.height;
         c += hatching.spacing) {
        const PixelPoint a{c, 0.0};
        const PixelPoint b{c + angle * box.height, static_cast<double>(box.height)};
        cv::line(hatched, Sub(a), Sub(b), hatching.ink, hatching.thickness, cv::LINE_AA, kShift);
    }
    cv::Mat mask = cv::Mat::zeros(box.size(), CV_8U);
    const std::vector<cv::Point> outline = Blob(centre, radius, random, box.tl());
    const cv::Point* points = outline.data();
    const int count = static_cast<int>(outline.size());
    cv::fillPoly(mask, &points, &count, 1, cv::Scalar(255), cv::LINE_8, kShift);
    hatched.copyTo(region, mask);
}

// A wavy path from a to b, sub-pixel points.
std::vector<cv::Point> Path(PixelPoint a, PixelPoint b, double waviness, SeededRandom& random) {
    const double length = std::hypot(b.u - a.u, b.v - a.v);
    const PixelPoint d = Direction(a, b);
    const PixelPoint n{-d.v, d.u};
    const double wavelength[2] = {random.Uniform(0.15, 0.4) * length, random.Uniform(0.04, 0.1) * length};
    const double phase[2] = {random.Uniform(0.0, 2.0 * kPi), random.Uniform(0.0, 2.0 * kPi)};
    std::vector<cv::Point> points;
    const int count = 200;
    for (int k = 0; k <= count; ++k) {
        const double s = length * k / count;
        const double off = waviness * (std::sin(2.0 * kPi * s / wavelength[0] + phase[0]) +
                                       0.3 * std::sin(2.0 * kPi * s / wavelength[1] + phase[1]));
        points.push_back(Sub({a.u + s * d.u + off * n.u, a.v + s * d.v + off * n.v}));
    }
    return points;
}

}  // namespace

SheetDrawing::SheetDrawing(cv::Mat& canvas, const ScanLayout& layout, int sheetNumber,
                           const RealisticScanOptions& options, double pixelsPer300, const SheetInks& inks)
    : m_canvas(canvas),
      m_layout(layout),
      m_sheet(sheetNumber),
      m_options(options),
      m_k(pixelsPer300),
      m_inks(inks),
      m_neatWidth(options.neatLineWidth * pixelsPer300) {
    const Quad& q = layout.NeatLine();
    m_left = std::min(q[0].u, q[1].u);
    m_right = std::max(q[2].u, q[3].u);
    m_top = std::min(q[1].v, q[2].v);
    m_bottom = std::max(q[0].v, q[3].v);
}

int SheetDrawing::Thickness(double pixelsAt300) const noexcept {
    return std::max(1, static_cast<int>(std::lround(Px(pixelsAt300))));
}

void SheetDrawing::Text(const std::string& text, PixelPoint origin, double capHeight, const cv::Scalar& colour,
                        int font) const {
    int baseline = 0;
    const double unit = cv::getTextSize("H", font, 1.0, 1, &baseline).height;
    const double scale = capHeight / unit;
    const int thickness = std::max(1, static_cast<int>(std::lround(capHeight / 14.0)));
    cv::putText(m_canvas, text, cv::Point(static_cast<int>(std::lround(origin.u)), static_cast<int>(std::lround(origin.v))),
                font, scale, colour, thickness, cv::LINE_AA);
}

void SheetDrawing::DrawMapSheet(SeededRandom& random) {
    SeededRandom contours = random.Fork();
    SeededRandom hatching = random.Fork();
    SeededRandom water = random.Fork();
    SeededRandom roads = random.Fork();
    SeededRandom decoy = random.Fork();
    SeededRandom names = random.Fork();
    SeededRandom margin = random.Fork();
    if (m_options.landscape != 0) {
        DrawLandscape(m_canvas, m_layout, m_sheet, m_options, m_k, m_inks);
    } else {
        DrawContours(contours);
        DrawHatching(hatching);
        DrawWater(water);
        DrawRoads(roads);
    }
    DrawDecoy(decoy);
    if (m_options.landscape == 0) {
        DrawVillagesAndNames(names);
    }
    // The hard sheets' own stream, so that they leave the rest as it was.
    SeededRandom hard(m_options.seed ^ 0x4A7D5EE7C0FFEE11ULL);
    SeededRandom dense = hard.Fork();
    SeededRandom wear = hard.Fork();
    DrawDenseHatching(dense);
    ClearOutsideNeatLine();
    DrawGraduatedBorder();
    DrawLabelsAndMarginText(margin);
    DrawNeatLine();
    WearNeatLine(wear);
}

void SheetDrawing::DrawDenseHatching(SeededRandom& random) {
    const Quad& q = m_layout.NeatLine();
    Hatching hatching;
    hatching.spacing = std::max(2.0, Px(3.5));
    hatching.reach = 2.0;
    hatching.ink = m_inks.black;
    hatching.thickness = Thickness(1.6);
    for (int k = 0; k < m_options.hatchedCorners; ++k) {
        // Dark forest filling the corner, its hatching cut by the neat line.
        const double radius = Px(random.Uniform(15.0, 25.0) * kPixelsPerMillimetreAt300);
        const PixelPoint centre = Along(q[k], q[(k + 2) % 4], random.Uniform(0.0, 0.01));
        StampHatchedBlob(
            m_canvas, centre, radius, hatching,
            [&random] { return random.Uniform(0.6, 1.6) * (random.Chance(0.5) ? 1.0 : -1.0); }, random);
    }
}


void SheetDrawing::DrawContours(SeededRandom& random) {
    const double width = m_right - m_left;
    const double height = m_bottom - m_top;
    const int hills = std::max(3, static_cast<int>(width * height / (Px(1800.0) * Px(1800.0))));
    const int thin = Thickness(1.2);
    const int thick = Thickness(2.4);
    for (int h = 0; h < hills; ++h) {
        const PixelPoint centre{random.Uniform(m_left - 0.05 * width, m_right + 0.05 * width),
                                random.Uniform(m_top - 0.05 * height, m_bottom + 0.05 * height)};
        const double radius = Px(random.Uniform(25.0, 70.0) * kPixelsPerMillimetreAt300);
        const double spacing = Px(random.Uniform(0.8, 1.6) * kPixelsPerMillimetreAt300);
        SeededRandom shape = random.Fork();
        for (int ring = 1; ring * spacing < radius; ++ring) {
            SeededRandom copy = shape;  // the same wobble for every ring, so they nest
            const std::vector<cv::Point> outline = Blob(centre, ring * spacing, copy);
            const cv::Point* points = outline.data();
            const int count = static_cast<int>(outline.size());
            cv::polylines(m_canvas, &points, &count, 1, true, m_inks.brown, ring % 5 == 0 ? thick : thin, cv::LINE_AA,
                          kShift);
        }
    }
}

void SheetDrawing::DrawHatching(SeededRandom& random) {
    const Quad& q = m_layout.NeatLine();
    const int patches = random.Integer(10, 16);
    Hatching hatching;
    hatching.spacing = std::max(2.0, Px(7.0));
    hatching.ink = 0.55 * m_inks.black + 0.45 * m_inks.paper;
    for (int p = 0; p < patches; ++p) {
        PixelPoint centre{random.Uniform(m_left, m_right), random.Uniform(m_top, m_bottom)};
        if (p < 5) {
            // Forest reaching over the neat line: the hatching runs into it.
            const int side = random.Integer(0, 3);
            centre = Along(q[side], q[(side + 1) % 4], random.Uniform(0.1, 0.9));
        }
        const double radius = Px(random.Uniform(15.0, 50.0) * kPixelsPerMillimetreAt300);
        StampHatchedBlob(
            m_canvas, centre, radius, hatching, [&random] { return random.Chance(0.5) ? 1.0 : -1.0; }, random);
    }
}

void SheetDrawing::DrawWater(SeededRandom& random) {
    const double width = m_right - m_left;
    const double height = m_bottom - m_top;
    const int rivers = random.Integer(1, 2);
    for (int r = 0; r < rivers; ++r) {
        const bool eastward = random.Chance(0.5);
        const PixelPoint a = eastward ? PixelPoint{m_left - 0.05 * width, random.Uniform(m_top, m_bottom)}
                                      : PixelPoint{random.Uniform(m_left, m_right), m_top - 0.05 * height};
        const PixelPoint b = eastward ? PixelPoint{m_right + 0.05 * width, random.Uniform(m_top, m_bottom)}
                                      : PixelPoint{random.Uniform(m_left, m_right), m_bottom + 0.05 * height};
        const std::vector<cv::Point> path = Path(a, b, 0.04 * std::min(width, height), random);
        const cv::Point* points = path.data();
        const int count = static_cast<int>(path.size());
        cv::polylines(m_canvas, &points, &count, 1, false, m_inks.blue, Thickness(random.Uniform(3.0, 7.0)),
                      cv::LINE_AA, kShift);
    }
    const int lakes = random.Integer(1, 3);
    for (int l = 0; l < lakes; ++l) {
        const PixelPoint centre{random.Uniform(m_left, m_right), random.Uniform(m_top, m_bottom)};
        const std::vector<cv::Point> outline =
            Blob(centre, Px(random.Uniform(6.0, 20.0) * kPixelsPerMillimetreAt300), random);
        const cv::Point* points = outline.data();
        const int count = static_cast<int>(outline.size());
        cv::fillPoly(m_canvas, &points, &count, 1, 0.5 * m_inks.blue + 0.5 * m_inks.paper, cv::LINE_AA, kShift);
        cv::polylines(m_canvas, &points, &count, 1, true, m_inks.blue, Thickness(1.5), cv::LINE_AA, kShift);
    }
}

void SheetDrawing::DrawRoads(SeededRandom& random) {
    const Quad& q = m_layout.NeatLine();
    // A point on the neat line, pushed outwards so that the road crosses it.
    const auto edgePoint = [&](int side) {
        const PixelPoint a = q[side];
        const PixelPoint b = q[(side + 1) % 4];
        return Plus(Along(a, b, random.Uniform(0.05, 0.95)), Outward(a, b), Px(200.0));
    };
    const int roads = random.Integer(8, 12);
    for (int r = 0; r < roads; ++r) {
        const int from = random.Integer(0, 3);
        const int to = (from + random.Integer(1, 3)) % 4;
        const std::vector<cv::Point> path =
            Path(edgePoint(from), edgePoint(to), Px(random.Uniform(20.0, 200.0)), random);
        const cv::Point* points = path.data();
        const int count = static_cast<int>(path.size());
        if (r % 3 == 2) {
            cv::polylines(m_canvas, &points, &count, 1, false, m_inks.black, Thickness(1.5), cv::LINE_AA, kShift);
            continue;
        }
        // A main road: two black edges with paper between them.
        const int casing = std::max(3, Thickness(6.0));
        cv::polylines(m_canvas, &points, &count, 1, false, m_inks.black, casing, cv::LINE_AA, kShift);
        cv::polylines(m_canvas, &points, &count, 1, false, m_inks.paper, std::max(1, casing - 2 * Thickness(1.5)),
                      cv::LINE_AA, kShift);
    }
}

void SheetDrawing::DrawDecoy(SeededRandom& random) {
    if (!m_options.decoy) {
        return;
    }
    const int side = static_cast<int>(*m_options.decoy);
    const double inside = Px(random.Uniform(6.0, 12.0));
    const double roadWidth = Px(random.Uniform(4.0, 7.0));
    double from = random.Uniform(0.01, 0.05);
    double to = random.Uniform(0.6, 0.95);
    if (random.Chance(0.5)) {
        std::swap(from, to);
        from = 1.0 - from;
        to = 1.0 - to;
    }
    for (const double distance : {inside, inside + roadWidth}) {
        const Quad line = m_layout.Offset(-distance);
        const PixelPoint a = Along(line[side], line[(side + 1) % 4], from);
        const PixelPoint b = Along(line[side], line[(side + 1) % 4], to);
        cv::line(m_canvas, Sub(a), Sub(b), m_inks.black, Thickness(1.5), cv::LINE_AA, kShift);
    }
}

void SheetDrawing::DrawVillagesAndNames(SeededRandom& random) {
    const Quad& q = m_layout.NeatLine();
    const int villages = random.Integer(12, 20);
    for (int v = 0; v < villages; ++v) {
        PixelPoint centre{random.Uniform(m_left, m_right), random.Uniform(m_top, m_bottom)};
        if (v < 4) {
            const int side = random.Integer(0, 3);
            centre = Plus(Along(q[side], q[(side + 1) % 4], random.Uniform(0.1, 0.9)),
                          Outward(q[side], q[(side + 1) % 4]), -Px(random.Uniform(20.0, 120.0)));
        }
        const int houses = random.Integer(8, 30);
        for (int h = 0; h < houses; ++h) {
            const PixelPoint at{centre.u + random.Normal() * Px(80.0), centre.v + random.Normal() * Px(80.0)};
            const double a = random.Uniform(0.0, kPi);
            const double w = Px(random.Uniform(8.0, 30.0)) / 2.0;
            const double d = Px(random.Uniform(8.0, 18.0)) / 2.0;
            const double c = std::cos(a), s = std::sin(a);
            const cv::Point corners[4] = {Sub({at.u + c * w - s * d, at.v + s * w + c * d}),
                                          Sub({at.u - c * w - s * d, at.v - s * w + c * d}),
                                          Sub({at.u - c * w + s * d, at.v - s * w - c * d}),
                                          Sub({at.u + c * w + s * d, at.v + s * w - c * d})};
            cv::fillConvexPoly(m_canvas, corners, 4, m_inks.black, cv::LINE_AA, kShift);
        }
        Text(MadeUpName(random), {centre.u + Px(60.0), centre.v - Px(60.0)},
             Px(random.Uniform(2.0, 3.5) * kPixelsPerMillimetreAt300), m_inks.black,
             v % 3 == 0 ? cv::FONT_HERSHEY_TRIPLEX : cv::FONT_HERSHEY_COMPLEX);
    }
    // Names of fields and waters, some running into the neat line.
    const int names = random.Integer(25, 40);
    for (int n = 0; n < names; ++n) {
        PixelPoint at{random.Uniform(m_left, m_right), random.Uniform(m_top, m_bottom)};
        if (n < 8) {
            const int side = random.Integer(0, 3);
            at = Plus(Along(q[side], q[(side + 1) % 4], random.Uniform(0.1, 0.9)), Outward(q[side], q[(side + 1) % 4]),
                      -Px(random.Uniform(0.0, 40.0)));
        }
        Text(MadeUpName(random), at, Px(random.Uniform(1.5, 2.5) * kPixelsPerMillimetreAt300),
             n % 2 == 0 ? m_inks.blue : m_inks.black, cv::FONT_HERSHEY_COMPLEX_SMALL | cv::FONT_ITALIC);
    }
}

}  // namespace georef::synthesis
