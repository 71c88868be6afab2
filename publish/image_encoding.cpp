#include "publish/image_encoding.hpp"

#include <cpl_vsi.h>
#include <gdal.h>

#include <atomic>
#include <cstdio>

#include "publish/gdal_dataset.hpp"
#include "publish/publish_error.hpp"

namespace georef::publish {

namespace {

// A unique name in GDAL's in-memory file system, removed when it goes.
class MemoryFile {
public:
    explicit MemoryFile(const char* extension) {
        static std::atomic<unsigned long> counter{0};
        m_name = "/vsimem/georef-publish-" + std::to_string(counter++) + extension;
    }
    ~MemoryFile() { VSIUnlink(m_name.c_str()); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const std::string& Name() const noexcept { return m_name; }

    std::vector<std::uint8_t> Bytes() const {
        vsi_l_offset length = 0;
        const GByte* data = VSIGetMemFileBuffer(m_name.c_str(), &length, FALSE);
        if (data == nullptr) {
            throw PublishError("GDAL wrote no image" + GdalReason());
        }
        return std::vector<std::uint8_t>(data, data + length);
    }

private:
    std::string m_name;
};

// An in-memory raster over the caller's pixels (interleaved bytes).
Dataset MemoryRaster(const std::uint8_t* pixels, int width, int height, int bands) {
    GDALDriverH mem = GDALGetDriverByName("MEM");
    if (mem == nullptr) {
        throw PublishError("GDAL has no MEM driver");
    }
    Dataset raster(GDALCreate(mem, "", width, height, bands, GDT_Byte, nullptr));
    if (!raster || GDALDatasetRasterIO(raster.get(), GF_Write, 0, 0, width, height, const_cast<std::uint8_t*>(pixels),
                                       width, height, GDT_Byte, bands, nullptr, bands,
                                       static_cast<GSpacing>(width) * bands, 1) != CE_None) {
        throw PublishError("cannot hold an image of " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels" + GdalReason());
    }
    if (bands == 4) {
        GDALSetRasterColorInterpretation(GDALGetRasterBand(raster.get(), 4), GCI_AlphaBand);
    }
    return raster;
}

std::vector<std::uint8_t> Encode(const Dataset& raster, const char* driverName, const char* extension,
                                 const std::vector<std::string>& options) {
    GDALDriverH driver = GDALGetDriverByName(driverName);
    if (driver == nullptr) {
        throw PublishError(std::string("GDAL has no ") + driverName + " driver");
    }
    std::vector<char*> list;
    for (const std::string& option : options) {
        list.push_back(const_cast<char*>(option.c_str()));
    }
    list.push_back(nullptr);
    MemoryFile file(extension);
    {
        QuietGdal quiet;
        const Dataset written(
            GDALCreateCopy(driver, file.Name().c_str(), raster.get(), FALSE, list.data(), nullptr, nullptr));
        if (!written) {
            throw PublishError(std::string("GDAL cannot encode a ") + driverName + " image" + GdalReason());
        }
    }
    return file.Bytes();
}

}  // namespace

std::vector<std::uint8_t> EncodeJpeg(const std::uint8_t* rgb, int width, int height, int quality) {
    GDALAllRegister();
    const Dataset raster = MemoryRaster(rgb, width, height, 3);
    return Encode(raster, "JPEG", ".jpg", {"QUALITY=" + std::to_string(quality)});
}

std::vector<std::uint8_t> EncodePng(const RgbaImage& image) {
    GDALAllRegister();
    const Dataset raster = MemoryRaster(image.pixels.data(), image.size, image.size, 4);
    return Encode(raster, "PNG", ".png", {});
}

std::vector<std::uint8_t> DecodeRgba(const std::string& path, int& size) {
    QuietGdal quiet;
    const Dataset raster = OpenRaster(path);
    size = 0;
    if (!raster || GDALGetRasterXSize(raster.get()) != GDALGetRasterYSize(raster.get())) {
        return {};
    }
    const int side = GDALGetRasterXSize(raster.get());
    const int bands = GDALGetRasterCount(raster.get());
    if (bands != 3 && bands != 4) {
        return {};
    }
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(side) * side * 4, 255);
    if (GDALDatasetRasterIO(raster.get(), GF_Read, 0, 0, side, side, rgba.data(), side, side, GDT_Byte, bands,
                            nullptr, 4, static_cast<GSpacing>(side) * 4, 1) != CE_None) {
        return {};
    }
    size = side;
    return rgba;
}

void WriteFileAtomically(const std::string& path, const void* bytes, std::size_t count,
                         platform::Durability durability) {
    try {
        platform::AtomicFile file(path);
        if (std::fwrite(bytes, 1, count, file.Stream()) != count) {
            throw PublishError("cannot write " + path);
        }
        file.Commit(durability);
    } catch (const PublishError&) {
        throw;
    } catch (const std::exception& error) {
        throw PublishError(error.what());
    }
}

}  // namespace georef::publish
