#include "synthesis/scan_layout.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/sheet_geometry.hpp"

namespace georef::synthesis {

namespace {

constexpr double kPi = 3.14159265358979323846;

// 0 on the straight end parts of a side, rising smoothly to 1 at its middle.
double BowProfile(double fraction) noexcept {
    if (fraction <= kStraightSideFraction || fraction >= 1.0 - kStraightSideFraction) {
        return 0.0;
    }
    const double s = std::sin(kPi * (fraction - kStraightSideFraction) / (1.0 - 2.0 * kStraightSideFraction));
    return s * s;
}

PixelPoint Intersection(PixelPoint a, PixelPoint da, PixelPoint b, PixelPoint db) noexcept {
    // a + s * da = b + t * db
    const double det = da.u * (-db.v) - da.v * (-db.u);
    const double s = ((b.u - a.u) * (-db.v) - (b.v - a.v) * (-db.u)) / det;
    return {a.u + s * da.u, a.v + s * da.v};
}

}  // namespace

ScanLayout::ScanLayout(int sheetNumber, const LayoutParameters& p) {
    const geometry::Matrix nominal = geometry::MakeNominalCorners(sheetNumber);
    double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    for (int k = 0; k < 4; ++k) {
        minX = std::min(minX, nominal(2 * k, 0));
        maxX = std::max(maxX, nominal(2 * k, 0));
        minY = std::min(minY, nominal(2 * k + 1, 0));
        maxY = std::max(maxY, nominal(2 * k + 1, 0));
    }
    for (int k = 0; k < 4; ++k) {
        m_neat[k] = {(nominal(2 * k, 0) - minX) / p.metresPerPixel + p.borderPixels,
                     (maxY - nominal(2 * k + 1, 0)) / p.metresPerPixel + p.borderPixels};
    }
    m_nominalWest = minX;
    m_nominalNorth = maxY;
    m_metresPerPixel = p.metresPerPixel;
    m_border = p.borderPixels;
    m_neatTop = p.borderPixels;
    m_neatHeight = (maxY - minY) / p.metresPerPixel;
    const double neatWidth = (maxX - minX) / p.metresPerPixel;
    m_canvasWidth = static_cast<int>(std::ceil(neatWidth + 2.0 * p.borderPixels));
    m_canvasHeight = static_cast<int>(std::ceil(m_neatHeight + 2.0 * p.borderPixels));
    m_canvasCentre = {(m_canvasWidth - 1) / 2.0, (m_canvasHeight - 1) / 2.0};

    m_cos = std::cos(p.rotationRadians);
    m_sin = std::sin(p.rotationRadians);
    // The turned paper's extent: its outer edges lie half a pixel beyond the
    // outermost pixel centres.
    const double halfW = m_canvasWidth / 2.0;
    const double halfH = m_canvasHeight / 2.0;
    const double extentU = std::fabs(m_cos) * halfW + std::fabs(m_sin) * halfH;
    const double extentV = std::fabs(m_sin) * halfW + std::fabs(m_cos) * halfH;
    m_imageWidth = static_cast<int>(std::ceil(2.0 * (extentU + p.bedPixels)));
    m_imageHeight = static_cast<int>(std::ceil(2.0 * (extentV + p.bedPixels)));
    m_imageCentre = {(m_imageWidth - 1) / 2.0, (m_imageHeight - 1) / 2.0};
    m_bow = p.bowPixels;
}

Quad ScanLayout::Offset(double distance) const noexcept {
    // Sides LD->LH (west), LH->PH (north), PH->PD (east), PD->LD (south) run
    // clockwise as the canvas is seen (v down), so the outward normal of a
    // side with direction (du, dv) is (dv, -du): (0, -1) upwards gives (-1, 0).
    std::array<PixelPoint, 4> start, direction;
    for (int k = 0; k < 4; ++k) {
        const PixelPoint a = m_neat[k];
        const PixelPoint b = m_neat[(k + 1) % 4];
        const double du = b.u - a.u;
        const double dv = b.v - a.v;
        const double length = std::hypot(du, dv);
        const PixelPoint outward{dv / length, -du / length};
        start[k] = {a.u + distance * outward.u, a.v + distance * outward.v};
        direction[k] = {du, dv};
    }
    Quad result;
    for (int k = 0; k < 4; ++k) {
        const int previous = (k + 3) % 4;
        result[k] = Intersection(start[previous], direction[previous], start[k], direction[k]);
    }
    return result;
}

PixelPoint ScanLayout::ImageFromCanvas(PixelPoint canvas) const noexcept {
    const double du = canvas.u - m_canvasCentre.u;
    const double dv = canvas.v - m_canvasCentre.v;
    return {m_imageCentre.u + m_cos * du + m_sin * dv, m_imageCentre.v - m_sin * du + m_cos * dv};
}

PixelPoint ScanLayout::CanvasFromImage(PixelPoint image) const noexcept {
    const double du = image.u - m_imageCentre.u;
    const double dv = image.v - m_imageCentre.v;
    const PixelPoint turned{m_canvasCentre.u + m_cos * du - m_sin * dv, m_canvasCentre.v + m_sin * du + m_cos * dv};
    const PixelPoint bow = Bow(turned);
    return {turned.u - bow.u, turned.v - bow.v};
}

PixelPoint ScanLayout::Bow(PixelPoint canvas) const noexcept {
    // Fractions across the sheet: v between the north and south sides (both
    // level on the canvas), u between the west and east sides at that v, so
    // that on every side the fraction along it is its own.
    const double fv = std::clamp((canvas.v - m_neatTop) / m_neatHeight, 0.0, 1.0);
    const double west = m_neat[0].u + (m_neat[1].u - m_neat[0].u) * (1.0 - fv);
    const double east = m_neat[3].u + (m_neat[2].u - m_neat[3].u) * (1.0 - fv);
    const double fu = std::clamp((canvas.u - west) / (east - west), 0.0, 1.0);
    const double alongWestEast = BowProfile(fv);
    const double alongNorthSouth = BowProfile(fu);
    return {-m_bow[0] * alongWestEast * (1.0 - fu) + m_bow[2] * alongWestEast * fu,
            -m_bow[1] * alongNorthSouth * (1.0 - fv) + m_bow[3] * alongNorthSouth * fv};
}

}  // namespace georef::synthesis
