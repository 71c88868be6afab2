#include "raster/source_raster.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include "gdal_support/quiet_errors.hpp"

namespace georef::raster {

namespace {

// While alive, keeps the first sign of damage GDAL reports, without printing
// anything: any error, and any warning that says the data are damaged. Some
// drivers only warn where data are missing and go on with invented samples
// (the JPEG driver paints the part of a file cut short grey); the JPEG
// driver is also told to fail on such warnings, so that it stops at once.
class GdalDamageLog {
public:
    GdalDamageLog() noexcept {
        CPLPushErrorHandlerEx(Record, this);
        CPLErrorReset();
        const char* previous = CPLGetThreadLocalConfigOption(kJpegWarningOption, nullptr);
        m_hadPrevious = previous != nullptr;
        if (m_hadPrevious) {
            m_previous = previous;
        }
        CPLSetThreadLocalConfigOption(kJpegWarningOption, "TRUE");
    }
    ~GdalDamageLog() {
        CPLSetThreadLocalConfigOption(kJpegWarningOption, m_hadPrevious ? m_previous.c_str() : nullptr);
        CPLPopErrorHandler();
    }
    GdalDamageLog(const GdalDamageLog&) = delete;
    GdalDamageLog& operator=(const GdalDamageLog&) = delete;

    // The first error or damage warning, empty when there was none.
    const std::string& Damage() const noexcept { return m_damage; }

private:
    static constexpr const char* kJpegWarningOption = "GDAL_ERROR_ON_LIBJPEG_WARNING";

    static void CPL_STDCALL Record(CPLErr level, CPLErrorNum, const char* message) {
        GdalDamageLog* log = static_cast<GdalDamageLog*>(CPLGetErrorHandlerUserData());
        const std::string text = message != nullptr ? message : "";
        if (log == nullptr || !log->m_damage.empty()) {
            return;
        }
        if (level == CE_Failure || level == CE_Fatal || (level == CE_Warning && SaysDataAreDamaged(text))) {
            log->m_damage = text.empty() ? std::string("read error") : text;
        }
    }

    // Warnings of the codecs that mean missing or wrong samples ("Premature
    // end of JPEG file", "Corrupt JPEG data: ...", "... truncated ...").
    // Other warnings (an unknown tag, a colour profile) leave the samples
    // as they are.
    static bool SaysDataAreDamaged(std::string text) {
        for (char& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        for (const char* sign : {"premature end", "corrupt", "truncat", "libjpeg", "jpeglib"}) {
            if (text.find(sign) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::string m_damage;
    std::string m_previous;
    bool m_hadPrevious = false;
};

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
                          gdal_support::LastMessage("read error"));
    }
}

// The number an IMAGE_STRUCTURE metadata item of the band holds, 0 when
// it has none.
int BandStructureNumber(GDALRasterBandH band, const char* item) {
    const char* value = GDALGetMetadataItem(band, item, "IMAGE_STRUCTURE");
    return value != nullptr ? std::atoi(value) : 0;
}

// The range GDAL reports for the band when the file declares one (a valid
// range, stored minimum and maximum); empty otherwise.
std::optional<SourceRaster::SampleRange> DeclaredRange(GDALRasterBandH band) {
    int haveLow = FALSE;
    int haveHigh = FALSE;
    const double low = GDALGetRasterMinimum(band, &haveLow);
    const double high = GDALGetRasterMaximum(band, &haveHigh);
    if (!haveLow || !haveHigh || !std::isfinite(low) || !std::isfinite(high) || !(high > low)) {
        return std::nullopt;
    }
    return SourceRaster::SampleRange{low, high};
}

// True for bytes the file declares signed (GDAL 3.6 holds them as GDT_Byte).
bool IsSignedByte(GDALRasterBandH band) {
    const char* pixelType = GDALGetMetadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
    return GDALGetRasterDataType(band) == GDT_Byte && pixelType != nullptr && std::string(pixelType) == "SIGNEDBYTE";
}

// How the samples of a band become bytes: empty for plain 8-bit samples,
// which are copied as they are, otherwise the range mapped onto 0 .. 255.
// Throws RasterError for samples no range can be found for.
std::optional<SourceRaster::SampleRange> RangeOfBand(GDALDatasetH dataset, int bandNumber) {
    GDALRasterBandH band = GDALGetRasterBand(dataset, bandNumber);
    if (band == nullptr) {
        throw RasterError("band " + std::to_string(bandNumber) + " is missing");
    }
    const GDALDataType type = GDALGetRasterDataType(band);
    const int typeBits = GDALGetDataTypeSizeBits(type);
    const int nbits = BandStructureNumber(band, "NBITS");
    const bool signedByte = IsSignedByte(band);
    const bool unsignedInteger = (type == GDT_Byte && !signedByte) || type == GDT_UInt16 || type == GDT_UInt32;
    // Fewer significant bits than the storage holds: the band's own range.
    if (unsignedInteger && nbits >= 1 && nbits < typeBits) {
        return SourceRaster::SampleRange{0.0, std::ldexp(1.0, nbits) - 1.0};
    }
    if (type == GDT_Byte && !signedByte) {
        return std::nullopt;
    }
    if (type == GDT_UInt16) {
        return SourceRaster::SampleRange{0.0, 65535.0};
    }
    if (!GDALDataTypeIsComplex(type)) {
        if (const std::optional<SourceRaster::SampleRange> declared = DeclaredRange(band)) {
            return declared;
        }
    }
    const std::string name = signedByte ? std::string("signed 8-bit") : std::string(GDALGetDataTypeName(type));
    throw RasterError("band " + std::to_string(bandNumber) + " holds " + name +
                      " samples and the file declares no range for them (no NBITS, no minimum and maximum); "
                      "save the scan with 8 or 16 bits per sample");
}

// True when the band's samples are unsigned and fit in 16 bits, so that
// they can be read as such and looked up in a table.
bool FitsSixteenBits(GDALDatasetH dataset, int bandNumber) {
    GDALRasterBandH band = GDALGetRasterBand(dataset, bandNumber);
    const GDALDataType type = GDALGetRasterDataType(band);
    return type == GDT_UInt16 || (type == GDT_Byte && !IsSignedByte(band));
}

// A sample of a band's range as a byte: (value - low) * 255 / (high - low),
// rounded to nearest and held to 0 .. 255; not a number gives 0.
std::uint8_t ScaledSample(double value, const SourceRaster::SampleRange& range) noexcept {
    const double scaled = std::floor((value - range.low) * 255.0 / (range.high - range.low) + 0.5);
    if (!(scaled > 0.0)) {
        return 0;
    }
    return scaled >= 255.0 ? 255 : static_cast<std::uint8_t>(scaled);
}

// The EXIF orientation of the file (1 to 8), 0 when it states none.
int OrientationOf(GDALDatasetH dataset) {
    const char* value = GDALGetMetadataItem(dataset, "EXIF_Orientation", nullptr);
    const int orientation = value != nullptr ? std::atoi(value) : 0;
    return orientation >= 1 && orientation <= 8 ? orientation : 0;
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
    m_orientation = 0;

    const gdal_support::QuietErrors quiet;
    // Scans lie by the thousand in one folder: not listed at each open.
    m_dataset = gdal_support::OpenWithoutListing(path);
    if (!m_dataset) {
        throw RasterError(gdal_support::LastMessage("no driver reads this file"));
    }
    GDALDatasetH dataset = m_dataset.get();

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
    m_scaled = false;
    m_sixteenBits = true;
    try {
        if (bands < 3) {
            GDALRasterBandH first = GDALGetRasterBand(dataset, 1);
            GDALColorTableH table = first != nullptr ? GDALGetRasterColorTable(first) : nullptr;
            m_layout = table != nullptr ? Layout::palette : Layout::grey;
            if (table != nullptr) {
                ReadPalette(table);  // reject unsupported tables before anything is allocated
            }
        }
        // Samples of more than 8 bits are refused here, before anything is
        // allocated, when there is no range to bring them to 8 bits by.
        if (m_layout != Layout::palette) {
            const int read = m_layout == Layout::rgb ? 3 : 1;
            for (int b = 0; b < read; ++b) {
                const std::optional<SampleRange> range = RangeOfBand(dataset, b + 1);
                m_ranges[b] = range.value_or(SampleRange{});
                m_scaled = m_scaled || range.has_value();
                m_sixteenBits = m_sixteenBits && FitsSixteenBits(dataset, b + 1);
            }
        }
    } catch (...) {
        Close();
        throw;
    }
    m_orientation = OrientationOf(dataset);

    // A scan too large for memory is reported, not fatal: the run ends
    // with its own message and nothing written.
    const std::size_t bytes = SampleBytes(width, height);
    m_pixels = static_cast<std::uint8_t*>(VSIMalloc(bytes + kSampleSlack));
    if (m_pixels == nullptr) {
        Close();
        throw std::bad_alloc();
    }
    m_width = width;
    m_height = height;
    std::memset(m_pixels + bytes, 0, kSampleSlack);
    m_planesAllocated = true;
}

void SourceRaster::ReadBands() {
    if (m_dataset == nullptr || !m_planesAllocated) {
        throw std::logic_error("SourceRaster::ReadBands without an open image");
    }
    GDALDatasetH dataset = m_dataset.get();
    const GdalDamageLog damage;
    if (GDALGetRasterXSize(dataset) != m_width || GDALGetRasterYSize(dataset) != m_height) {
        throw RasterError("the image changed its size while open");
    }
    const CacheLimit limit(kReadCacheBytes);
    const GSpacing lineBytes = 3 * static_cast<GSpacing>(m_width);

    if (m_scaled) {
        ReadScaled(m_layout == Layout::rgb ? 3 : 1);
    } else {
        ReadBytes(lineBytes);
    }
    if (!damage.Damage().empty()) {
        throw RasterError("the image is damaged: " + damage.Damage());
    }
}

void SourceRaster::ReadBytes(GSpacing lineBytes) {
    GDALDatasetH dataset = m_dataset.get();
    switch (m_layout) {
    case Layout::rgb: {
        // Bands 1 to 3 in one call, straight into the interleaved layout:
        // a pixel-interleaved file is decoded once and copied as it is, and
        // the cache only has to hold the blocks of the rows being read.
        int bands[3] = {1, 2, 3};
        const CPLErr result = GDALDatasetRasterIOEx(dataset, GF_Read, 0, 0, m_width, m_height, m_pixels, m_width,
                                                    m_height, GDT_Byte, 3, bands, 3, lineBytes, 1, nullptr);
        if (result != CE_None) {
            throw RasterError("cannot read the image: " + gdal_support::LastMessage("read error"));
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

void SourceRaster::ReadScaled(int bandCount) {
    GDALDatasetH dataset = m_dataset.get();
    // Samples are read a strip of rows at a time, pixel-interleaved like the
    // bytes: unsigned samples of up to 16 bits as such and looked up in a
    // table per band (the table holds ScaledSample of every value), others
    // as doubles (exact for every integer type up to 32 bits).
    std::vector<std::array<std::uint8_t, 65536>> tables;
    if (m_sixteenBits) {
        tables.resize(static_cast<std::size_t>(bandCount));
        for (int b = 0; b < bandCount; ++b) {
            for (std::size_t v = 0; v < 65536; ++v) {
                tables[static_cast<std::size_t>(b)][v] = ScaledSample(static_cast<double>(v), m_ranges[b]);
            }
        }
    }
    const GDALDataType readType = m_sixteenBits ? GDT_UInt16 : GDT_Float64;
    const std::size_t valueBytes = m_sixteenBits ? sizeof(std::uint16_t) : sizeof(double);
    const std::size_t rowValues = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(bandCount);
    const int stripRows = static_cast<int>(std::max<std::size_t>(1, kIndexStripBytes / (rowValues * valueBytes)));
    const std::size_t stripValues = rowValues * static_cast<std::size_t>(std::min(stripRows, m_height));
    std::vector<std::uint16_t> words(m_sixteenBits ? stripValues : 0);
    std::vector<double> values(m_sixteenBits ? 0 : stripValues);
    void* const buffer = m_sixteenBits ? static_cast<void*>(words.data()) : static_cast<void*>(values.data());
    int bands[3] = {1, 2, 3};
    const GSpacing sampleSpacing = static_cast<GSpacing>(valueBytes);
    for (int firstRow = 0; firstRow < m_height; firstRow += stripRows) {
        const int rows = std::min(stripRows, m_height - firstRow);
        const CPLErr result =
            GDALDatasetRasterIOEx(dataset, GF_Read, 0, firstRow, m_width, rows, buffer, m_width, rows, readType,
                                  bandCount, bands, sampleSpacing * bandCount,
                                  sampleSpacing * static_cast<GSpacing>(rowValues), sampleSpacing, nullptr);
        if (result != CE_None) {
            throw RasterError("cannot read the image: " + gdal_support::LastMessage("read error"));
        }
        std::uint8_t* const first =
            m_pixels + 3 * static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(m_width);
        const std::size_t pixels = static_cast<std::size_t>(rows) * static_cast<std::size_t>(m_width);
        for (std::size_t k = 0; k < pixels; ++k) {
            std::uint8_t* const pixel = first + 3 * k;
            const std::size_t at = static_cast<std::size_t>(bandCount) * k;
            for (int b = 0; b < 3; ++b) {
                // A grey band goes into all three.
                const int band = bandCount == 3 ? b : 0;
                const std::size_t value = at + static_cast<std::size_t>(band);
                pixel[b] = m_sixteenBits ? tables[static_cast<std::size_t>(band)][words[value]]
                                         : ScaledSample(values[value], m_ranges[band]);
            }
        }
    }
}

void SourceRaster::Close() noexcept {
    m_dataset.reset();
}

void SourceRaster::FreePlanes() noexcept {
    VSIFree(m_pixels);
    m_pixels = nullptr;
    m_planesAllocated = false;
}

}  // namespace georef::raster
