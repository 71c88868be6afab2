#pragma once
// One scan held in memory for the corner editor: read once through GDAL
// (a JPEG is decoded in one pass), then reduced for the window and cut into
// crops at full resolution as often as the page asks, each in well under a
// frame's time. Frame: plane pixels, column from the left and row from the
// top. A 300 dpi sheet holds about 180 MiB of pixels.

#include <string>
#include <utility>

#include "workbench/image_encoding.hpp"

namespace georef::workbench {

class ScanView {
public:
    // Reads the whole scan. Throws std::runtime_error naming the scan when
    // GDAL cannot read it or it is no 8-bit grey or RGB image.
    explicit ScanView(const std::string& path);

    // Width and height of the scan at path, pixels, from its header (nothing
    // decoded). Throws std::runtime_error naming the scan when GDAL cannot
    // open it.
    static std::pair<int, int> SizeOf(const std::string& path);

    int Width() const noexcept { return m_image.width; }
    int Height() const noexcept { return m_image.height; }
    const std::string& Path() const noexcept { return m_path; }

    // The whole scan averaged down by the smallest whole factor that brings
    // both sides within maxSide pixels, as JPEG. factor receives it.
    std::string Reduced(int maxSide, int& factor) const;

    // size x size pixels of the scan from (column, row), at full
    // resolution, as PNG; what lies outside the scan is mid grey.
    std::string Crop(int column, int row, int size) const;

private:
    std::string m_path;
    RgbImage m_image;
};

}  // namespace georef::workbench
