#pragma once
// Where everything of a drawn scan lies. Three frames:
// - canvas: the paper, pixels at the scan's resolution, u to the right and
//   v downwards, pixel centres at whole numbers; the sheet's nominal frame
//   (metres, x east, y north) maps onto it by a scale and a shift;
// - image: the scan as written, the same convention, the canvas turned by
//   the rotation about its centre and shifted into the scanner's bed, and its
//   sides bowed;
// - corner file: x = u - 0.5 from the left edge, y = height - 1.5 - v up
//   from the bottom edge, the positions georef samples.
//
// Bowing moves the paper by a displacement that is zero within the part of
// each side nearest its corners (the first and last fifth of every side) and
// grows smoothly to its full amount at the middle of the side, falling off
// linearly across the sheet to the opposite side. The corners and the straight end parts of the
// sides are therefore exactly where the similarity puts them, and the true
// corner of a bowed side is the intersection of those straight end parts.

#include <array>

namespace georef::synthesis {

struct PixelPoint {
    double u = 0.0;
    double v = 0.0;
};

// Corners of the neat line in the order LD, LH, PH, PD.
using Quad = std::array<PixelPoint, 4>;

struct LayoutParameters {
    double metresPerPixel = 0.0;  // ground metres per canvas pixel
    double borderPixels = 0.0;    // paper from the neat line out to the paper edge, canvas pixels
    double bedPixels = 0.0;       // scanner bed around the turned paper, image pixels
    double rotationRadians = 0.0; // counter-clockwise as the image is seen
    // Largest displacement at the middle of each side, image pixels, positive
    // outwards: west, north, east, south.
    std::array<double, 4> bowPixels{};
};

// The fraction of a side at either end that stays straight when it bows.
constexpr double kStraightSideFraction = 0.2;

class ScanLayout {
public:
    // @throws std::invalid_argument when the sheet number is not valid.
    ScanLayout(int sheetNumber, const LayoutParameters& parameters);

    int CanvasWidth() const noexcept { return m_canvasWidth; }
    int CanvasHeight() const noexcept { return m_canvasHeight; }
    int ImageWidth() const noexcept { return m_imageWidth; }
    int ImageHeight() const noexcept { return m_imageHeight; }

    // The neat line's corners (the centre line's), canvas frame.
    const Quad& NeatLine() const noexcept { return m_neat; }
    // The neat line moved outwards by distance canvas pixels (inwards when
    // negative), each side parallel to itself.
    Quad Offset(double distance) const noexcept;

    // Nominal frame of the sheet (metres, x east, y north) -> canvas.
    PixelPoint CanvasFromNominal(double x, double y) const noexcept {
        return {(x - m_nominalWest) / m_metresPerPixel + m_border, (m_nominalNorth - y) / m_metresPerPixel + m_border};
    }

    // Canvas -> image by the rotation and shift alone (exact where the paper
    // does not bow, which includes the corners).
    PixelPoint ImageFromCanvas(PixelPoint canvas) const noexcept;
    // Image -> canvas including the bowing (the inverse of the displacement
    // taken to first order: it is a few pixels over thousands).
    PixelPoint CanvasFromImage(PixelPoint image) const noexcept;
    // The displacement of the paper at a canvas point, canvas pixels.
    PixelPoint Bow(PixelPoint canvas) const noexcept;

private:
    Quad m_neat;
    int m_canvasWidth = 0;
    int m_canvasHeight = 0;
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    double m_cos = 1.0;
    double m_sin = 0.0;
    PixelPoint m_canvasCentre;
    PixelPoint m_imageCentre;
    double m_neatTop = 0.0;     // the north side's v, canvas pixels
    double m_neatHeight = 1.0;  // from the north side to the south side
    std::array<double, 4> m_bow{};
    double m_nominalWest = 0.0;   // the nominal corners' least x, metres
    double m_nominalNorth = 0.0;  // their greatest y
    double m_metresPerPixel = 1.0;
    double m_border = 0.0;        // canvas pixels
};

}  // namespace georef::synthesis
