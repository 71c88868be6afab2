#include "publish/xyz_pyramid.hpp"

#include <gdal_alg.h>
#include <gdal_utils.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"
#include "publish/gdal_dataset.hpp"
#include "publish/image_encoding.hpp"
#include "publish/publish_error.hpp"
#include "publish/rgba_image.hpp"
#include "publish/xyz_manifest.hpp"

namespace georef::publish {

namespace {

namespace fs = std::filesystem;

// Blocks are tiles of this many zooms above the finest: one warp makes up to
// 8 x 8 finest tiles, and their parents come from memory.
constexpr int kBlockLevels = 3;

struct TileKey {
    long x = 0;
    long y = 0;
    bool operator<(const TileKey& other) const noexcept { return x != other.x ? x < other.x : y < other.y; }
};

// What a run redoes: everything, or the web tiles that touch one of these
// boxes (the changed source tiles, grown by the warper's reach).
struct ChangedRegion {
    bool everything = true;
    std::vector<MercatorBox> boxes;

    bool Touches(const MercatorBox& box) const noexcept {
        return everything || std::any_of(boxes.begin(), boxes.end(), [&](const MercatorBox& b) {
                   return b.Intersects(box);
               });
    }
};

struct Plan {
    std::string directory;
    ZoomRange zooms;
    int blockZoom = 0;
    int quality = 75;
    ChangedRegion changed;
    const AreaFootprint* footprint = nullptr;

    int BlockPixels() const noexcept { return kWebTilePixels << (zooms.max - blockZoom); }
    bool InArea(const MercatorBox& box) const noexcept {
        return std::any_of(footprint->tiles.begin(), footprint->tiles.end(),
                           [&](const MercatorBox& t) { return t.Intersects(box); });
    }
};

std::string TilePath(const std::string& directory, int zoom, long x, long y, const char* extension) {
    return directory + "/" + std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y) + extension;
}

std::string BlockCachePath(const Plan& plan, const TileKey& block) {
    return XyzManifest::Folder(plan.directory) + "/block-" + std::to_string(plan.blockZoom) + "-" +
           std::to_string(block.x) + "-" + std::to_string(block.y) + ".rgba";
}

struct Counts {
    std::atomic<long> written{0};
    std::atomic<long> removed{0};
};

// Writes one web tile as its coverage asks, or removes it when it is empty.
void WriteTile(const Plan& plan, int zoom, long x, long y, const RgbaImage& image, Counts& counts) {
    const std::string jpg = TilePath(plan.directory, zoom, x, y, ".jpg");
    const std::string png = TilePath(plan.directory, zoom, x, y, ".png");
    const TileCoverage coverage = CoverageOf(image);
    if (coverage == TileCoverage::empty) {
        const bool hadJpg = std::remove(jpg.c_str()) == 0;
        const bool hadPng = std::remove(png.c_str()) == 0;
        counts.removed += (hadJpg || hadPng) ? 1 : 0;
        return;
    }
    std::error_code error;
    fs::create_directories(fs::path(jpg).parent_path(), error);
    const auto renamed = platform::Durability::renamedOnly;
    if (coverage == TileCoverage::full) {
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(image.size) * image.size * 3);
        for (std::size_t k = 0, j = 0; k < image.pixels.size(); k += 4, j += 3) {
            rgb[j] = image.pixels[k];
            rgb[j + 1] = image.pixels[k + 1];
            rgb[j + 2] = image.pixels[k + 2];
        }
        const std::vector<std::uint8_t> bytes = EncodeJpeg(rgb.data(), image.size, image.size, plan.quality);
        WriteFileAtomically(jpg, bytes.data(), bytes.size(), renamed);
        std::remove(png.c_str());
    } else {
        const std::vector<std::uint8_t> pngBytes = EncodePng(image);
        WriteFileAtomically(png, pngBytes.data(), pngBytes.size(), renamed);
        const std::vector<std::uint8_t> rgb = OverWhite(image);
        const std::vector<std::uint8_t> jpgBytes = EncodeJpeg(rgb.data(), image.size, image.size, plan.quality);
        WriteFileAtomically(jpg, jpgBytes.data(), jpgBytes.size(), renamed);
    }
    counts.written += 1;
}

// One worker's view of the mosaic: GDAL datasets are not shared between threads.
class BlockWarper {
public:
    explicit BlockWarper(const std::string& mosaicPath) : m_mosaic(OpenRaster(mosaicPath)) {
        if (!m_mosaic) {
            throw PublishError("cannot open " + mosaicPath + GdalReason());
        }
        m_mercator.importFromEPSG(3857);
        const char* arguments[] = {"-r", "bilinear", "-dstalpha", nullptr};
        m_options.reset(GDALWarpAppOptionsNew(const_cast<char**>(arguments), nullptr));
        if (!m_options) {
            throw PublishError("GDAL does not take the warp options" + GdalReason());
        }
    }

    // The block's pixels: the mosaic warped into the box, RGBA.
    RgbaImage Warp(const MercatorBox& box, int pixels) {
        GDALDriverH mem = GDALGetDriverByName("MEM");
        Dataset block(GDALCreate(mem, "", pixels, pixels, 4, GDT_Byte, nullptr));
        if (!block) {
            throw PublishError("cannot hold a block of " + std::to_string(pixels) + " pixels" + GdalReason());
        }
        double transform[6] = {box.minX, (box.maxX - box.minX) / pixels, 0.0, box.maxY, 0.0,
                               -(box.maxY - box.minY) / pixels};
        GDALSetGeoTransform(block.get(), transform);
        GDALSetSpatialRef(block.get(), OGRSpatialReference::ToHandle(&m_mercator));
        GDALSetRasterColorInterpretation(GDALGetRasterBand(block.get(), 4), GCI_AlphaBand);
        GDALDatasetH source = m_mosaic.get();
        int usageError = FALSE;
        {
            QuietGdal quiet;
            if (GDALWarp(nullptr, block.get(), 1, &source, m_options.get(), &usageError) == nullptr) {
                throw PublishError("GDAL cannot warp the mosaic into Web Mercator" + GdalReason());
            }
        }
        RgbaImage image(pixels);
        if (GDALDatasetRasterIO(block.get(), GF_Read, 0, 0, pixels, pixels, image.pixels.data(), pixels, pixels,
                                GDT_Byte, 4, nullptr, 4, static_cast<GSpacing>(pixels) * 4, 1) != CE_None) {
            throw PublishError("cannot read a warped block" + GdalReason());
        }
        return image;
    }

private:
    struct OptionsFree {
        void operator()(GDALWarpAppOptions* options) const noexcept { GDALWarpAppOptionsFree(options); }
    };
    Dataset m_mosaic;
    OGRSpatialReference m_mercator;
    std::unique_ptr<GDALWarpAppOptions, OptionsFree> m_options;
};

// Makes one block: its finest tiles from the mosaic, then each coarser zoom
// down to the block's own tile by halving. Returns the block's own tile.
RgbaImage MakeBlock(const Plan& plan, BlockWarper& warper, const TileKey& block, Counts& counts) {
    RgbaImage image = warper.Warp(WebTileBox(plan.blockZoom, block.x, block.y), plan.BlockPixels());
    for (int zoom = plan.zooms.max;; --zoom) {
        const int perSide = image.size / kWebTilePixels;
        for (int row = 0; row < perSide; ++row) {
            for (int column = 0; column < perSide; ++column) {
                const long x = block.x * perSide + column;
                const long y = block.y * perSide + row;
                if (plan.changed.Touches(WebTileBox(zoom, x, y))) {
                    WriteTile(plan, zoom, x, y, Crop(image, column * kWebTilePixels, row * kWebTilePixels,
                                                     kWebTilePixels), counts);
                }
            }
        }
        if (zoom == plan.blockZoom) {
            return image;
        }
        image = Halve(image);
    }
}

void SaveBlockCache(const Plan& plan, const TileKey& block, const RgbaImage& image) {
    const std::string path = BlockCachePath(plan, block);
    if (CoverageOf(image) == TileCoverage::empty) {
        std::remove(path.c_str());
        return;
    }
    WriteFileAtomically(path, image.pixels.data(), image.pixels.size(), platform::Durability::renamedOnly);
}

std::optional<RgbaImage> LoadBlockCache(const Plan& plan, const TileKey& block) {
    std::FILE* file = std::fopen(BlockCachePath(plan, block).c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    RgbaImage image(kWebTilePixels);
    const bool whole = std::fread(image.pixels.data(), 1, image.pixels.size(), file) == image.pixels.size();
    std::fclose(file);
    if (!whole) {
        throw PublishError("the block cache " + BlockCachePath(plan, block) + " is damaged: remove " +
                           XyzManifest::Folder(plan.directory) + " to redo every tile");
    }
    return image;
}

// Runs MakeBlock over the blocks with jobs threads; returns each block's tile.
std::map<TileKey, RgbaImage> MakeBlocks(const Plan& plan, const SourceArea& area, const std::vector<TileKey>& blocks,
                                        int jobs, Counts& counts, const Progress& progress) {
    std::map<TileKey, RgbaImage> made;
    std::mutex guard;  // protects made, failure, done and the progress callback
    std::string failure;
    std::size_t done = 0;
    std::atomic<std::size_t> next{0};
    auto work = [&]() {
        try {
            BlockWarper warper(area.mosaicPath);
            for (std::size_t k = next++; k < blocks.size(); k = next++) {
                RgbaImage image = MakeBlock(plan, warper, blocks[k], counts);
                SaveBlockCache(plan, blocks[k], image);
                std::lock_guard<std::mutex> lock(guard);
                if (!failure.empty()) {
                    return;
                }
                made.emplace(blocks[k], std::move(image));
                ++done;
                if (progress) {
                    progress("web tiles", static_cast<double>(done) / static_cast<double>(blocks.size()));
                }
            }
        } catch (const std::exception& error) {
            std::lock_guard<std::mutex> lock(guard);
            if (failure.empty()) {
                failure = error.what();
            }
            next = blocks.size();
        }
    };
    std::vector<std::thread> workers;
    const int count = std::max(1, std::min<int>(jobs, static_cast<int>(blocks.size())));
    for (int k = 1; k < count; ++k) {
        workers.emplace_back(work);
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (!failure.empty()) {
        throw PublishError(failure);
    }
    return made;
}

// The zooms below the blocks' own, each tile from its four children.
void MakeCoarseZooms(const Plan& plan, std::map<TileKey, RgbaImage> level, Counts& counts) {
    for (int zoom = plan.blockZoom - 1; zoom >= plan.zooms.min; --zoom) {
        std::map<TileKey, RgbaImage> parents;
        for (const auto& [child, image] : level) {
            parents.try_emplace(TileKey{child.x / 2, child.y / 2}, 2 * kWebTilePixels);
        }
        for (auto& [parent, image] : parents) {
            for (const auto& [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
                const auto child = level.find(TileKey{2 * parent.x + dx, 2 * parent.y + dy});
                if (child != level.end()) {
                    Paste(image, child->second, dx * kWebTilePixels, dy * kWebTilePixels);
                }
            }
            image = Halve(image);
            if (plan.changed.Touches(WebTileBox(zoom, parent.x, parent.y))) {
                WriteTile(plan, zoom, parent.x, parent.y, image, counts);
            }
        }
        level = std::move(parents);
    }
}

// What the tiles' bytes depend on besides the source tiles' pixels. The
// mosaic's north-west corner is among them: the warp's arithmetic runs in the
// mosaic's pixel grid, so a grid that moved (a tile added west or north of
// the area) redoes every tile rather than risk a tile that differs in a bit
// from what a full run would make.
std::string SettingsText(const Plan& plan, const SourceArea& area) {
    int firstRow = area.tiles.front().name.row;
    int lastColumn = area.tiles.front().name.column;
    for (const SourceTile& tile : area.tiles) {
        firstRow = std::min(firstRow, tile.name.row);
        lastColumn = std::max(lastColumn, tile.name.column);
    }
    std::ostringstream text;
    text << "zooms " << plan.zooms.min << ' ' << plan.zooms.max << " quality " << plan.quality << " tile-pixels "
         << area.tileSize << " corner " << firstRow << ' ' << lastColumn << " warp bilinear";
    return text.str();
}

// Where the tiles that changed since the manifest lie, grown by the reach of
// the bilinear warp (two mosaic pixels and a web pixel).
ChangedRegion ChangesSince(const XyzManifest& manifest, const SourceArea& area, const AreaFootprint& footprint,
                           int maxZoom, int& changedTiles) {
    ChangedRegion region;
    region.everything = false;
    SourceArea removed;
    removed.tileSize = area.tileSize;
    std::map<std::string, bool> seen;
    std::vector<std::size_t> changedNow;
    for (std::size_t k = 0; k < area.tiles.size(); ++k) {
        const SourceTile& tile = area.tiles[k];
        seen[tile.name.file] = true;
        const auto before = manifest.tiles.find(tile.name.file);
        if (before == manifest.tiles.end() || before->second != std::pair{tile.bytes, tile.modifiedNs}) {
            changedNow.push_back(k);
        }
    }
    for (const auto& [name, state] : manifest.tiles) {
        if (seen.count(name) == 0) {
            int row = 0;
            int column = 0;
            if (std::sscanf(name.c_str(), "%d_%d.jpg", &row, &column) == 2) {
                removed.tiles.push_back(SourceTile{batch::TileName{row, column, name}, 0, 0});
            }
        }
    }
    // Web Mercator stretches ground distances by 1 / cos(latitude).
    const double latitude = 0.5 * (footprint.lonLat.south + footprint.lonLat.north) * M_PI / 180.0;
    const double reach = 2.0 * area.PixelMetres() / std::cos(latitude) + MercatorResolution(maxZoom);
    for (const std::size_t k : changedNow) {
        region.boxes.push_back(footprint.tiles[k].Grown(reach));
    }
    if (!removed.tiles.empty()) {
        for (const MercatorBox& box : FootprintOf(removed).tiles) {
            region.boxes.push_back(box.Grown(reach));
        }
    }
    changedTiles = static_cast<int>(changedNow.size() + removed.tiles.size());
    return region;
}

std::vector<std::string> ListEdgeTiles(const std::string& directory, const ZoomRange& zooms) {
    std::vector<std::string> edges;
    for (int zoom = zooms.min; zoom <= zooms.max; ++zoom) {
        std::error_code error;
        const fs::path folder = fs::path(directory) / std::to_string(zoom);
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (it->path().extension() == ".png") {
                edges.push_back(std::to_string(zoom) + "/" + it->path().parent_path().filename().string() + "/" +
                                it->path().stem().string());
            }
        }
    }
    std::sort(edges.begin(), edges.end());
    return edges;
}

}  // namespace

ZoomRange ChooseZooms(const SourceArea& area, const AreaFootprint& footprint) {
    const Dataset mosaic = OpenRaster(area.mosaicPath);
    if (!mosaic) {
        throw PublishError("cannot open " + area.mosaicPath + GdalReason());
    }
    OGRSpatialReference mercator;
    mercator.importFromEPSG(3857);
    char* wkt = nullptr;
    mercator.exportToWkt(&wkt);
    const std::string mercatorWkt = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    const std::string option = "DST_SRS=" + mercatorWkt;
    const char* options[] = {option.c_str(), nullptr};
    void* transformer =
        GDALCreateGenImgProjTransformer2(mosaic.get(), nullptr, const_cast<char**>(options));
    if (transformer == nullptr) {
        throw PublishError("PROJ cannot take the mosaic into Web Mercator" + GdalReason());
    }
    double transform[6] = {};
    int width = 0;
    int height = 0;
    const CPLErr suggested =
        GDALSuggestedWarpOutput(mosaic.get(), GDALGenImgProjTransform, transformer, transform, &width, &height);
    GDALDestroyGenImgProjTransformer(transformer);
    if (suggested != CE_None || !(transform[1] > 0.0)) {
        throw PublishError("GDAL cannot size the mosaic in Web Mercator" + GdalReason());
    }
    const double pixel = transform[1];  // metres of Web Mercator per mosaic pixel
    const double span = std::max(footprint.whole.maxX - footprint.whole.minX,
                                 footprint.whole.maxY - footprint.whole.minY);
    ZoomRange zooms;
    zooms.max = 0;
    while (zooms.max < 24 && MercatorResolution(zooms.max) > pixel) {
        ++zooms.max;
    }
    zooms.min = 0;
    while (zooms.min < zooms.max && MercatorTileMetres(zooms.min + 1) >= span) {
        ++zooms.min;
    }
    return zooms;
}

XyzReport WriteWebTiles(const SourceArea& area, const AreaFootprint& footprint, const std::string& directory,
                        const XyzOptions& options, const Progress& progress) {
    std::error_code error;
    fs::create_directories(directory, error);
    if (!platform::IsDirectory(directory)) {
        throw PublishError("cannot make the folder " + directory + ": " + error.message());
    }
    Plan plan;
    plan.directory = directory;
    plan.zooms = options.zooms ? *options.zooms : ChooseZooms(area, footprint);
    plan.blockZoom = std::max(plan.zooms.min, plan.zooms.max - kBlockLevels);
    plan.quality = options.quality;
    plan.footprint = &footprint;
    const std::string settings = SettingsText(plan, area);

    XyzReport report;
    report.zooms = plan.zooms;
    const std::optional<XyzManifest> last = XyzManifest::Load(directory);
    if (options.incremental && last && last->settings == settings) {
        plan.changed = ChangesSince(*last, area, footprint, plan.zooms.max, report.changedSourceTiles);
        report.incremental = true;
    } else {
        report.changedSourceTiles = static_cast<int>(area.tiles.size());
        if (last) {
            // Tiles of the earlier settings: every zoom folder goes before a full run.
            for (int zoom = 0; zoom <= 30; ++zoom) {
                fs::remove_all(fs::path(directory) / std::to_string(zoom), error);
            }
        }
        fs::remove_all(XyzManifest::Folder(directory), error);
    }
    fs::create_directories(XyzManifest::Folder(directory), error);

    // The blocks to make: those in the area that touch a change.
    std::vector<TileKey> blocks;
    std::vector<TileKey> kept;
    const TileRange range = TilesCovering(footprint.whole, plan.blockZoom);
    for (long y = range.minY; y <= range.maxY; ++y) {
        for (long x = range.minX; x <= range.maxX; ++x) {
            const MercatorBox box = WebTileBox(plan.blockZoom, x, y);
            if (!plan.InArea(box) && !plan.changed.Touches(box)) {
                continue;
            }
            (plan.changed.Touches(box) ? blocks : kept).push_back(TileKey{x, y});
        }
    }
    Counts counts;
    std::map<TileKey, RgbaImage> level = MakeBlocks(plan, area, blocks, options.jobs, counts, progress);
    for (const TileKey& block : kept) {
        if (std::optional<RgbaImage> image = LoadBlockCache(plan, block)) {
            level.emplace(block, std::move(*image));
        }
    }
    MakeCoarseZooms(plan, std::move(level), counts);

    // Every tile renamed into place is made durable at once, then recorded.
    if (!platform::SyncFileSystem(directory)) {
        throw PublishError("cannot flush the tiles in " + directory + " to disk");
    }
    XyzManifest::Of(area, settings).Save(directory);
    report.tilesWritten = counts.written;
    report.tilesRemoved = counts.removed;
    report.edgeTiles = ListEdgeTiles(directory, plan.zooms);
    return report;
}

}  // namespace georef::publish
