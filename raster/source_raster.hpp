#pragma once
// The scanned sheet, read whole through GDAL into three 8-bit planes.
// Plane p holds band p + 1 (red, green, blue); row 0 is the top row of the
// image and sample (column c, row r) is at byte r * width + c.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace georef::raster {

// The scan cannot be opened or read.
class RasterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SourceRaster {
public:
    SourceRaster();  // registers GDAL's drivers
    ~SourceRaster();

    SourceRaster(const SourceRaster&) = delete;
    SourceRaster& operator=(const SourceRaster&) = delete;

    // Opens the image read-only and allocates the planes. Throws RasterError
    // when no GDAL driver reads it or it has no band.
    void Open(const std::string& path);

    // Fills the three planes. Throws RasterError when a band read fails.
    void ReadBands();

    int Width() const noexcept { return m_width; }
    int Height() const noexcept { return m_height; }
    const std::uint8_t* Plane(int p) const noexcept { return m_planes[p]; }

    void Close() noexcept;       // closes the dataset; the planes stay
    void FreePlanes() noexcept;  // releases the planes

private:
    void* m_dataset = nullptr;  // GDALDatasetH
    int m_width = -1;
    int m_height = -1;
    bool m_planesAllocated = false;
    std::uint8_t* m_planes[3] = {nullptr, nullptr, nullptr};
};

}  // namespace georef::raster
