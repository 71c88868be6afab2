#include "support/raster/scan_file.hpp"

#include <cmath>
#include <stdexcept>
#include <vector>

#include <cpl_string.h>
#include <gdal.h>

namespace georef::test {

namespace {

class Dataset {
public:
    explicit Dataset(GDALDatasetH handle) : m_handle(handle) {
        if (m_handle == nullptr) {
            throw std::runtime_error("GDAL cannot create the scan");
        }
    }
    ~Dataset() { GDALClose(m_handle); }
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;
    GDALDatasetH Get() const noexcept { return m_handle; }

private:
    GDALDatasetH m_handle;
};

class Options {
public:
    Options() = default;
    ~Options() { CSLDestroy(m_list); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    void Set(const char* key, const char* value) { m_list = CSLSetNameValue(m_list, key, value); }
    char** Get() const noexcept { return m_list; }

private:
    char** m_list = nullptr;
};

GDALDriverH Driver(const char* name) {
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName(name);
    if (driver == nullptr) {
        throw std::runtime_error(std::string("GDAL has no driver ") + name);
    }
    return driver;
}

GDALDataType GdalType(SampleType type) {
    switch (type) {
    case SampleType::byte: return GDT_Byte;
    case SampleType::uint16:
    case SampleType::uint16Nbits12: return GDT_UInt16;
    case SampleType::float32: return GDT_Float32;
    case SampleType::int16: return GDT_Int16;
    }
    return GDT_Byte;
}

// The stored value of an 8-bit sample in the given type.
double StoredValue(std::uint8_t v, SampleType type) {
    switch (type) {
    case SampleType::byte:
    case SampleType::int16: return v;
    case SampleType::uint16: return v * 257.0;
    case SampleType::uint16Nbits12: return std::floor(v * 4095.0 / 255.0 + 0.5);
    case SampleType::float32: return v / 255.0;
    }
    return v;
}

void SetMetadata(GDALMajorObjectH object, const std::vector<std::string>& items) {
    for (const std::string& item : items) {
        const std::size_t equals = item.find('=');
        GDALSetMetadataItem(object, item.substr(0, equals).c_str(), item.substr(equals + 1).c_str(), nullptr);
    }
}

void FillBands(GDALDatasetH dataset, int width, int height, const BandSample& sample, const ScanOptions& options) {
    std::vector<double> plane(static_cast<std::size_t>(width) * height);
    for (int b = 1; b <= options.bands; ++b) {
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                plane[static_cast<std::size_t>(r) * width + c] = StoredValue(sample(b, c, r), options.type);
            }
        }
        GDALRasterBandH band = GDALGetRasterBand(dataset, b);
        if (GDALRasterIO(band, GF_Write, 0, 0, width, height, plane.data(), width, height, GDT_Float64, 0, 0) !=
            CE_None) {
            throw std::runtime_error("GDAL cannot write band " + std::to_string(b));
        }
        SetMetadata(band, options.bandMetadata);
    }
    SetMetadata(dataset, options.datasetMetadata);
    if (!options.colourTable.empty()) {
        GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
        for (std::size_t i = 0; i < options.colourTable.size(); ++i) {
            const Rgb& colour = options.colourTable[i];
            const GDALColorEntry entry{colour.r, colour.g, colour.b, 255};
            GDALSetColorEntry(table, static_cast<int>(i), &entry);
        }
        const CPLErr result = GDALSetRasterColorTable(GDALGetRasterBand(dataset, 1), table);
        GDALDestroyColorTable(table);
        if (result != CE_None) {
            throw std::runtime_error("GDAL cannot set the colour table");
        }
    }
}

}  // namespace

void WriteScan(const std::string& path, int width, int height, const BandSample& sample,
               const ScanOptions& options) {
    const GDALDataType type = GdalType(options.type);
    if (options.format == ScanFormat::gtiff) {
        Options creation;
        if (options.colourTable.empty() && options.bands >= 3) {
            creation.Set("PHOTOMETRIC", "RGB");
        }
        if (options.colourTable.empty() && options.bands == 4) {
            creation.Set("ALPHA", "YES");
        }
        if (options.type == SampleType::uint16Nbits12) {
            creation.Set("NBITS", "12");
        }
        Dataset dataset(GDALCreate(Driver("GTiff"), path.c_str(), width, height, options.bands, type,
                                   creation.Get()));
        FillBands(dataset.Get(), width, height, sample, options);
        return;
    }
    if (!options.colourTable.empty()) {
        throw std::invalid_argument("colour tables are written to GTiff scans only");
    }
    Dataset memory(GDALCreate(Driver("MEM"), "", width, height, options.bands, type, nullptr));
    FillBands(memory.Get(), width, height, sample, options);
    Options creation;
    if (options.format == ScanFormat::jpeg) {
        creation.Set("QUALITY", "95");
    }
    const char* driver = options.format == ScanFormat::jpeg ? "JPEG" : "PNG";
    Dataset copy(GDALCreateCopy(Driver(driver), path.c_str(), memory.Get(), FALSE, creation.Get(), nullptr,
                                nullptr));
}

}  // namespace georef::test
