#pragma once
// A sheet's part of the continuous landscape drawn on its paper canvas (see
// scan_layout.hpp for the frames): every ground point goes through the
// sheet's nominal frame, displaced by the options' shift, onto the canvas,
// so that what georef maps back lands where the landscape has it.

#include <opencv2/core.hpp>

#include "synthesis/realistic_scan.hpp"
#include "synthesis/scan_layout.hpp"
#include "synthesis/sheet_drawing.hpp"

namespace georef::synthesis {

// Draws forest, lakes, contours, rivers, railways, roads, houses and names
// over the whole canvas (CV_8UC3, R G B), which the caller then clears
// outside the neat line. pixelsPer300: canvas pixels per pixel at 300 dpi.
void DrawLandscape(cv::Mat& canvas, const ScanLayout& layout, int sheetNumber, const RealisticScanOptions& options,
                   double pixelsPer300, const SheetInks& inks);

}  // namespace georef::synthesis
