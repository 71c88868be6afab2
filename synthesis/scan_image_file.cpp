#include "synthesis/scan_image_file.hpp"

#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"

namespace georef::synthesis {

namespace {

using Dataset = gdal_support::DatasetHandle;

struct OptionListDeleter {
    void operator()(char** list) const noexcept { CSLDestroy(list); }
};
using OptionList = std::unique_ptr<char*, OptionListDeleter>;

bool EndsWith(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (std::size_t k = 0; k < suffix.size(); ++k) {
        const char c = text[text.size() - suffix.size() + k];
        if (std::tolower(static_cast<unsigned char>(c)) != suffix[k]) {
            return false;
        }
    }
    return true;
}

// GDAL's reason, to follow a message: ": reason", or nothing.
std::string GdalMessage() {
    const std::string message = gdal_support::LastMessage("");
    return message.empty() ? message : ": " + message;
}

// A MEM dataset whose bands are the caller's memory, no copy.
Dataset WrapInMemory(const RgbImageView& image) {
    GDALDriverH memory = GDALGetDriverByName("MEM");
    if (memory == nullptr) {
        throw Failure("GDAL lacks its MEM driver");
    }
    Dataset dataset(GDALCreate(memory, "", image.width, image.height, 0, GDT_Byte, nullptr));
    if (!dataset) {
        throw Failure("cannot create the scan in memory" + GdalMessage());
    }
    for (int k = 0; k < 3; ++k) {
        char pointer[64] = {};
        CPLPrintPointer(pointer, const_cast<std::uint8_t*>(image.band[k]), sizeof(pointer) - 1);
        OptionList options(CSLSetNameValue(nullptr, "DATAPOINTER", pointer));
        options.reset(CSLSetNameValue(options.release(), "PIXELOFFSET",
                                      std::to_string(image.pixelStep).c_str()));
        options.reset(CSLSetNameValue(options.release(), "LINEOFFSET", std::to_string(image.lineStep).c_str()));
        if (GDALAddBand(static_cast<GDALDatasetH>(dataset.get()), GDT_Byte, options.get()) != CE_None) {
            throw Failure("cannot wrap the scan's pixels" + GdalMessage());
        }
    }
    return dataset;
}

// GDAL's JPEG writer leaves the JFIF header's density at 1:1 without
// units; a scanner writes its resolution there. The header is the first
// segment of every file libjpeg writes: FF D8, FF E0, length, "JFIF\0",
// version (2 bytes), units, x density, y density (big-endian).
void WriteJfifDensity(const std::string& name, double dpi) {
    const long density = std::lround(dpi);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "r+b"), &std::fclose);
    unsigned char header[18] = {};
    if (!file || std::fread(header, 1, sizeof(header), file.get()) != sizeof(header)) {
        throw Failure("cannot read back the JPEG header of " + name);
    }
    static const unsigned char expected[11] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    if (std::memcmp(header, expected, sizeof(expected)) != 0 || density < 1 || density > 65535) {
        throw Failure("cannot record the resolution in " + name);
    }
    const unsigned char fields[5] = {1,  // dots per inch
                                     static_cast<unsigned char>(density >> 8), static_cast<unsigned char>(density & 0xFF),
                                     static_cast<unsigned char>(density >> 8), static_cast<unsigned char>(density & 0xFF)};
    if (std::fseek(file.get(), 13, SEEK_SET) != 0 || std::fwrite(fields, 1, sizeof(fields), file.get()) != sizeof(fields) ||
        std::fflush(file.get()) != 0) {
        throw Failure("cannot record the resolution in " + name);
    }
}

}  // namespace

RgbImageView InterleavedRgb(const std::uint8_t* data, int width, int height, std::ptrdiff_t lineStep) {
    RgbImageView view;
    for (int c = 0; c < 3; ++c) {
        view.band[c] = data + c;
    }
    view.pixelStep = 3;
    view.lineStep = lineStep;
    view.width = width;
    view.height = height;
    return view;
}

bool IsJpegName(const std::string& path) { return EndsWith(path, ".jpg") || EndsWith(path, ".jpeg"); }

void WriteScanImage(const std::string& path, const RgbImageView& image, const ScanEncoding& encoding) {
    GDALAllRegister();
    const gdal_support::QuietErrors quiet;
    const bool jpeg = IsJpegName(path);
    GDALDriverH driver = GDALGetDriverByName(jpeg ? "JPEG" : "GTiff");
    if (driver == nullptr) {
        throw Failure("GDAL lacks the driver to write " + path);
    }
    const Dataset source = WrapInMemory(image);
    if (encoding.densityDpi > 0.0) {
        // The TIFF writer stores these items as its resolution tags.
        char text[32];
        std::snprintf(text, sizeof(text), "%.10g", encoding.densityDpi);
        const std::string dpi = text;
        GDALDatasetH handle = static_cast<GDALDatasetH>(source.get());
        GDALSetMetadataItem(handle, "TIFFTAG_XRESOLUTION", dpi.c_str(), nullptr);
        GDALSetMetadataItem(handle, "TIFFTAG_YRESOLUTION", dpi.c_str(), nullptr);
        GDALSetMetadataItem(handle, "TIFFTAG_RESOLUTIONUNIT", "2 (pixels/inch)", nullptr);
        // The JPEG writer stores these in an EXIF block, which GDAL reports
        // when it reads the file back; the JFIF density is set below.
        const std::string rational = "(" + dpi + ")";
        GDALSetMetadataItem(handle, "EXIF_XResolution", rational.c_str(), nullptr);
        GDALSetMetadataItem(handle, "EXIF_YResolution", rational.c_str(), nullptr);
        GDALSetMetadataItem(handle, "EXIF_ResolutionUnit", "2", nullptr);
    }
    OptionList creation(jpeg ? CSLSetNameValue(nullptr, "QUALITY", std::to_string(encoding.jpegQuality).c_str())
                             : CSLSetNameValue(nullptr, "COMPRESS", "DEFLATE"));
    std::unique_ptr<platform::AtomicFile> file;
    try {
        file = std::make_unique<platform::AtomicFile>(path, platform::AtomicFile::Access::byName);
    } catch (const std::runtime_error& e) {
        throw Failure(e.what());
    }
    {
        // Everything goes into the image file itself, no side file.
        CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
        const Dataset written(GDALCreateCopy(driver, file->TemporaryName().c_str(),
                                             static_cast<GDALDatasetH>(source.get()), FALSE, creation.get(),
                                             nullptr, nullptr));
        CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
        if (!written) {
            throw Failure("cannot write " + path + GdalMessage());
        }
    }
    if (CPLGetLastErrorType() >= CE_Failure) {
        throw Failure("cannot write " + path + GdalMessage());
    }
    if (jpeg && encoding.densityDpi > 0.0) {
        WriteJfifDensity(file->TemporaryName(), encoding.densityDpi);
    }
    try {
        file->Commit();
    } catch (const std::runtime_error& e) {
        throw Failure(e.what());
    }
}

}  // namespace georef::synthesis
