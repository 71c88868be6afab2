#pragma once
// Reading what a sheet prints about itself in its margin: the title above
// the top side and the graticule labels at the four corners, by OCR
// (Tesseract, with the English data installed with it; nothing is fetched).
// Only small crops are read: each is cut from the scan along the sheet's own
// axes (whatever way the scan is turned), at a resolution where a letter is
// about 25 pixels high, cleared of the frame's lines, and read as one line.

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "corners/frame.hpp"
#include "corners/scan_image.hpp"
#include "corners/sheet_identity.hpp"

namespace georef::corners {

// Where the texts are looked for, in paper millimetres about the neat line
// (sheet frame: p east from the north-west corner, q south from it).
struct TextCrop {
    enum class Kind { title, longitude, latitude } kind = Kind::title;
    int corner = -1;  // LD, LH, PH, PD for a label; -1 for the title
    double p0 = 0.0, p1 = 0.0, q0 = 0.0, q1 = 0.0;
    double pixelsPerMillimetre = 10.0;  // resolution of the crop read
};

// The crops of a sheet: the title band above the middle of the top side,
// and at each corner the longitude label beyond the top or bottom side and
// the latitude label beyond the left or right side.
// @pre sheetNumber is valid.
std::vector<TextCrop> SheetTextCrops(int sheetNumber);

// Where the crops lie, and how to cut them upright, given the neat line's
// corners (LD, LH, PH, PD of the sheet, plane frame of the scan).
class CropPlacement {
public:
    CropPlacement(int sheetNumber, const std::array<PlanePoint, 4>& sheetCorners);
    // The scan window (plane frame, pixels) that holds the crop.
    cv::Rect Window(const TextCrop& crop) const;
    // The crop, upright and at its resolution, from the window's pixels
    // (RGB, as ScanImage reads them): grey, ink dark, the frame's lines and
    // anything too large to be a letter cleared.
    cv::Mat Cut(const TextCrop& crop, const cv::Rect& window, const cv::Mat& pixels) const;

private:
    PlanePoint At(double p, double q) const noexcept;  // paper millimetres -> plane pixels
    std::array<PlanePoint, 4> m_corners;
    double m_widthMillimetres = 0.0;
    double m_heightMillimetres = 0.0;
};

// Whether a reading goes on to the corner labels when the title already
// names the sheet read for. The labels add nothing to the verdict then (the
// title alone identifies the sheet) and cost about three times the title's
// reading, so by default they are read only when the title names another
// sheet or none. `always` reads every label, to measure how legible each
// is. Process-wide; set it before readings start.
enum class LabelReading { whenNeeded, always };
void SetLabelReading(LabelReading mode) noexcept;
LabelReading CurrentLabelReading() noexcept;

// Reads the crops (cut by Cut) with Tesseract and fills what was read.
// Never throws for what it cannot read: an engine that cannot start leaves
// the reading not attempted, with the reason.
SheetReading ReadCrops(const std::vector<TextCrop>& crops, const std::vector<cv::Mat>& cut);

// The windows of the scan (plane frame, clipped to an image of the given
// size) that hold a sheet's crops, for corners known to within
// slackPixels: read them along with anything else read at full resolution.
std::vector<cv::Rect> ReadingWindows(int sheetNumber, const std::array<PlanePoint, 4>& sheetCorners,
                                     double slackPixels, const cv::Size& image);

// The reading of a sheet whose neat line's corners are known (LD, LH, PH,
// PD of the sheet, plane frame), from the pixels of its ReadingWindows: the
// title first, then the corner labels as LabelReading says.
SheetReading ReadSheet(int sheetNumber, const std::array<PlanePoint, 4>& sheetCorners,
                       const std::vector<cv::Rect>& windows, const std::vector<cv::Mat>& pixels);

}  // namespace georef::corners
