#include "synthesis/sheet_drawing.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"
#include "synthesis/landscape.hpp"
#include "synthesis/landscape_drawing.hpp"

namespace georef::synthesis {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Drawing positions carry 4 fractional bits.
constexpr int kShift = 4;
constexpr double kSubPixels = 16.0;
constexpr double kPixelsPerMillimetreAt300 = 300.0 / geometry::kMillimetresPerInch;

cv::Point Sub(PixelPoint p) {
    return {static_cast<int>(std::lround(p.u * kSubPixels)), static_cast<int>(std::lround(p.v * kSubPixels))};
}

PixelPoint Along(PixelPoint a, PixelPoint b, double t) noexcept {
    return {a.u + t * (b.u - a.u), a.v + t * (b.v - a.v)};
}

PixelPoint Plus(PixelPoint p, PixelPoint direction, double distance) noexcept {
    return {p.u + distance * direction.u, p.v + distance * direction.v};
}

// Unit direction from a to b and the outward normal of the neat line's side
// a -> b (see ScanLayout::Offset).
PixelPoint Direction(PixelPoint a, PixelPoint b) noexcept {
    const double length = std::hypot(b.u - a.u, b.v - a.v);
    return {(b.u - a.u) / length, (b.v - a.v) / length};
}
PixelPoint Outward(PixelPoint a, PixelPoint b) noexcept {
    const PixelPoint d = Direction(a, b);
    return {d.v, -d.u};
}

double Overlap(double low1, double high1, double low2, double high2) noexcept {
    return std::max(0.0, std::min(high1, high2) - std::max(low1, low2));
}

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

// Degrees and the rest of an angle as printed in the corner labels:
// "49" and "52'30\"".
std::pair<std::string, std::string> AngleText(double degrees) {
    const long seconds = std::lround(degrees * 3600.0);
    char rest[32];
    if (seconds % 60 == 0) {
        std::snprintf(rest, sizeof(rest), "%02ld'", seconds / 60 % 60);
    } else {
        std::snprintf(rest, sizeof(rest), "%02ld'%02ld\"", seconds / 60 % 60, seconds % 60);
    }
    return {std::to_string(seconds / 3600), rest};
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

void SheetDrawing::WearNeatLine(SeededRandom& random) {
    if (m_options.wornShare <= 0.0) {
        return;
    }
    const Quad& q = m_layout.NeatLine();
    for (int side = 0; side < 4; ++side) {
        // Gaps of random lengths adding up to the share, at random places.
        const int gaps = random.Integer(2, 4);
        std::vector<double> lengths(static_cast<std::size_t>(gaps));
        double total = 0.0;
        for (double& l : lengths) {
            l = random.Uniform(0.5, 1.5);
            total += l;
        }
        const double room = 1.0 - m_options.wornShare;
        std::vector<double> cuts(static_cast<std::size_t>(gaps));
        for (double& c : cuts) {
            c = random.Uniform(0.0, room);
        }
        std::sort(cuts.begin(), cuts.end());
        double placed = 0.0;
        for (int g = 0; g < gaps; ++g) {
            const double from = cuts[static_cast<std::size_t>(g)] + placed;
            placed += lengths[static_cast<std::size_t>(g)] / total * m_options.wornShare;
            const double to = cuts[static_cast<std::size_t>(g)] + placed;
            const PixelPoint a = Along(q[side], q[(side + 1) % 4], from);
            const PixelPoint b = Along(q[side], q[(side + 1) % 4], to);
            cv::line(m_canvas, Sub(a), Sub(b), m_inks.paper, std::max(1, static_cast<int>(std::ceil(m_neatWidth + 1.0))),
                     cv::LINE_AA, kShift);
        }
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

void SheetDrawing::ClearOutsideNeatLine() {
    const double w = m_canvas.cols + 1.0;
    const double h = m_canvas.rows + 1.0;
    const std::vector<cv::Point> paper = {Sub({-2.0, -2.0}), Sub({w, -2.0}), Sub({w, h}), Sub({-2.0, h})};
    const Quad& q = m_layout.NeatLine();
    const std::vector<cv::Point> sheet = {Sub(q[0]), Sub(q[1]), Sub(q[2]), Sub(q[3])};
    const cv::Point* contours[2] = {paper.data(), sheet.data()};
    const int counts[2] = {4, 4};
    cv::fillPoly(m_canvas, contours, counts, 2, m_inks.paper, cv::LINE_AA, kShift);
}

void SheetDrawing::DrawGraduatedBorder() {
    const Quad& q = m_layout.NeatLine();
    const double gap = Px(m_options.frameGap);
    const double frame = Px(m_options.frameWidth);
    const auto ring = [&](double inner, double outer) {
        const Quad a = m_layout.Offset(inner);
        const Quad b = m_layout.Offset(outer);
        const std::vector<cv::Point> out = {Sub(b[0]), Sub(b[1]), Sub(b[2]), Sub(b[3])};
        const std::vector<cv::Point> in = {Sub(a[0]), Sub(a[1]), Sub(a[2]), Sub(a[3])};
        const cv::Point* contours[2] = {out.data(), in.data()};
        const int counts[2] = {4, 4};
        cv::fillPoly(m_canvas, contours, counts, 2, m_inks.black, cv::LINE_AA, kShift);
    };
    ring(gap - frame / 2.0, gap + frame / 2.0);

    const double bandInner = std::max(m_neatWidth / 2.0 + 1.0, 0.35 * gap);
    const double bandOuter = gap - frame / 2.0;
    const bool filled = m_options.border == BorderStyle::filledMinutes;
    if (filled) {
        ring(bandInner - Px(0.6), bandInner + Px(0.6));
    }
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(m_sheet);
    for (int side = 0; side < 4; ++side) {
        const PixelPoint a = q[side];
        const PixelPoint b = q[(side + 1) % 4];
        const PixelPoint out = Outward(a, b);
        // The graticule value at the side's start and end: latitude on the
        // west and east sides, longitude on the north and south sides.
        const double start = side == 0 ? g.latSouth : side == 1 ? g.lonWest : side == 2 ? g.latNorth : g.lonEast;
        const double end = side == 0 ? g.latNorth : side == 1 ? g.lonEast : side == 2 ? g.latSouth : g.lonWest;
        const double firstMinute = std::ceil(std::min(start, end) * 60.0 - 1e-9);
        const double lastMinute = std::floor(std::max(start, end) * 60.0 + 1e-9);
        std::vector<double> marks{0.0};
        for (double m = firstMinute; m <= lastMinute; m += 1.0) {
            const double t = (m / 60.0 - start) / (end - start);
            if (t > 1e-9 && t < 1.0 - 1e-9) {
                marks.push_back(t);
            }
            if (!filled) {
                const PixelPoint on = Along(a, b, t);
                cv::line(m_canvas, Sub(Plus(on, out, m_neatWidth / 2.0)), Sub(Plus(on, out, bandOuter)),
                         m_inks.black, Thickness(1.5), cv::LINE_AA, kShift);
            }
        }
        marks.push_back(1.0);
        if (!filled) {
            continue;
        }
        for (std::size_t k = 0; k + 1 < marks.size(); ++k) {
            const double middle = start + (marks[k] + marks[k + 1]) / 2.0 * (end - start);
            if (static_cast<long>(std::floor(middle * 60.0)) % 2 != 0) {
                continue;
            }
            const PixelPoint p0 = Along(a, b, marks[k]);
            const PixelPoint p1 = Along(a, b, marks[k + 1]);
            const cv::Point segment[4] = {Sub(Plus(p0, out, bandInner)), Sub(Plus(p1, out, bandInner)),
                                          Sub(Plus(p1, out, bandOuter)), Sub(Plus(p0, out, bandOuter))};
            cv::fillConvexPoly(m_canvas, segment, 4, m_inks.black, cv::LINE_AA, kShift);
        }
    }
}

void SheetDrawing::DrawLabelsAndMarginText(SeededRandom& random) {
    const Quad& q = m_layout.NeatLine();
    const double outside = Px(m_options.frameGap + m_options.frameWidth);
    const Quad frame = m_layout.Offset(outside);
    const double cap = Px(2.2 * kPixelsPerMillimetreAt300);
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(m_sheet);
    // The corner labels' figures and the title's face.
    const Lettering style = m_options.lettering;
    const int font = style == Lettering::plain    ? cv::FONT_HERSHEY_SIMPLEX
                     : style == Lettering::italic ? cv::FONT_HERSHEY_COMPLEX | cv::FONT_ITALIC
                                                  : cv::FONT_HERSHEY_COMPLEX;
    const int titleFont = style == Lettering::italic ? cv::FONT_HERSHEY_TRIPLEX | cv::FONT_ITALIC
                                                     : cv::FONT_HERSHEY_TRIPLEX;
    int baseline = 0;
    const double unit = cv::getTextSize("H", font, 1.0, 1, &baseline).height;
    const auto width = [&](const std::string& text) {
        return cv::getTextSize(text, font, cap / unit, 1, &baseline).width;
    };
    // "49" + degree ring + "52'30\"" with its left end at u, baseline at v.
    const auto angle = [&](double degrees, double u, double v) {
        const auto [whole, rest] = AngleText(degrees);
        Text(whole, {u, v}, cap, m_inks.black, font);
        const double ring = u + width(whole) + cap * 0.25;
        cv::circle(m_canvas, Sub({ring, v - cap * 0.85}), static_cast<int>(std::lround(cap * 0.18 * kSubPixels)),
                   m_inks.black, std::max(1, static_cast<int>(cap / 14.0)), cv::LINE_AA, kShift);
        Text(rest, {ring + cap * 0.4, v}, cap, m_inks.black, font);
        return width(whole) + cap * 0.65 + width(rest);
    };
    const auto angleWidth = [&](double degrees) {
        const auto [whole, rest] = AngleText(degrees);
        return width(whole) + cap * 0.65 + width(rest);
    };
    for (int k = 0; k < 4; ++k) {
        const bool west = k == 0 || k == 1;
        const bool top = k == 1 || k == 2;
        const double lon = west ? g.lonWest : g.lonEast;
        const double lat = top ? g.latNorth : g.latSouth;
        const double lonV = top ? frame[k].v - 0.6 * cap : frame[k].v + 1.6 * cap;
        angle(lon, q[k].u - angleWidth(lon) / 2.0, lonV);
        const double latU = west ? frame[k].u - 0.6 * cap - angleWidth(lat) : frame[k].u + 0.6 * cap;
        angle(lat, latU, q[k].v + cap / 2.0);
    }
    // Title in the top margin, numbering and notes beside and below.
    const double margin = Px(m_options.marginMillimetres * kPixelsPerMillimetreAt300);
    const double titleCap = std::min(Px(5.0 * kPixelsPerMillimetreAt300), 0.3 * margin);
    const std::string number = std::to_string(m_options.titleSheet != 0 ? m_options.titleSheet : m_sheet);
    const auto titleWidth = [&](const std::string& text, double capHeight) {
        return cv::getTextSize(text, titleFont, capHeight / unit, 1, &baseline).width;
    };
    // Small capitals: the name in capitals, all but the first at three
    // quarters of the capitals' height.
    std::string name = MadeUpName(random);
    std::string rest;
    if (style == Lettering::smallCaps) {
        for (char& c : name) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        rest = name.substr(1);
        name = name.substr(0, 1);
    }
    const std::string title = number.substr(0, 4) + "/" + number.substr(4) + "  " + name;
    const double restCap = 0.75 * titleCap;
    const double wholeWidth = titleWidth(title, titleCap) + (rest.empty() ? 0.0 : titleWidth(rest, restCap));
    const double titleLeft = (m_left + m_right) / 2.0 - wholeWidth / 2.0;
    const double topFrame = std::min(frame[1].v, frame[2].v);
    const double titleBaseline = topFrame - 2.2 * cap - 0.2 * titleCap;
    Text(title, {titleLeft, titleBaseline}, titleCap, m_inks.black, titleFont);
    if (!rest.empty()) {
        Text(rest, {titleLeft + titleWidth(title, titleCap), titleBaseline}, restCap, m_inks.black, titleFont);
    }
    Text("Zone " + number.substr(0, 2) + "  Col. " + number.substr(2, 2), {frame[1].u, topFrame - 2.2 * cap},
         cap * 0.8, m_inks.black, font);
    const double bottomFrame = std::max(frame[0].v, frame[3].v);
    for (int line = 0; line < 3; ++line) {
        std::string words;
        for (int w = random.Integer(4, 8); w > 0; --w) {
            words += MadeUpName(random) + " ";
        }
        Text(words, {frame[0].u, bottomFrame + (3.4 + 1.3 * line) * cap}, cap * 0.7, m_inks.black, font);
    }
    // A scale bar below the middle: 1 km segments at 1:25 000 are 40 mm.
    const double segment = Px(40.0 * kPixelsPerMillimetreAt300) / 4.0;
    const double barLeft = (m_left + m_right) / 2.0 - 2.0 * segment;
    const double barTop = bottomFrame + 2.0 * cap;
    for (int s = 0; s < 4; ++s) {
        const cv::Point box[4] = {Sub({barLeft + s * segment, barTop}), Sub({barLeft + (s + 1) * segment, barTop}),
                                  Sub({barLeft + (s + 1) * segment, barTop + cap * 0.4}),
                                  Sub({barLeft + s * segment, barTop + cap * 0.4})};
        if (s % 2 == 0) {
            cv::fillConvexPoly(m_canvas, box, 4, m_inks.black, cv::LINE_AA, kShift);
        } else {
            cv::polylines(m_canvas, std::vector<cv::Point>(box, box + 4), true, m_inks.black, 1, cv::LINE_AA, kShift);
        }
    }
}

void SheetDrawing::DrawNeatLine() {
    // Coverage of each pixel by the line, a box filter across and along each
    // side, so the darkness is symmetric about the centre line at any
    // sub-pixel position.
    const Quad& q = m_layout.NeatLine();
    const double half = m_neatWidth / 2.0;
    for (int side = 0; side < 4; ++side) {
        const PixelPoint a = q[side];
        const PixelPoint b = q[(side + 1) % 4];
        const PixelPoint along = Direction(a, b);
        const PixelPoint out = Outward(a, b);
        const double length = std::hypot(b.u - a.u, b.v - a.v);
        const double reach = half + 2.0;
        const int u0 = std::max(0, static_cast<int>(std::floor(std::min(a.u, b.u) - reach)));
        const int u1 = std::min(m_canvas.cols - 1, static_cast<int>(std::ceil(std::max(a.u, b.u) + reach)));
        const int v0 = std::max(0, static_cast<int>(std::floor(std::min(a.v, b.v) - reach)));
        const int v1 = std::min(m_canvas.rows - 1, static_cast<int>(std::ceil(std::max(a.v, b.v) + reach)));
        const bool steep = std::fabs(along.v) > std::fabs(along.u);
        for (int v = v0; v <= v1; ++v) {
            int from = u0;
            int to = u1;
            if (steep) {
                // Only the few columns near the side on this row.
                const double t = (v - a.v) / along.v;
                const double u = a.u + t * along.u;
                from = std::max(u0, static_cast<int>(std::floor(u - reach)));
                to = std::min(u1, static_cast<int>(std::ceil(u + reach)));
            }
            cv::Vec3b* row = m_canvas.ptr<cv::Vec3b>(v);
            for (int u = from; u <= to; ++u) {
                const double du = u - a.u;
                const double dv = v - a.v;
                const double across = du * out.u + dv * out.v;
                if (std::fabs(across) > reach) {
                    continue;
                }
                const double t = du * along.u + dv * along.v;
                const double cover = Overlap(across - 0.5, across + 0.5, -half, half) *
                                     std::min(1.0, Overlap(t - 0.5, t + 0.5, -half, length + half));
                if (cover <= 0.0) {
                    continue;
                }
                for (int c = 0; c < 3; ++c) {
                    const double value = row[u][c] + cover * (m_inks.black[c] - row[u][c]);
                    row[u][c] = static_cast<std::uint8_t>(std::lround(value));
                }
            }
        }
    }
}

void SheetDrawing::DrawPageWithoutMap(bool withText, SeededRandom& random) {
    if (!withText) {
        return;
    }
    const double cap = Px(2.5 * kPixelsPerMillimetreAt300);
    Text(MadeUpName(random) + " " + MadeUpName(random), {m_left, m_top}, 2.0 * cap, m_inks.black,
         cv::FONT_HERSHEY_TRIPLEX);
    for (double v = m_top + 5.0 * cap; v < m_bottom; v += 2.2 * cap) {
        std::string words;
        double u = m_left;
        while (u < m_right - Px(400.0)) {
            const std::string word = MadeUpName(random);
            Text(word, {u, v}, cap, m_inks.black, cv::FONT_HERSHEY_COMPLEX);
            u += cap * (word.size() * 0.95 + 1.2);
        }
    }
}

}  // namespace georef::synthesis
