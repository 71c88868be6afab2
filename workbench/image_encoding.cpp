#include "workbench/image_encoding.hpp"

#include <gdal.h>
#include <cpl_string.h>
#include <cpl_vsi.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace georef::workbench {

namespace {

struct DatasetCloser {
    void operator()(void* dataset) const noexcept { GDALClose(static_cast<GDALDatasetH>(dataset)); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// A name in GDAL's in-memory file system that no other thread uses.
std::string MemoryName(const char* extension) {
    static std::atomic<unsigned long> counter{0};
    return "/vsimem/georef-review-" + std::to_string(++counter) + extension;
}

std::string Encode(const RgbImage& image, const char* driverName, const char* extension, char** options) {
    GDALAllRegister();
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
        throw std::runtime_error("no image to encode");
    }
    const GDALDriverH memory = GDALGetDriverByName("MEM");
    const GDALDriverH driver = GDALGetDriverByName(driverName);
    if (memory == nullptr || driver == nullptr) {
        throw std::runtime_error(std::string("GDAL has no ") + driverName + " driver");
    }
    const Dataset source(GDALCreate(memory, "", image.width, image.height, 3, GDT_Byte, nullptr));
    if (!source) {
        throw std::runtime_error("GDAL cannot hold the image");
    }
    // The pixels go in band-interleaved by pixel, as they are held.
    std::uint8_t* pixels = const_cast<std::uint8_t*>(image.pixels.data());
    int bands[3] = {1, 2, 3};
    if (GDALDatasetRasterIO(static_cast<GDALDatasetH>(source.get()), GF_Write, 0, 0, image.width, image.height,
                            pixels, image.width, image.height, GDT_Byte, 3, bands, 3, 3 * image.width,
                            1) != CE_None) {
        throw std::runtime_error("GDAL cannot hold the image");
    }
    const std::string name = MemoryName(extension);
    {
        const Dataset written(
            GDALCreateCopy(driver, name.c_str(), static_cast<GDALDatasetH>(source.get()), FALSE, options, nullptr, nullptr));
        if (!written) {
            VSIUnlink(name.c_str());
            throw std::runtime_error(std::string("GDAL cannot encode the image as ") + driverName);
        }
    }
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(name.c_str(), &length, FALSE);
    std::string result(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    VSIUnlink(name.c_str());
    VSIUnlink((name + ".aux.xml").c_str());
    return result;
}

}  // namespace

std::string EncodeJpeg(const RgbImage& image, int quality) {
    const std::string value = "QUALITY=" + std::to_string(quality);
    const char* options[] = {value.c_str(), nullptr};
    return Encode(image, "JPEG", ".jpg", const_cast<char**>(options));
}

std::string EncodePng(const RgbImage& image) {
    const char* options[] = {"ZLEVEL=1", nullptr};
    return Encode(image, "PNG", ".png", const_cast<char**>(options));
}

}  // namespace georef::workbench
