#pragma once
// Drawing a printed sheet of the series on the paper canvas (see
// scan_layout.hpp for the frame): the map content, the neat line with its
// graduated border and outer frame, the corner labels, the title and the
// margin text, or a page of text without a map.

#include <opencv2/core.hpp>

#include "synthesis/realistic_scan.hpp"
#include "synthesis/scan_layout.hpp"
#include "synthesis/seeded_random.hpp"

namespace georef::synthesis {

// Printed colours, RGB.
struct SheetInks {
    cv::Scalar paper;
    cv::Scalar black;
    cv::Scalar brown;  // contours
    cv::Scalar blue;   // water
};

class SheetDrawing {
public:
    // canvas: CV_8UC3 (R, G, B), held by the caller and drawn on in place.
    // pixelsPer300: canvas pixels per pixel at 300 dpi (paper lengths).
    SheetDrawing(cv::Mat& canvas, const ScanLayout& layout, int sheetNumber, const RealisticScanOptions& options,
                 double pixelsPer300, const SheetInks& inks);

    SheetDrawing(const SheetDrawing&) = delete;
    SheetDrawing& operator=(const SheetDrawing&) = delete;

    // The whole sheet: content clipped at the neat line's centre, then the
    // border, the labels and the neat line on top.
    void DrawMapSheet(SeededRandom& random);
    // A page without a map: a title and lines of text, or nothing.
    void DrawPageWithoutMap(bool withText, SeededRandom& random);

    // The neat line's width as drawn, canvas pixels.
    double NeatLineWidth() const noexcept { return m_neatWidth; }

private:
    // The map content (sheet_drawing.cpp).
    void DrawContours(SeededRandom& random);
    void DrawHatching(SeededRandom& random);
    void DrawWater(SeededRandom& random);
    void DrawRoads(SeededRandom& random);
    void DrawDecoy(SeededRandom& random);
    void DrawDenseHatching(SeededRandom& random);
    void DrawVillagesAndNames(SeededRandom& random);
    // The neat line and everything outside it (sheet_frame_drawing.cpp).
    void WearNeatLine(SeededRandom& random);
    void ClearOutsideNeatLine();
    void DrawGraduatedBorder();
    void DrawLabelsAndMarginText(SeededRandom& random);
    void DrawNeatLine();

    // Length on the paper, pixels at 300 dpi -> canvas pixels.
    double Px(double pixelsAt300) const noexcept { return pixelsAt300 * m_k; }
    int Thickness(double pixelsAt300) const noexcept;
    void Text(const std::string& text, PixelPoint origin, double capHeight, const cv::Scalar& colour,
              int font) const;

    cv::Mat& m_canvas;
    const ScanLayout& m_layout;
    int m_sheet;
    const RealisticScanOptions& m_options;
    double m_k;
    SheetInks m_inks;
    double m_neatWidth;
    double m_left, m_top, m_right, m_bottom;  // the neat line's bounding box, canvas pixels
};

}  // namespace georef::synthesis
