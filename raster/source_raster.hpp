#pragma once
// The scanned sheet, read whole through GDAL into three 8-bit planes.
// Plane p holds band p + 1 (red, green, blue); row 0 is the top row of the
// image and sample (column c, row r) is at byte r * width + c (plane frame:
// columns to the right, rows downwards, in scan pixels).
//
// Scans with fewer than three bands are widened to three planes: a band with
// a colour table is expanded through its table, a grey band (with or without
// an alpha band) is copied into all three planes.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace georef::raster {

// The scan cannot be opened or read. what() is a short detail for the run's
// message (the reason GDAL gave, the file name).
class RasterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SourceRaster {
public:
    // Readable bytes after the last sample of every plane, so that a sampler
    // may load 8 bytes at any sample position at once.
    static constexpr int kPlaneSlack = 8;

    SourceRaster();  // registers GDAL's drivers
    ~SourceRaster();  // closes the dataset and releases the planes still held

    SourceRaster(const SourceRaster&) = delete;
    SourceRaster& operator=(const SourceRaster&) = delete;

    // Opens the image read-only and allocates the planes (width * height
    // bytes each, content undefined until ReadBands). Throws RasterError when
    // no GDAL driver reads it, it has no band, a colour table that is not RGB
    // or grey, or width * height does not fit in a 32-bit signed int. An
    // image opened before is closed and released first.
    void Open(const std::string& path);

    // Fills the three planes. An RGB image is read in one call for its first
    // three bands, so that a pixel-interleaved file is decoded once, with
    // GDAL's block cache held small meanwhile. Throws
    // RasterError when a band read fails or the dataset no longer has the
    // size Open found; std::logic_error when nothing is open.
    void ReadBands();

    int Width() const noexcept { return m_width; }    // pixels per row; -1 before Open
    int Height() const noexcept { return m_height; }  // rows; -1 before Open
    const std::uint8_t* Plane(int p) const noexcept { return m_planes[p]; }
    // The three planes for the sampler; null before Open and after FreePlanes.
    const std::uint8_t* const* Planes() const noexcept { return m_planes; }

    void Close() noexcept;       // closes the dataset; the planes stay
    void FreePlanes() noexcept;  // releases the planes

private:
    // How the planes are filled from the dataset's bands.
    enum class Layout { rgb, grey, palette };

    void* m_dataset = nullptr;  // GDALDatasetH, owned
    int m_width = -1;
    int m_height = -1;
    bool m_planesAllocated = false;
    Layout m_layout = Layout::rgb;
    void* m_block = nullptr;  // the three planes and their slack, one CPLMalloc'd block, owned
    std::uint8_t* m_planes[3] = {nullptr, nullptr, nullptr};  // into m_block
};

}  // namespace georef::raster
