#include "raster/source_raster.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>

namespace georef::raster {

namespace {

// While alive, GDAL's errors and warnings are recorded but not printed: a
// failure reaches the run as a RasterError carrying GDAL's last message, and
// the run prints it once in its own words.
class QuietGdalErrors {
public:
    QuietGdalErrors() noexcept {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

// GDAL's last error message, or a fallback when it gave none.
std::string LastGdalMessage(const char* fallback) {
    const char* message = CPLGetLastErrorMsg();
    return (message != nullptr && message[0] != '\0') ? std::string(message) : std::string(fallback);
}

GDALDatasetH Dataset(void* handle) noexcept { return static_cast<GDALDatasetH>(handle); }

// GDAL's block cache while the image is read: enough for the blocks of a
// few rows of any tiled or striped file, far below GDAL's default of 5 % of
// the machine's memory, which would otherwise keep a decoded copy of the
// whole scan beside the samples.
constexpr GIntBig kReadCacheBytes = 32 * 1024 * 1024;

// Palette indices are read in strips of about this many bytes.
constexpr std::size_t kIndexStripBytes = 8 * 1024 * 1024;

// Bytes of the interleaved samples, without the slack.
std::size_t SampleBytes(int width, int height) noexcept {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
}

// Lowers GDAL's cache limit while alive (never raises it) and restores it.
class CacheLimit {
public:
    explicit CacheLimit(GIntBig bytes) noexcept : m_previous(GDALGetCacheMax64()) {
        if (bytes < m_previous) {
            GDALSetCacheMax64(bytes);
        }
    }
    ~CacheLimit() { GDALSetCacheMax64(m_previous); }
    CacheLimit(const CacheLimit&) = delete;
    CacheLimit& operator=(const CacheLimit&) = delete;

private:
    GIntBig m_previous;
};

// One colour per palette index, 0 0 0 for indices the table does not cover.
struct Palette {
    std::vector<std::array<std::uint8_t, 3>> colours;
};

Palette ReadPalette(GDALColorTableH table) {
    const GDALPaletteInterp interpretation = GDALGetPaletteInterpretation(table);
    if (interpretation != GPI_RGB && interpretation != GPI_Gray) {
        throw RasterError(std::string("colour table of type ") +
                          GDALGetPaletteInterpretationName(interpretation) + " is not supported");
    }
    Palette palette;
    const int count = GDALGetColorEntryCount(table);
    palette.colours.resize(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        const GDALColorEntry* entry = GDALGetColorEntry(table, i);
        if (entry == nullptr) {
            continue;
        }
        // Entries of a grey table hold the grey value in c1; c4 (alpha) is ignored.
        const auto clamp = [](short v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
        const std::uint8_t r = clamp(entry->c1);
        const std::uint8_t g = interpretation == GPI_RGB ? clamp(entry->c2) : r;
        const std::uint8_t b = interpretation == GPI_RGB ? clamp(entry->c3) : r;
        palette.colours[static_cast<std::size_t>(i)] = {r, g, b};
    }
    return palette;
}

// Reads rows firstRow .. firstRow + rows - 1 of the band into buffer (width
// samples of the given type per row, rows top first), pixelSpacing bytes
// from one sample to the next (0: the type's size) and lineSpacing bytes
// from one row to the next (0: width samples). Throws RasterError with
// GDAL's reason.
void ReadBandRows(GDALDatasetH dataset, int bandNumber, int width, int firstRow, int rows, void* buffer,
                  GDALDataType type, GSpacing pixelSpacing, GSpacing lineSpacing) {
    GDALRasterBandH band = GDALGetRasterBand(dataset, bandNumber);
    if (band == nullptr) {
        throw RasterError("band " + std::to_string(bandNumber) + " is missing");
    }
    const CPLErr result = GDALRasterIOEx(band, GF_Read, 0, firstRow, width, rows, buffer, width, rows, type,
                                         pixelSpacing, lineSpacing, nullptr);
    if (result != CE_None) {
        throw RasterError("cannot read band " + std::to_string(bandNumber) + ": " +
                          LastGdalMessage("read error"));
    }
}

}  // namespace

SourceRaster::SourceRaster() {
    GDALAllRegister();
}

SourceRaster::~SourceRaster() {
    Close();
    FreePlanes();
}

void SourceRaster::Open(const std::string& path) {
    Close();
    FreePlanes();
    m_width = -1;
    m_height = -1;

    const QuietGdalErrors quiet;
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    if (dataset == nullptr) {
        throw RasterError(LastGdalMessage("no driver reads this file"));
    }
    m_dataset = dataset;

    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    const int bands = GDALGetRasterCount(dataset);
    if (bands < 1) {
        Close();
        throw RasterError("the image has no raster band");
    }
    if (width < 1 || height < 1) {
        Close();
        throw RasterError("the image is empty");
    }
    // Pixel indices are 32-bit signed ints (row * width + column), so the
    // whole image must stay below 2^31 pixels.
    if (static_cast<long long>(width) * height > INT_MAX) {
        Close();
        throw RasterError("the image has too many pixels (" + std::to_string(width) + " x " +
                          std::to_string(height) + ")");
    }

    m_layout = Layout::rgb;
    if (bands < 3) {
        GDALRasterBandH first = GDALGetRasterBand(dataset, 1);
        GDALColorTableH table = first != nullptr ? GDALGetRasterColorTable(first) : nullptr;
        m_layout = table != nullptr ? Layout::palette : Layout::grey;
        if (table != nullptr) {
            try {
                ReadPalette(table);  // reject unsupported tables before anything is allocated
            } catch (...) {
                Close();
                throw;
            }
        }
    }

    m_width = width;
    m_height = height;
    const std::size_t bytes = SampleBytes(width, height);
    m_pixels = static_cast<std::uint8_t*>(CPLMalloc(bytes + kSampleSlack));
    std::memset(m_pixels + bytes, 0, kSampleSlack);
    m_planesAllocated = true;
}

void SourceRaster::ReadBands() {
    if (m_dataset == nullptr || !m_planesAllocated) {
        throw std::logic_error("SourceRaster::ReadBands without an open image");
    }
    GDALDatasetH dataset = Dataset(m_dataset);
    const QuietGdalErrors quiet;
    if (GDALGetRasterXSize(dataset) != m_width || GDALGetRasterYSize(dataset) != m_height) {
        throw RasterError("the image changed its size while open");
    }
    const CacheLimit limit(kReadCacheBytes);
    const GSpacing lineBytes = 3 * static_cast<GSpacing>(m_width);

    switch (m_layout) {
    case Layout::rgb: {
        // Bands 1 to 3 in one call, straight into the interleaved layout:
        // a pixel-interleaved file is decoded once and copied as it is, and
        // the cache only has to hold the blocks of the rows being read.
        int bands[3] = {1, 2, 3};
        const CPLErr result = GDALDatasetRasterIOEx(dataset, GF_Read, 0, 0, m_width, m_height, m_pixels, m_width,
                                                    m_height, GDT_Byte, 3, bands, 3, lineBytes, 1, nullptr);
        if (result != CE_None) {
            throw RasterError("cannot read the image: " + LastGdalMessage("read error"));
        }
        break;
    }
    case Layout::grey: {
        // Band 1 into the red bytes, then copied to green and blue.
        ReadBandRows(dataset, 1, m_width, 0, m_height, m_pixels, GDT_Byte, 3, lineBytes);
        const std::size_t pixels = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height);
        for (std::size_t k = 0; k < pixels; ++k) {
            std::uint8_t* const pixel = m_pixels + 3 * k;
            pixel[1] = pixel[0];
            pixel[2] = pixel[0];
        }
        break;
    }
    case Layout::palette: {
        GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
        const Palette palette = ReadPalette(GDALGetRasterColorTable(band));
        // Indices are read as 16 bits so that tables of more than 256
        // entries (UInt16 bands) expand correctly, a strip of rows at a time
        // so that they need little memory beside the samples.
        const std::size_t rowBytes = static_cast<std::size_t>(m_width) * sizeof(std::uint16_t);
        const int stripRows = static_cast<int>(std::max<std::size_t>(1, kIndexStripBytes / rowBytes));
        std::vector<std::uint16_t> indices(static_cast<std::size_t>(m_width) *
                                           static_cast<std::size_t>(std::min(stripRows, m_height)));
        const std::size_t count = palette.colours.size();
        for (int firstRow = 0; firstRow < m_height; firstRow += stripRows) {
            const int rows = std::min(stripRows, m_height - firstRow);
            ReadBandRows(dataset, 1, m_width, firstRow, rows, indices.data(), GDT_UInt16, 0, 0);
            std::uint8_t* const first =
                m_pixels + static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(lineBytes);
            const std::size_t samples = static_cast<std::size_t>(rows) * static_cast<std::size_t>(m_width);
            for (std::size_t k = 0; k < samples; ++k) {
                const std::size_t index = indices[k];
                const std::array<std::uint8_t, 3> colour =
                    index < count ? palette.colours[index] : std::array<std::uint8_t, 3>{0, 0, 0};
                std::memcpy(first + 3 * k, colour.data(), 3);
            }
        }
        break;
    }
    }
}

void SourceRaster::Close() noexcept {
    if (m_dataset != nullptr) {
        GDALClose(Dataset(m_dataset));
        m_dataset = nullptr;
    }
}

void SourceRaster::FreePlanes() noexcept {
    VSIFree(m_pixels);
    m_pixels = nullptr;
    m_planesAllocated = false;
}

}  // namespace georef::raster
