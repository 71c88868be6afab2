#include "support/raster/scan_file.hpp"

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

void FillBands(GDALDatasetH dataset, int width, int height, int bands, const BandSample& sample,
               const std::vector<Rgb>& colourTable) {
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * height);
    for (int b = 1; b <= bands; ++b) {
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                plane[static_cast<std::size_t>(r) * width + c] = sample(b, c, r);
            }
        }
        GDALRasterBandH band = GDALGetRasterBand(dataset, b);
        if (GDALRasterIO(band, GF_Write, 0, 0, width, height, plane.data(), width, height, GDT_Byte, 0, 0) !=
            CE_None) {
            throw std::runtime_error("GDAL cannot write band " + std::to_string(b));
        }
    }
    if (!colourTable.empty()) {
        GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
        for (std::size_t i = 0; i < colourTable.size(); ++i) {
            const GDALColorEntry entry{colourTable[i].r, colourTable[i].g, colourTable[i].b, 255};
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
    if (options.format == ScanFormat::gtiff) {
        Options creation;
        if (options.colourTable.empty() && options.bands >= 3) {
            creation.Set("PHOTOMETRIC", "RGB");
        }
        if (options.colourTable.empty() && options.bands == 4) {
            creation.Set("ALPHA", "YES");
        }
        Dataset dataset(GDALCreate(Driver("GTiff"), path.c_str(), width, height, options.bands, GDT_Byte,
                                   creation.Get()));
        FillBands(dataset.Get(), width, height, options.bands, sample, options.colourTable);
        return;
    }
    if (!options.colourTable.empty()) {
        throw std::invalid_argument("colour tables are written to GTiff scans only");
    }
    Dataset memory(GDALCreate(Driver("MEM"), "", width, height, options.bands, GDT_Byte, nullptr));
    FillBands(memory.Get(), width, height, options.bands, sample, options.colourTable);
    Options creation;
    creation.Set("QUALITY", "95");
    Dataset copy(GDALCreateCopy(Driver("JPEG"), path.c_str(), memory.Get(), FALSE, creation.Get(), nullptr,
                                nullptr));
}

}  // namespace georef::test
