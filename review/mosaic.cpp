#include "review/mosaic.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>


#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_hash_set.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <vrtdataset.h>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"
#include "review/mosaic_tiles.hpp"
#include "review/reduced_mosaic.hpp"
#include "review/tile_reduction.hpp"

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

struct StripPlan {
    EastNorth start;   // where the strip begins on the edge, metres
    EastNorth along;   // unit vector along the edge
    EastNorth across;  // unit vector towards the second sheet
    double pixel = 0.0;  // metres per strip pixel
    int width = 0;       // strip pixels
    int halfRows = 0;
    int height = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // mosaic pixels read
};

// How much coarser than the strip's own pixel a pixel of a JPEG tile's
// reduced level may be for the strip to take it (see StripPixel).
constexpr double kLevelSlack = 1.5;

// The seam strip's pixel, metres: fine enough for maxLengthPixels along the
// edge and never finer than the mosaic's own; but when a level at which
// JPEG tiles decode without their full image (1/2, 1/4 or 1/8 of their
// pixels) lies at most kLevelSlack coarser, that level's. Its tiles are then
// decoded at that scale, which for a 300 dpi mosaic is the scale of the
// overview drawn just before, and GDAL still holds those blocks: the strips
// of a meridian and of a parallel come from the same decoding.
double StripPixel(double mosaicPixel, double length, int maxLengthPixels) noexcept {
    const double wanted = std::max(1.0, length / std::max(1, maxLengthPixels) / mosaicPixel);  // mosaic pixels
    for (const double level : {1.0, 2.0, 4.0, 8.0}) {
        if (level >= wanted && level <= kLevelSlack * wanted) {
            return level * mosaicPixel;
        }
    }
    return wanted * mosaicPixel;
}

// Short red ticks across the strip's middle row where the edge enters and
// leaves it.
void MarkEdgeEnds(std::vector<unsigned char>& strip, int width, int height, int halfRows) noexcept {
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
}

// 64-bit FNV-1a of text, as 16 hex digits.
std::string Fnv1a(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

}  // namespace

struct Mosaic::Dataset {
    DatasetHandle handle;
    std::vector<MosaicTile> tiles;  // when the mosaic is a VRT of whole tiles (the batch's)
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

    // Where a seam strip lies: along the edge west to east on a parallel,
    // south to north on a meridian; across (image rows downwards) towards
    // the second sheet; the window of mosaic pixels it reads. Empty when the
    // edge has no length or the strip misses the mosaic.
    std::optional<StripPlan> PlanStrip(const SharedEdge& edge, const StripOptions& options) const {
        StripPlan plan;
        EastNorth start = FromOutput(edge.from);
        EastNorth end = FromOutput(edge.to);
        if ((edge.meridian && start.n > end.n) || (!edge.meridian && start.e > end.e)) {
            std::swap(start, end);
        }
        const double length = std::hypot(end.e - start.e, end.n - start.n);  // metres
        if (!(length > 0.0) || !std::isfinite(length)) {
            return std::nullopt;
        }
        plan.start = start;
        plan.along = {(end.e - start.e) / length, (end.n - start.n) / length};
        plan.across = {plan.along.n, -plan.along.e};  // along turned clockwise
        plan.pixel = StripPixel(gt[1], length, options.maxLengthPixels);  // metres
        const double halfWidth = length * options.halfWidthFraction;
        plan.width = std::max(1, static_cast<int>(std::lround(length / plan.pixel)));
        plan.halfRows = std::max(1, static_cast<int>(std::lround(halfWidth / plan.pixel)));
        plan.height = 2 * plan.halfRows + 1;

        // The mosaic window around the strip's four corners, in mosaic pixels.
        double minCol = INFINITY, maxCol = -INFINITY, minRow = INFINITY, maxRow = -INFINITY;
        for (const double u : {0.0, static_cast<double>(plan.width)}) {
            for (const double v : {-plan.halfRows - 1.0, plan.halfRows + 1.0}) {
                const double e = start.e + u * plan.pixel * plan.along.e + v * plan.pixel * plan.across.e;
                const double n = start.n + u * plan.pixel * plan.along.n + v * plan.pixel * plan.across.n;
                minCol = std::min(minCol, Column(e));
                maxCol = std::max(maxCol, Column(e));
                minRow = std::min(minRow, Row(n));
                maxRow = std::max(maxRow, Row(n));
            }
        }
        plan.x0 = std::max(0, static_cast<int>(std::floor(minCol)));
        plan.y0 = std::max(0, static_cast<int>(std::floor(minRow)));
        plan.x1 = std::min(width, static_cast<int>(std::ceil(maxCol)) + 1);
        plan.y1 = std::min(height, static_cast<int>(std::ceil(maxRow)) + 1);
        if (plan.x0 >= plan.x1 || plan.y0 >= plan.y1) {
            return std::nullopt;
        }
        return plan;
    }

    // The files GDAL reads for the window [x0, x1) x [y0, y1) of mosaic
    // pixels: of a VRT the sources that meet it, of any other raster its
    // own files.
    std::vector<std::string> FilesOf(int x0, int y0, int x1, int y1) const {
        std::vector<std::string> files;
        GDALDataset* dataset = GDALDataset::FromHandle(Handle(handle));
        auto* vrt = dynamic_cast<VRTDataset*>(dataset);
        auto* band = vrt == nullptr ? nullptr : dynamic_cast<VRTSourcedRasterBand*>(vrt->GetRasterBand(1));
        if (band == nullptr) {
            char** list = GDALGetFileList(Handle(handle));
            for (char** f = list; f != nullptr && *f != nullptr; ++f) {
                files.emplace_back(*f);
            }
            CSLDestroy(list);
            return files;
        }
        const gdal_support::QuietErrors quiet;
        for (int i = 0; i < band->nSources; ++i) {
            VRTSource* source = band->papoSources[i];
            if (source == nullptr || !source->IsSimpleSource()) {
                continue;
            }
            auto* simple = static_cast<VRTSimpleSource*>(source);
            double reqX = 0, reqY = 0, reqW = 0, reqH = 0;
            int rx = 0, ry = 0, rw = 0, rh = 0, ox = 0, oy = 0, ow = 0, oh = 0;
            bool failed = false;
            if (!simple->GetSrcDstWindow(x0, y0, x1 - x0, y1 - y0, x1 - x0, y1 - y0, &reqX, &reqY, &reqW, &reqH, &rx,
                                         &ry, &rw, &rh, &ox, &oy, &ow, &oh, failed)) {
                continue;
            }
            char** list = nullptr;
            int count = 0;
            int capacity = 0;
            CPLHashSet* seen = CPLHashSetNew(CPLHashSetHashStr, CPLHashSetEqualStr, nullptr);
            simple->GetFileList(&list, &count, &capacity, seen);
            CPLHashSetDestroy(seen);
            for (int k = 0; k < count; ++k) {
                files.emplace_back(list[k]);
            }
            CSLDestroy(list);
        }
        return files;
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
    gdal_support::RegisterDrivers();
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
    d->tiles = WholeTiles(path, d->bands);
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
    // Coarse enough for the tiles' reductions, which a batch keeps: no tile
    // is decoded again, and a large area's reductions are read at the
    // decoder's coarser scales.
    const int readScale = d.tiles.empty() ? 0 : KeptReadScale(d.width, d.height, image.width, image.height);
    const std::vector<unsigned char> rgb =
        readScale > 0 ? AverageReducedTiles(d.tiles, d.width, d.height, image.width, image.height, readScale)
                      : d.Read(0, 0, d.width, d.height, image.width, image.height);
    WriteJpeg(jpegPath, rgb.data(), image.width, image.height, kJpegQuality);
    return image;
}

std::optional<WrittenImage> Mosaic::WriteSeamStrip(const SharedEdge& edge, const std::string& jpegPath,
                                                   const StripOptions& options) const {
    const Dataset& d = *m_dataset;
    const std::optional<StripPlan> plan = d.PlanStrip(edge, options);
    if (!plan) {
        return std::nullopt;
    }
    const EastNorth& start = plan->start;
    const EastNorth& along = plan->along;
    const EastNorth& across = plan->across;
    const double pixel = plan->pixel;
    const int width = plan->width;
    const int halfRows = plan->halfRows;
    const int height = plan->height;
    const int x0 = plan->x0, y0 = plan->y0, x1 = plan->x1, y1 = plan->y1;
    const double reduce = pixel / d.gt[1];  // mosaic pixels per strip pixel, >= 1
    std::vector<unsigned char> strip(static_cast<std::size_t>(width) * height * 3, 255);
    if (!d.tiles.empty() && reduce == kTileReduction) {
        // At the scale of the tiles' reductions: each strip pixel is the reduced pixel under it.
        std::vector<MosaicTile> under;
        for (const MosaicTile& t : d.tiles) {
            if (t.x < x1 && t.x + t.width > x0 && t.y < y1 && t.y + t.height > y0) {
                under.push_back(t);
            }
        }
        ReducedPixels reduced(std::move(under));
        for (int r = 0; r < height; ++r) {
            const double v = (r - halfRows) * pixel;
            for (int c = 0; c < width; ++c) {
                const double u = (c + 0.5) * pixel;
                const std::uint8_t* rgb =
                    reduced.At(d.Column(start.e + u * along.e + v * across.e), d.Row(start.n + u * along.n + v * across.n));
                if (rgb != nullptr) {
                    std::copy(rgb, rgb + 3, &strip[(static_cast<std::size_t>(r) * width + c) * 3]);
                }
            }
        }
        MarkEdgeEnds(strip, width, height, halfRows);
        WriteJpeg(jpegPath, strip.data(), width, height, kJpegQuality);
        return WrittenImage{width, height, {}};
    }
    // The window is read at the strip's pixel size, then sampled along the
    // turned strip (nearest pixel of the averaged window).
    const int outW = std::max(1, static_cast<int>(std::ceil((x1 - x0) / reduce)));
    const int outH = std::max(1, static_cast<int>(std::ceil((y1 - y0) / reduce)));
    const std::vector<unsigned char> window = d.Read(x0, y0, x1 - x0, y1 - y0, outW, outH);
    const double scaleX = static_cast<double>(outW) / (x1 - x0);
    const double scaleY = static_cast<double>(outH) / (y1 - y0);

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
    MarkEdgeEnds(strip, width, height, halfRows);
    WriteJpeg(jpegPath, strip.data(), width, height, kJpegQuality);
    return WrittenImage{width, height, {}};
}

std::string Mosaic::ImageKey(const SharedEdge* edge, int maxPixels, const StripOptions& options) const {
    const Dataset& d = *m_dataset;
    std::string text;
    char head[400];
    std::snprintf(head, sizeof head, "%d %d %.17g %.17g %.17g %.17g %d %d %.17g\n", d.width, d.height, d.gt[0],
                  d.gt[1], d.gt[3], d.gt[5], kJpegQuality, maxPixels, options.halfWidthFraction);
    text += head;
    int x0 = 0, y0 = 0, x1 = d.width, y1 = d.height;
    if (edge != nullptr) {
        // "levels": strips drawn at the tiles' reduced levels (StripPixel).
        std::snprintf(head, sizeof head, "%.17g %.17g %.17g %.17g %d %d levels\n", edge->from.X, edge->from.Y, edge->to.X,
                      edge->to.Y, edge->meridian ? 1 : 0, options.maxLengthPixels);
        text += head;
        const std::optional<StripPlan> plan = d.PlanStrip(*edge, options);
        if (!plan) {
            return Fnv1a(text + "outside\n");
        }
        x0 = plan->x0, y0 = plan->y0, x1 = plan->x1, y1 = plan->y1;
    }
    std::vector<std::string> files = d.FilesOf(x0, y0, x1, y1);
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        text += file + ' ' + platform::FileState(file) + '\n';
        if (!d.tiles.empty()) {
            // What the image may be drawn from instead: the tile's kept reduction.
            const std::string kept = ReducedTilePath(file);
            text += "reduced " + platform::FileState(kept) + '\n';
        }
    }
    return Fnv1a(text);
}

void WriteJpeg(const std::string& path, const unsigned char* rgb, int width, int height, int quality,
               const JpegFileOptions& fileOptions) {
    gdal_support::RegisterDrivers();
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
    const std::string commentOption = "COMMENT=" + fileOptions.comment;
    const char* createOptions[] = {"QUIET_DELETE_ON_CREATE_COPY=NO", qualityOption.c_str(),
                                   fileOptions.comment.empty() ? nullptr : commentOption.c_str(), nullptr};
    // GDAL opens the file it has written; the folder's other files (the
    // kept reductions of thousands of tiles, the page's images) are nothing
    // to it, and listing them for side files made each write take twice as
    // long in a folder of 15 000.
    // Nor need it open the file again, or first delete what lies under the
    // temporary name: the file is new and is not read here.
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
    CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    CPLSetThreadLocalConfigOption("GDAL_OPEN_AFTER_COPY", "NO");
    DatasetHandle written(GDALCreateCopy(jpeg, file->TemporaryName().c_str(), Handle(image), FALSE,
                                         const_cast<char**>(createOptions), nullptr, nullptr));
    CPLSetThreadLocalConfigOption("GDAL_OPEN_AFTER_COPY", nullptr);
    CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr);
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
    const bool complete = written != nullptr;
    written.reset();  // closing flushes the file
    if (!complete || CPLGetLastErrorType() >= CE_Failure) {
        throw MosaicError("cannot write " + path + GdalReason());
    }
    try {
        file->Commit(fileOptions.synced ? platform::Durability::synced : platform::Durability::renamedOnly);
    } catch (const std::runtime_error& error) {
        throw MosaicError("cannot write " + path + ": " + error.what());
    }
}

std::optional<std::pair<int, int>> ImageSize(const std::string& path) {
    gdal_support::RegisterDrivers();
    const gdal_support::QuietErrors quiet;
    const DatasetHandle d(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!d) {
        return std::nullopt;
    }
    return std::make_pair(GDALGetRasterXSize(Handle(d)), GDALGetRasterYSize(Handle(d)));
}

}  // namespace georef::review
