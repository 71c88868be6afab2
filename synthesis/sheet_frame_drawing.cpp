// The neat line and everything outside it: the neat line itself and its
// wear, the paper cleared outside it, the graduated border with its outer
// frame, the corner labels, the title and the margin text; and the page
// without a map.

#include "synthesis/sheet_drawing.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "geometry/sheet_geometry.hpp"
#include "synthesis/landscape.hpp"
#include "synthesis/sheet_drawing_points.hpp"

namespace georef::synthesis {

using namespace detail;

namespace {

double Overlap(double low1, double high1, double low2, double high2) noexcept {
    return std::max(0.0, std::min(high1, high2) - std::max(low1, low2));
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
