#include "workbench/map_tiles.hpp"

#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "batch/mosaic.hpp"
#include "platform/file_system.hpp"
#include "workbench/image_encoding.hpp"

namespace georef::workbench {

namespace {

struct DatasetCloser {
    void operator()(void* dataset) const noexcept { GDALClose(static_cast<GDALDatasetH>(dataset)); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

constexpr std::uint8_t kEmptyGrey = 224;  // where the mosaic has no tile
constexpr int kMapJpegQuality = 85;

std::optional<MosaicLayout> ReadLayout(const std::string& outputDirectory) {
    GDALAllRegister();
    const std::string path = platform::JoinPath(outputDirectory, batch::kMosaicFile);
    if (!platform::Exists(path)) {
        return std::nullopt;
    }
    const Dataset dataset(GDALOpen(path.c_str(), GA_ReadOnly));
    double transform[6];
    if (!dataset || GDALGetGeoTransform(static_cast<GDALDatasetH>(dataset.get()), transform) != CE_None ||
        transform[1] <= 0.0 || transform[2] != 0.0 || transform[4] != 0.0) {
        return std::nullopt;
    }
    MosaicLayout layout;
    layout.width = GDALGetRasterXSize(static_cast<GDALDatasetH>(dataset.get()));
    layout.height = GDALGetRasterYSize(static_cast<GDALDatasetH>(dataset.get()));
    layout.tileSize = static_cast<int>(std::lround(10000.0 / transform[1]));
    layout.west = transform[0];
    layout.north = transform[3];
    layout.firstRow = static_cast<int>(std::lround(-layout.north / 10000.0));
    layout.lastColumn = static_cast<int>(std::lround(-layout.west / 10000.0)) - 1;
    int level = 0;
    while ((kMapTileSize << level) < std::max(layout.width, layout.height) && level < 24) {
        ++level;
    }
    layout.deepestLevel = level;
    if (layout.tileSize <= 0 || layout.width <= 0 || layout.height <= 0) {
        return std::nullopt;
    }
    return layout;
}

}  // namespace

MapTiles::MapTiles(std::string outputDirectory, std::size_t cacheBytes)
    : m_outputDirectory(std::move(outputDirectory)), m_cacheBytes(cacheBytes) {}

std::optional<MosaicLayout> MapTiles::Layout() {
    const std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_layoutRead) {
        m_layout = ReadLayout(m_outputDirectory);
        m_layoutRead = true;
    }
    return m_layout;
}

void MapTiles::Invalidate() {
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_layoutRead = false;
    m_layout.reset();
    m_cache.clear();
    m_recent.clear();
    m_cachedBytes = 0;
    ++m_generation;
}

std::optional<std::string> MapTiles::Tile(int level, int x, int y) {
    const std::optional<MosaicLayout> layout = Layout();
    if (!layout || level < 0 || level > layout->deepestLevel || x < 0 || y < 0) {
        return std::nullopt;
    }
    const long long span = static_cast<long long>(kMapTileSize) << (layout->deepestLevel - level);
    if (x * span >= layout->width || y * span >= layout->height) {
        return std::nullopt;
    }
    const Key key{level, x, y};
    unsigned long generation = 0;
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_cache.find(key);
        if (found != m_cache.end()) {
            m_recent.splice(m_recent.begin(), m_recent, found->second.second);
            return found->second.first;
        }
        generation = m_generation;
    }
    std::string jpeg = Render(*layout, level, x, y);
    const std::lock_guard<std::mutex> guard(m_mutex);
    if (generation == m_generation && m_cache.find(key) == m_cache.end()) {
        m_recent.push_front(key);
        m_cachedBytes += jpeg.size();
        m_cache.emplace(key, std::make_pair(jpeg, m_recent.begin()));
        while (m_cachedBytes > m_cacheBytes && !m_recent.empty()) {
            const auto oldest = m_cache.find(m_recent.back());
            m_cachedBytes -= oldest->second.first.size();
            m_cache.erase(oldest);
            m_recent.pop_back();
        }
    }
    return jpeg;
}

std::string MapTiles::Render(const MosaicLayout& layout, int level, int x, int y) const {
    // The map tile covers mosaic pixels [x0, x0 + span) x [y0, y0 + span);
    // each map pixel averages scale x scale of them.
    const int scale = 1 << (layout.deepestLevel - level);
    const long long span = static_cast<long long>(kMapTileSize) * scale;
    const long long x0 = x * span;
    const long long y0 = y * span;
    RgbImage tile(kMapTileSize, kMapTileSize, kEmptyGrey);
    const int firstTileColumn = static_cast<int>(x0 / layout.tileSize);
    const int lastTileColumn = static_cast<int>(std::min<long long>(layout.width - 1, x0 + span - 1) / layout.tileSize);
    const int firstTileRow = static_cast<int>(y0 / layout.tileSize);
    const int lastTileRow = static_cast<int>(std::min<long long>(layout.height - 1, y0 + span - 1) / layout.tileSize);
    for (int r = firstTileRow; r <= lastTileRow; ++r) {
        for (int c = firstTileColumn; c <= lastTileColumn; ++c) {
            // The 10 km tile in mosaic column c, row r, named as the batch names it.
            const std::string name = std::to_string(layout.firstRow + r) + "_" +
                                     std::to_string(layout.lastColumn - c) + ".jpg";
            const std::string path = platform::JoinPath(m_outputDirectory, name);
            if (!platform::Exists(path)) {
                continue;
            }
            const Dataset source(GDALOpen(path.c_str(), GA_ReadOnly));
            if (!source || GDALGetRasterCount(static_cast<GDALDatasetH>(source.get())) < 3) {
                continue;
            }
            // The part of this tile inside the map tile, mosaic pixels, on
            // whole map pixels.
            const long long left = std::max<long long>(x0, static_cast<long long>(c) * layout.tileSize);
            const long long right = std::min<long long>(x0 + span, static_cast<long long>(c + 1) * layout.tileSize);
            const long long top = std::max<long long>(y0, static_cast<long long>(r) * layout.tileSize);
            const long long bottom = std::min<long long>(y0 + span, static_cast<long long>(r + 1) * layout.tileSize);
            const int outLeft = static_cast<int>((left - x0) / scale);
            const int outRight = static_cast<int>((right - x0 + scale - 1) / scale);
            const int outTop = static_cast<int>((top - y0) / scale);
            const int outBottom = static_cast<int>((bottom - y0 + scale - 1) / scale);
            const int outWidth = outRight - outLeft;
            const int outHeight = outBottom - outTop;
            if (outWidth <= 0 || outHeight <= 0) {
                continue;
            }
            GDALRasterIOExtraArg extra;
            INIT_RASTERIO_EXTRA_ARG(extra);
            extra.eResampleAlg = GRIORA_Average;
            int bands[3] = {1, 2, 3};
            const int readLeft = static_cast<int>(left - static_cast<long long>(c) * layout.tileSize);
            const int readTop = static_cast<int>(top - static_cast<long long>(r) * layout.tileSize);
            // A tile GDAL cannot read leaves its part of the map empty.
            const CPLErr read = GDALDatasetRasterIOEx(static_cast<GDALDatasetH>(source.get()), GF_Read, readLeft, readTop,
                                  static_cast<int>(right - left), static_cast<int>(bottom - top),
                                  tile.Row(outTop) + static_cast<std::size_t>(outLeft) * 3, outWidth, outHeight,
                                  GDT_Byte, 3, bands, 3, 3 * static_cast<GSpacing>(kMapTileSize), 1, &extra);
            static_cast<void>(read);
        }
    }
    return EncodeJpeg(tile, kMapJpegQuality);
}

}  // namespace georef::workbench
