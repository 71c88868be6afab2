#pragma once
// The scanned sheet, read whole through GDAL into memory, pixel-interleaved:
// three bytes per pixel, band 1, 2, 3 (red, green, blue) side by side, rows
// top first with no padding. The sample of band b + 1 at column c, row r is
// at byte 3 * (r * width + c) + b (plane frame: columns to the right, rows
// downwards, in scan pixels). Interleaved, the four neighbours a bilinear
// sample needs lie in two runs of six bytes, one per row.
//
// Scans with fewer than three bands are widened to three: a band with a
// colour table is expanded through its table, a grey band (with or without
// an alpha band) is copied into all three.
//
// Samples of more than 8 bits are brought to 8 bits by their band's range:
// unsigned 16-bit samples by 255 / 65535, a band that declares fewer
// significant bits (NBITS) by 255 / (2^NBITS - 1), rounded to nearest; signed,
// 32-bit and floating-point bands only by a range the file declares (GDAL's
// band minimum and maximum), and are refused without one. 8-bit bands are
// copied as they are.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "gdal_support/dataset_handle.hpp"

namespace georef::raster {

// The scan cannot be opened or read. what() is a short detail for the run's
// message (the reason GDAL gave, the file name).
class RasterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SourceRaster {
public:
    // Readable bytes after the last sample, so that a sampler may load 8
    // bytes at the start of any pixel at once.
    static constexpr int kSampleSlack = 8;

    SourceRaster();  // registers GDAL's drivers
    ~SourceRaster();  // closes the dataset and releases the samples still held

    SourceRaster(const SourceRaster&) = delete;
    SourceRaster& operator=(const SourceRaster&) = delete;

    // Opens the image read-only and allocates the samples (width * height *
    // 3 bytes and the slack, content undefined until ReadBands). Throws
    // RasterError when no GDAL driver reads it, it has no band, a colour
    // table that is not RGB or grey, samples without a range to scale them
    // by, or width * height does not fit in a 32-bit signed int;
    // std::bad_alloc when the samples do not fit in memory. An image opened
    // before is closed and released first.
    void Open(const std::string& path);

    // Fills the samples. An 8-bit RGB image is read in one call for its first
    // three bands straight into the interleaved layout, so that a
    // pixel-interleaved file is decoded once and copied without reordering,
    // with GDAL's block cache held small meanwhile. Throws RasterError when a
    // band read fails, when GDAL reports an error or a damaged-data warning
    // while reading (a JPEG cut short: its missing part would come out grey),
    // or when the dataset no longer has the size Open found; std::logic_error
    // when nothing is open.
    void ReadBands();

    // The orientation the file states for showing the picture (EXIF or TIFF
    // orientation 1 to 8; 2 to 8 mean flipped or rotated), 0 when it states
    // none. The samples are always those of the stored orientation.
    int StoredOrientation() const noexcept { return m_orientation; }

    int Width() const noexcept { return m_width; }    // pixels per row; -1 before Open
    int Height() const noexcept { return m_height; }  // rows; -1 before Open
    // The interleaved samples (3 * Width() bytes per row, then
    // kSampleSlack readable bytes); null before Open and after FreePlanes.
    const std::uint8_t* Pixels() const noexcept { return m_pixels; }
    // Sample of band `band` + 1 (0 red, 1 green, 2 blue) at column, row.
    // Needs the samples and 0 <= band < 3, 0 <= column < Width(),
    // 0 <= row < Height().
    std::uint8_t Sample(int band, int column, int row) const noexcept {
        return m_pixels[3 * (static_cast<std::size_t>(row) * static_cast<std::size_t>(m_width) +
                             static_cast<std::size_t>(column)) +
                        static_cast<std::size_t>(band)];
    }

    void Close() noexcept;       // closes the dataset; the samples stay
    void FreePlanes() noexcept;  // releases the samples

    // The range of a band's samples that is mapped onto 0 .. 255.
    struct SampleRange {
        double low = 0.0;
        double high = 255.0;
    };

private:
    // How the samples are filled from the dataset's bands.
    enum class Layout { rgb, grey, palette };

    void ReadBytes(long long lineBytes);
    void ReadScaled(int bandCount);

    gdal_support::DatasetHandle m_dataset;
    int m_width = -1;
    int m_height = -1;
    bool m_planesAllocated = false;
    Layout m_layout = Layout::rgb;
    bool m_scaled = false;              // some band is not plain 8-bit: read through m_ranges
    SampleRange m_ranges[3];            // per band read (1 to 3)
    bool m_sixteenBits = true;          // every band read is unsigned and fits in 16 bits
    int m_orientation = 0;
    std::uint8_t* m_pixels = nullptr;  // interleaved samples and slack, CPLMalloc'd, owned
};

}  // namespace georef::raster
