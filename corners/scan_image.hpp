#pragma once
// The scan as the corner finder reads it through GDAL: a reduced copy of the
// whole image for the search, and full-resolution windows for the
// refinement, read in one pass from the top so that a JPEG is decoded once.
// Frame: plane pixels, column c from the left and row r from the top, the
// centre of pixel (c, r) at (c, r).

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "gdal_support/dataset_handle.hpp"

namespace georef::corners {

class ScanImage {
public:
    // Opens the scan. Throws georef::Failure with the reason when GDAL
    // cannot read it, or when it is no 8-bit grey or RGB image of a size the
    // finder can work on.
    explicit ScanImage(const std::string& path);
    // The scan at path as already decoded by its caller (the batch, which
    // decodes it once for the finder, the corner picture and the run):
    // pixel-interleaved RGB, 3 * width bytes per row, rows top first, not
    // owned and kept alive by the caller while this object is. Reads come
    // from memory (a reduced copy by block averages); the stated resolution
    // is read from the file's header. Throws georef::Failure like the first
    // form when the file is no image or the size unworkable.
    ScanImage(const std::string& path, const std::uint8_t* rgb, int width, int height);
    ScanImage(const ScanImage&) = delete;
    ScanImage& operator=(const ScanImage&) = delete;

    int Width() const noexcept { return m_width; }
    int Height() const noexcept { return m_height; }
    const std::string& Path() const noexcept { return m_path; }

    // The resolution the file states (TIFF tags, JFIF density), pixels per
    // inch; empty when it states none or only an aspect ratio.
    std::optional<double> StatedDpi() const noexcept { return m_statedDpi; }

    // The whole image reduced by factor (block averages; a JPEG is decoded
    // at the reduced scale), as 8-bit RGB (CV_8UC3, grey scans repeated).
    // Reduced pixel (i, j) covers plane pixels [i f, (i + 1) f) x [j f, (j + 1) f).
    // From memory, the copy last reduced from the full image is kept, and
    // a factor that is a multiple of its factor is reduced from it (the
    // picture after the search): block averages of block averages, equal
    // to within a level. The copy returned from the full image shares its
    // pixels with the one kept: read it, draw on a copy.
    cv::Mat ReadReduced(int factor) const;
    // The factor of the copy kept from the full image; 0 when none is kept.
    int KeptReduction() const;

    // Full-resolution RGB (CV_8UC3) copies of the given windows, clipped to
    // the image, read in one pass from top to bottom, strip by strip
    // straight into the windows, so memory stays at the windows (and GDAL's
    // cache of a few strips).
    std::vector<cv::Mat> ReadWindows(const std::vector<cv::Rect>& windows) const;

private:
    void Read(int column, int row, int width, int height, cv::Mat& rgb) const;

    std::string m_path;
    gdal_support::DatasetHandle m_dataset;  // empty when reading from memory
    int m_width = 0;
    int m_height = 0;
    int m_bands = 0;  // bands read: 1 (grey) or 3 (RGB)
    const std::uint8_t* m_memory = nullptr;  // the decoded scan, when given; not owned
    // From memory: the last copy reduced from the full image, and its factor.
    mutable std::mutex m_reducedMutex;
    mutable cv::Mat m_reduced;
    mutable int m_reducedFactor = 0;
    std::optional<double> m_statedDpi;
};

// Luminance of an RGB image (CV_8UC3 -> CV_8UC1).
cv::Mat Luminance(const cv::Mat& rgb);

// Averages of factor x factor blocks of a CV_8UC3 image whose size is
// rgb's times factor, into rgb: the same pixels as cv::resize with
// INTER_AREA gives, in one pass without its table of offsets per block.
// factor >= 3 (for 2 that resize rounds otherwise).
void ReduceByBlocks(const cv::Mat& window, int factor, cv::Mat& rgb);

}  // namespace georef::corners
