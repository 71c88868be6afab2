#pragma once
// Writes an 8-bit RGB image as PNG, with the settings of a picture a person
// looks at once: no row filter and libdeflate's fastest level. For the noisy
// scans of the corner pictures, filtering rows costs as much as compressing
// them and makes the file no smaller. libpng writes the file's chunks; the
// image data is compressed by libdeflate beforehand, in one piece.

#include <cstdio>

#include <opencv2/core.hpp>

namespace georef::corners {

// rgb: CV_8UC3, channels in R, G, B order, rows top first. The stream stays
// open and owned by the caller. Throws georef::Failure with libpng's
// reason when the image cannot be written.
void WriteRgbPng(std::FILE* stream, const cv::Mat& rgb);

}  // namespace georef::corners
