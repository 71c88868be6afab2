#include "review/mosaic.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "platform/atomic_file.hpp"

namespace georef::review {

namespace {

// The reason GDAL gave, to follow a message: ": reason", or nothing.
std::string GdalReason() {
    const std::string message = gdal_support::LastMessage("");
    return message.empty() ? message : ": " + message;
}

using gdal_support::DatasetHandle;

GDALDatasetH Handle(const DatasetHandle& d) noexcept { return d.get(); }

// JPEG quality of the page's images: small files, and the joins stay legible.
constexpr int kJpegQuality = 82;

struct EastNorth {
    double e = 0.0;  // metres
    double n = 0.0;
};

EastNorth FromOutput(const transform::OutputPoint& p) noexcept { return {-p.Y, -p.X}; }

}  // namespace

struct Mosaic::Dataset {
    DatasetHandle handle;
    int width = 0;
    int height = 0;
    int bands = 0;
    double gt[6] = {};  // east = gt0 + col * gt1, north = gt3 + row * gt5

    double Column(double east) const noexcept { return (east - gt[0]) / gt[1]; }
    double Row(double north) const noexcept { return (north - gt[3]) / gt[5]; }

    // Reads the window [x0, x0 + w) x [y0, y0 + h) of mosaic pixels averaged
    // into outW x outH RGB pixels. A single band is read as grey.
    std::vector<unsigned char> Read(int x0, int y0, int w, int h, int outW, int outH) const {
        std::vector<unsigned char> rgb(static_cast<std::size_t>(outW) * static_cast<std::size_t>(outH) * 3);
        int bandMap[3] = {1, 2, 3};
        if (bands < 3) {
            bandMap[1] = bandMap[2] = 1;
        }
        GDALRasterIOExtraArg extra;
        INIT_RASTERIO_EXTRA_ARG(extra);
        extra.eResampleAlg = GRIORA_Average;
        const gdal_support::QuietErrors quiet;
        if (GDALDatasetRasterIOEx(Handle(handle), GF_Read, x0, y0, w, h, rgb.data(), outW, outH, GDT_Byte, 3,
                                  bandMap, 3, static_cast<GSpacing>(outW) * 3, 1, &extra) != CE_None) {
            throw MosaicError("cannot read the mosaic" + GdalReason());
        }
        PaintMaskedWhite(x0, y0, w, h, outW, outH, rgb);
        return rgb;
    }

    // Where the mosaic says it has no tile (its mask), the page's white
    // rather than the black of empty pixels.
    void PaintMaskedWhite(int x0, int y0, int w, int h, int outW, int outH, std::vector<unsigned char>& rgb) const {
        GDALRasterBandH band = GDALGetRasterBand(Handle(handle), 1);
        if (band == nullptr || (GDALGetMaskFlags(band) & GMF_ALL_VALID) != 0) {
            return;
        }
        std::vector<unsigned char> mask(static_cast<std::size_t>(outW) * static_cast<std::size_t>(outH));
        GDALRasterIOExtraArg extra;
        INIT_RASTERIO_EXTRA_ARG(extra);
        extra.eResampleAlg = GRIORA_Average;
        if (GDALRasterIOEx(GDALGetMaskBand(band), GF_Read, x0, y0, w, h, mask.data(), outW, outH, GDT_Byte, 1,
                           static_cast<GSpacing>(outW), &extra) != CE_None) {
            return;  // the picture stays as read
        }
        for (std::size_t k = 0; k < mask.size(); ++k) {
            if (mask[k] < 128) {
                rgb[3 * k] = rgb[3 * k + 1] = rgb[3 * k + 2] = 255;
            }
        }
    }
};

Mosaic::Mosaic(std::unique_ptr<Dataset> dataset) : m_dataset(std::move(dataset)) {}
Mosaic::~Mosaic() = default;
Mosaic::Mosaic(Mosaic&&) noexcept = default;
Mosaic& Mosaic::operator=(Mosaic&&) noexcept = default;

Mosaic Mosaic::Open(const std::string& path) {
    GDALAllRegister();
    const gdal_support::QuietErrors quiet;
    auto d = std::make_unique<Dataset>();
    d->handle.reset(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!d->handle) {
        throw MosaicError("cannot open the mosaic " + path + GdalReason());
    }
    d->width = GDALGetRasterXSize(Handle(d->handle));
    d->height = GDALGetRasterYSize(Handle(d->handle));
    d->bands = GDALGetRasterCount(Handle(d->handle));
    if (d->bands < 1 || d->width < 1 || d->height < 1) {
        throw MosaicError("the mosaic " + path + " holds no image");
    }
    if (GDALGetGeoTransform(Handle(d->handle), d->gt) != CE_None) {
        throw MosaicError("the mosaic " + path + " is not georeferenced");
    }
    if (d->gt[2] != 0.0 || d->gt[4] != 0.0 || !(d->gt[1] > 0.0) || !(d->gt[5] < 0.0)) {
        throw MosaicError("the mosaic " + path + " is not north-up");
    }
    return Mosaic(std::move(d));
}

MapExtent Mosaic::Extent() const noexcept {
    const Dataset& d = *m_dataset;
    return {d.gt[0], d.gt[0] + d.width * d.gt[1], d.gt[3] + d.height * d.gt[5], d.gt[3]};
}

double Mosaic::PixelMetres() const noexcept { return m_dataset->gt[1]; }

WrittenImage Mosaic::WriteOverview(const std::string& jpegPath, int maxWidth) const {
    const Dataset& d = *m_dataset;
    WrittenImage image;
    image.width = std::min(d.width, std::max(1, maxWidth));
    image.height = std::max(1, static_cast<int>(std::lround(static_cast<double>(d.height) * image.width / d.width)));
    image.extent = Extent();
    const std::vector<unsigned char> rgb = d.Read(0, 0, d.width, d.height, image.width, image.height);
    WriteJpeg(jpegPath, rgb.data(), image.width, image.height, kJpegQuality);
    return image;
}

std::optional<WrittenImage> Mosaic::WriteSeamStrip(const SharedEdge& edge, const std::string& jpegPath,
                                                   const StripOptions& options) const {
    const Dataset& d = *m_dataset;
    // Along the edge: west to east on a parallel, south to north on a
    // meridian; across (image rows downwards): towards the second sheet.
    EastNorth start = FromOutput(edge.from);
    EastNorth end = FromOutput(edge.to);
    if ((edge.meridian && start.n > end.n) || (!edge.meridian && start.e > end.e)) {
        std::swap(start, end);
    }
    const double length = std::hypot(end.e - start.e, end.n - start.n);  // metres
    if (!(length > 0.0) || !std::isfinite(length)) {
        return std::nullopt;
    }
    const EastNorth along{(end.e - start.e) / length, (end.n - start.n) / length};
    const EastNorth across{along.n, -along.e};  // along turned clockwise
    const double pixel = std::max(d.gt[1], length / std::max(1, options.maxLengthPixels));  // metres
    const double halfWidth = length * options.halfWidthFraction;
    const int width = std::max(1, static_cast<int>(std::lround(length / pixel)));
    const int halfRows = std::max(1, static_cast<int>(std::lround(halfWidth / pixel)));
    const int height = 2 * halfRows + 1;

    // The mosaic window around the strip's four corners, in mosaic pixels.
    double minCol = INFINITY, maxCol = -INFINITY, minRow = INFINITY, maxRow = -INFINITY;
    for (const double u : {0.0, static_cast<double>(width)}) {
        for (const double v : {-halfRows - 1.0, halfRows + 1.0}) {
            const double e = start.e + u * pixel * along.e + v * pixel * across.e;
            const double n = start.n + u * pixel * along.n + v * pixel * across.n;
            minCol = std::min(minCol, d.Column(e));
            maxCol = std::max(maxCol, d.Column(e));
            minRow = std::min(minRow, d.Row(n));
            maxRow = std::max(maxRow, d.Row(n));
        }
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(minCol)));
    const int y0 = std::max(0, static_cast<int>(std::floor(minRow)));
    const int x1 = std::min(d.width, static_cast<int>(std::ceil(maxCol)) + 1);
    const int y1 = std::min(d.height, static_cast<int>(std::ceil(maxRow)) + 1);
    if (x0 >= x1 || y0 >= y1) {
        return std::nullopt;
    }
    // The window is read at the strip's pixel size, then sampled along the
    // turned strip (nearest pixel of the averaged window).
    const double reduce = pixel / d.gt[1];  // mosaic pixels per window pixel, >= 1
    const int outW = std::max(1, static_cast<int>(std::ceil((x1 - x0) / reduce)));
    const int outH = std::max(1, static_cast<int>(std::ceil((y1 - y0) / reduce)));
    const std::vector<unsigned char> window = d.Read(x0, y0, x1 - x0, y1 - y0, outW, outH);
    const double scaleX = static_cast<double>(outW) / (x1 - x0);
    const double scaleY = static_cast<double>(outH) / (y1 - y0);

    std::vector<unsigned char> strip(static_cast<std::size_t>(width) * height * 3, 255);
    for (int r = 0; r < height; ++r) {
        const double v = (r - halfRows) * pixel;
        for (int c = 0; c < width; ++c) {
            const double u = (c + 0.5) * pixel;
            const double e = start.e + u * along.e + v * across.e;
            const double n = start.n + u * along.n + v * across.n;
            const double wx = (d.Column(e) - x0) * scaleX;
            const double wy = (d.Row(n) - y0) * scaleY;
            if (!(wx >= 0.0 && wy >= 0.0 && wx < outW && wy < outH)) {
                continue;
            }
            const std::size_t from = (static_cast<std::size_t>(wy) * outW + static_cast<std::size_t>(wx)) * 3;
            const std::size_t to = (static_cast<std::size_t>(r) * width + c) * 3;
            std::copy(&window[from], &window[from] + 3, &strip[to]);
        }
    }
    // Ticks where the edge enters and leaves the strip.
    const int tick = std::min(width / 2, std::max(3, width / 80));
    for (int c = 0; c < width; ++c) {
        if (c >= tick && c < width - tick) {
            continue;
        }
        for (int r = std::max(0, halfRows - 1); r <= std::min(height - 1, halfRows + 1); ++r) {
            unsigned char* p = &strip[(static_cast<std::size_t>(r) * width + c) * 3];
            p[0] = 230, p[1] = 0, p[2] = 0;
        }
    }
    WriteJpeg(jpegPath, strip.data(), width, height, kJpegQuality);
    return WrittenImage{width, height, {}};
}

void WriteJpeg(const std::string& path, const unsigned char* rgb, int width, int height, int quality) {
    GDALAllRegister();
    const gdal_support::QuietErrors quiet;
    GDALDriverH mem = GDALGetDriverByName("MEM");
    GDALDriverH jpeg = GDALGetDriverByName("JPEG");
    if (mem == nullptr || jpeg == nullptr) {
        throw MosaicError("GDAL has no JPEG or MEM driver");
    }
    DatasetHandle image(GDALCreate(mem, "", width, height, 3, GDT_Byte, nullptr));
    if (!image ||
        GDALDatasetRasterIO(Handle(image), GF_Write, 0, 0, width, height, const_cast<unsigned char*>(rgb), width,
                            height, GDT_Byte, 3, nullptr, 3, static_cast<int>(width) * 3, 1) != CE_None) {
        throw MosaicError("cannot hold an image of " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels" + GdalReason());
    }
    std::optional<platform::AtomicFile> file;
    try {
        file.emplace(path, platform::AtomicFile::Access::byName);
    } catch (const std::runtime_error& error) {
        throw MosaicError(error.what());
    }
    const std::string qualityOption = "QUALITY=" + std::to_string(quality);
    const char* createOptions[] = {qualityOption.c_str(), nullptr};
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
    DatasetHandle written(GDALCreateCopy(jpeg, file->TemporaryName().c_str(), Handle(image), FALSE,
                                         const_cast<char**>(createOptions), nullptr, nullptr));
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
    const bool complete = written != nullptr;
    written.reset();  // closing flushes the file
    if (!complete || CPLGetLastErrorType() >= CE_Failure) {
        throw MosaicError("cannot write " + path + GdalReason());
    }
    try {
        file->Commit();
    } catch (const std::runtime_error& error) {
        throw MosaicError("cannot write " + path + ": " + error.what());
    }
}

std::optional<std::pair<int, int>> ImageSize(const std::string& path) {
    GDALAllRegister();
    const gdal_support::QuietErrors quiet;
    const DatasetHandle d(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!d) {
        return std::nullopt;
    }
    return std::make_pair(GDALGetRasterXSize(Handle(d)), GDALGetRasterYSize(Handle(d)));
}

}  // namespace georef::review
