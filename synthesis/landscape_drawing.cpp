#include "synthesis/landscape_drawing.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "geometry/sheet_geometry.hpp"
#include "synthesis/landscape.hpp"

namespace georef::synthesis {

namespace {

// Drawing positions carry 4 fractional bits.
constexpr int kShift = 4;
constexpr double kSubPixels = 16.0;
constexpr double kPixelsPerMillimetreAt300 = 300.0 / 25.4;

class Painter {
public:
    Painter(cv::Mat& canvas, const ScanLayout& layout, int sheetNumber, const RealisticScanOptions& options,
            double pixelsPer300, const SheetInks& inks)
        : m_canvas(canvas), m_layout(layout), m_mapping(sheetNumber), m_options(options), m_k(pixelsPer300),
          m_inks(inks) {}

    void Draw(const LandscapeContent& content) const {
        for (const LandscapeArea& area : content.areas) {
            if (area.kind == AreaKind::forest) {
                Forest(area);
            } else {
                Lake(area);
            }
        }
        // Contours under the water, the water under the roads.
        for (const LineKind kind : {LineKind::contour, LineKind::indexContour, LineKind::river, LineKind::minorRoad,
                                    LineKind::railway, LineKind::mainRoad}) {
            for (const LandscapeLine& line : content.lines) {
                if (line.kind == kind) {
                    Line(line);
                }
            }
        }
        for (const LandscapeHouse& house : content.houses) {
            House(house);
        }
        for (const LandscapeName& name : content.names) {
            Name(name);
        }
    }

private:
    // Ground -> canvas, through the sheet's nominal frame and the shift.
    PixelPoint Canvas(const GroundPoint& p) const noexcept {
        double x = 0.0, y = 0.0;
        m_mapping.NominalFromGraticule(p.lon, p.lat, x, y);
        return m_layout.CanvasFromNominal(x + m_options.shiftEastMetres, y + m_options.shiftNorthMetres);
    }
    static cv::Point Sub(PixelPoint p, cv::Point origin = {0, 0}) {
        return {static_cast<int>(std::lround((p.u - origin.x) * kSubPixels)),
                static_cast<int>(std::lround((p.v - origin.y) * kSubPixels))};
    }
    std::vector<cv::Point> Polyline(const std::vector<GroundPoint>& points, cv::Point origin = {0, 0}) const {
        std::vector<cv::Point> out;
        out.reserve(points.size());
        for (const GroundPoint& p : points) {
            out.push_back(Sub(Canvas(p), origin));
        }
        return out;
    }
    double Px(double pixelsAt300) const noexcept { return pixelsAt300 * m_k; }
    int Thickness(double pixelsAt300) const noexcept {
        return std::max(1, static_cast<int>(std::lround(Px(pixelsAt300))));
    }
    // The canvas pixels a set of sub-pixel points covers, within the canvas.
    cv::Rect Box(const std::vector<cv::Point>& points, int grow) const {
        const cv::Rect r = cv::boundingRect(points);
        const cv::Rect pixels(r.x / 16 - grow, r.y / 16 - grow, r.width / 16 + 2 * grow + 2, r.height / 16 + 2 * grow + 2);
        return pixels & cv::Rect(0, 0, m_canvas.cols, m_canvas.rows);
    }

    void Stroke(const std::vector<cv::Point>& points, bool closed, const cv::Scalar& ink, int thickness) const {
        const cv::Point* data = points.data();
        const int count = static_cast<int>(points.size());
        cv::polylines(m_canvas, &data, &count, 1, closed, ink, thickness, cv::LINE_AA, kShift);
    }

    void Line(const LandscapeLine& line) const {
        const std::vector<cv::Point> points = Polyline(line.points);
        if (Box(points, 8).empty()) {
            return;
        }
        switch (line.kind) {
            case LineKind::contour:
            case LineKind::indexContour:
                Stroke(points, line.closed, m_inks.brown, Thickness(line.widthAt300));
                break;
            case LineKind::river:
                Stroke(points, line.closed, m_inks.blue, Thickness(line.widthAt300));
                break;
            case LineKind::minorRoad:
            case LineKind::railway:
                Stroke(points, line.closed, m_inks.black, Thickness(line.widthAt300));
                break;
            case LineKind::mainRoad: {
                // Two black edges with paper between them.
                const int casing = std::max(3, Thickness(line.widthAt300));
                Stroke(points, line.closed, m_inks.black, casing);
                Stroke(points, line.closed, m_inks.paper, std::max(1, casing - 2 * Thickness(1.5)));
                break;
            }
        }
    }

    void Lake(const LandscapeArea& area) const {
        const std::vector<cv::Point> outline = Polyline(area.outline);
        if (Box(outline, 4).empty()) {
            return;
        }
        const cv::Point* data = outline.data();
        const int count = static_cast<int>(outline.size());
        cv::fillPoly(m_canvas, &data, &count, 1, 0.5 * m_inks.blue + 0.5 * m_inks.paper, cv::LINE_AA, kShift);
        Stroke(outline, true, m_inks.blue, Thickness(1.5));
    }

    // Hatching along ground lines E + d N = c, c a multiple of the spacing,
    // within the outline: the same lines on every sheet.
    void Forest(const LandscapeArea& area) const {
        const std::vector<cv::Point> whole = Polyline(area.outline);
        const cv::Rect box = Box(whole, 2);
        if (box.empty()) {
            return;
        }
        double e0 = INFINITY, e1 = -INFINITY, n0 = INFINITY, n1 = -INFINITY;
        for (const GroundPoint& p : area.outline) {
            e0 = std::min(e0, Landscape::East(p));
            e1 = std::max(e1, Landscape::East(p));
            n0 = std::min(n0, Landscape::North(p));
            n1 = std::max(n1, Landscape::North(p));
        }
        cv::Mat region = m_canvas(box);
        cv::Mat hatched = region.clone();
        const cv::Scalar ink = 0.55 * m_inks.black + 0.45 * m_inks.paper;
        const double d = area.hatchDirection;
        const double spacing = Landscape::kHatchSpacingMetres;
        const double cLow = std::min(e0 + d * n0, e0 + d * n1);
        const double cHigh = std::max(e1 + d * n0, e1 + d * n1);
        for (double c = std::ceil(cLow / spacing) * spacing; c <= cHigh; c += spacing) {
            // E along the line, kept where N = (c - E) / d lies in [n0, n1].
            const double ea = std::max(e0, std::min(c - d * n0, c - d * n1));
            const double eb = std::min(e1, std::max(c - d * n0, c - d * n1));
            if (!(eb > ea)) {
                continue;
            }
            std::vector<GroundPoint> points;
            const int pieces = std::max(1, static_cast<int>(std::ceil((eb - ea) / 200.0)));
            for (int k = 0; k <= pieces; ++k) {
                const double e = ea + (eb - ea) * k / pieces;
                points.push_back(Landscape::FromPlane(e, (c - e) / d));
            }
            const std::vector<cv::Point> line = Polyline(points, box.tl());
            const cv::Point* data = line.data();
            const int count = static_cast<int>(line.size());
            cv::polylines(hatched, &data, &count, 1, false, ink, 1, cv::LINE_AA, kShift);
        }
        cv::Mat mask = cv::Mat::zeros(box.size(), CV_8U);
        const std::vector<cv::Point> outline = Polyline(area.outline, box.tl());
        const cv::Point* data = outline.data();
        const int count = static_cast<int>(outline.size());
        cv::fillPoly(mask, &data, &count, 1, cv::Scalar(255), cv::LINE_8, kShift);
        hatched.copyTo(region, mask);
    }

    void House(const LandscapeHouse& house) const {
        const double east = Landscape::East(house.centre);
        const double north = Landscape::North(house.centre);
        const double c = std::cos(house.angleRadians), s = std::sin(house.angleRadians);
        const double l = house.lengthMetres / 2.0, w = house.depthMetres / 2.0;
        std::vector<GroundPoint> corners;
        for (const auto& [a, b] : {std::pair{l, w}, std::pair{-l, w}, std::pair{-l, -w}, std::pair{l, -w}}) {
            corners.push_back(Landscape::FromPlane(east + c * a - s * b, north + s * a + c * b));
        }
        const std::vector<cv::Point> points = Polyline(corners);
        if (Box(points, 2).empty()) {
            return;
        }
        cv::fillConvexPoly(m_canvas, points.data(), 4, m_inks.black, cv::LINE_AA, kShift);
    }

    void Name(const LandscapeName& name) const {
        const PixelPoint at = Canvas(name.at);
        const int font = name.serif ? cv::FONT_HERSHEY_TRIPLEX : cv::FONT_HERSHEY_COMPLEX;
        const double capHeight = Px(name.capHeightMillimetres * kPixelsPerMillimetreAt300);
        int baseline = 0;
        const double unit = cv::getTextSize("H", font, 1.0, 1, &baseline).height;
        const int thickness = std::max(1, static_cast<int>(std::lround(capHeight / 14.0)));
        cv::putText(m_canvas, name.text, cv::Point(static_cast<int>(std::lround(at.u)), static_cast<int>(std::lround(at.v))),
                    font, capHeight / unit, m_inks.black, thickness, cv::LINE_AA);
    }

    cv::Mat& m_canvas;
    const ScanLayout& m_layout;
    geometry::SheetMapping m_mapping;
    const RealisticScanOptions& m_options;
    double m_k;
    const SheetInks& m_inks;
};

}  // namespace

void DrawLandscape(cv::Mat& canvas, const ScanLayout& layout, int sheetNumber, const RealisticScanOptions& options,
                   double pixelsPer300, const SheetInks& inks) {
    const Landscape landscape(options.landscape);
    const Painter painter(canvas, layout, sheetNumber, options, pixelsPer300, inks);
    painter.Draw(landscape.Within(geometry::MakeSheetGraticule(sheetNumber)));
}

}  // namespace georef::synthesis
