#include "review/tile_reduction.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <cpl_conv.h>
#include <gdal.h>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "gdal_support/thread_config.hpp"
#include "platform/file_system.hpp"
#include "platform/temporary_files.hpp"
#include "review/mosaic.hpp"

namespace georef::review {

namespace {

namespace fs = std::filesystem;

// The kept copies are read once per page at most and stand in for tiles
// that are themselves JPEGs: a light loss is of no account.
constexpr int kKeptQuality = 90;

// What a kept copy's comment starts with; the tile's state follows.
constexpr const char* kCommentHead = "georef reduced 8 of ";

int Reduced(int pixels, int step = kTileReduction) noexcept { return (pixels + step - 1) / step; }

// Opens an image GDAL reads without listing its folder for side files (the
// tiles' folder holds thousands of them); the caller reads it at once.
gdal_support::DatasetHandle OpenAlone(const std::string& path) {
    gdal_support::RegisterDrivers();
    const gdal_support::ThreadConfig noListing("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    return gdal_support::DatasetHandle(GDALOpen(path.c_str(), GA_ReadOnly));
}

// The whole of an open RGB (or grey) image read into width x height pixels
// (the JPEG driver decodes at a reduced scale when that is smaller).
bool ReadRgb(GDALDatasetH dataset, int width, int height, ReducedTile& tile) {
    const int bands = GDALGetRasterCount(dataset);
    if (bands != 1 && bands != 3) {
        return false;
    }
    tile.width = width;
    tile.height = height;
    tile.rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    int bandMap[3] = {1, 2, 3};
    if (bands == 1) {
        bandMap[1] = bandMap[2] = 1;
    }
    return GDALDatasetRasterIO(dataset, GF_Read, 0, 0, GDALGetRasterXSize(dataset), GDALGetRasterYSize(dataset),
                               tile.rgb.data(), width, height, GDT_Byte, 3, bandMap, 3,
                               static_cast<int>(width) * 3, 1) == CE_None;
}

// Blocks taken together by ReduceBlockRow: their samples of 8 rows are
// summed in a few registers, one row after the other.
constexpr int kBlocksTogether = 2;

// The means of one row of blocks: `rows` rows (8 but for a tile's last) of
// `width` RGB pixels, rowSamples bytes apart, into the reduced row `out`.
// Each mean is rounded to the nearest level.
void ReduceBlockRow(const std::uint8_t* rows0, std::size_t rowSamples, int width, int rows, std::uint8_t* out) noexcept {
    constexpr int kSamples = kBlocksTogether * kTileReduction * 3;
    const int blocks = Reduced(width);
    int block = 0;
    if (rows == kTileReduction) {
        const unsigned count = kTileReduction * kTileReduction;
        for (; (block + kBlocksTogether) * kTileReduction <= width; block += kBlocksTogether) {
            // At most 8 x 255 is summed: 16 bits hold it.
            std::uint16_t sums[kSamples];
            const std::uint8_t* p = rows0 + static_cast<std::size_t>(block) * kTileReduction * 3;
            for (int k = 0; k < kSamples; ++k) {
                sums[k] = p[k];
            }
            for (int r = 1; r < kTileReduction; ++r) {
                const std::uint8_t* q = p + static_cast<std::size_t>(r) * rowSamples;
                for (int k = 0; k < kSamples; ++k) {
                    sums[k] = static_cast<std::uint16_t>(sums[k] + q[k]);
                }
            }
            for (int b = 0; b < kBlocksTogether; ++b) {
                unsigned total[3] = {0, 0, 0};
                for (int x = 0; x < kTileReduction; ++x) {
                    const std::uint16_t* s = sums + (b * kTileReduction + x) * 3;
                    total[0] += s[0], total[1] += s[1], total[2] += s[2];
                }
                for (int c = 0; c < 3; ++c) {
                    out[(block + b) * 3 + c] = static_cast<std::uint8_t>((total[c] + count / 2) / count);
                }
            }
        }
    }
    // The rest, and the blocks of the last rows and columns, which hold fewer pixels.
    for (; block < blocks; ++block) {
        const int left = block * kTileReduction;
        const int columns = std::min(kTileReduction, width - left);
        const unsigned count = static_cast<unsigned>(columns * rows);
        unsigned total[3] = {0, 0, 0};
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t* q = rows0 + static_cast<std::size_t>(r) * rowSamples + static_cast<std::size_t>(left) * 3;
            for (int x = 0; x < columns; ++x, q += 3) {
                total[0] += q[0], total[1] += q[1], total[2] += q[2];
            }
        }
        for (int c = 0; c < 3; ++c) {
            out[block * 3 + c] = static_cast<std::uint8_t>((total[c] + count / 2) / count);
        }
    }
}

}  // namespace

std::string ReducedTilePath(const std::string& tileImage) {
    const fs::path tile(tileImage);
    return (tile.parent_path() / "reduced" / tile.filename()).string();
}

std::optional<ReducedTile> ReadKeptReduction(const std::string& tileImage, int width, int height, int scale) {
    if (scale != 1 && scale != 2 && scale != 4 && scale != kMostKeptScale) {
        return std::nullopt;
    }
    const std::string state = platform::FileState(tileImage);
    const std::string kept = ReducedTilePath(tileImage);
    if (state.empty() || !platform::Exists(kept)) {
        return std::nullopt;
    }
    const gdal_support::QuietErrors quiet;
    const gdal_support::DatasetHandle dataset = OpenAlone(kept);
    if (!dataset) {
        return std::nullopt;
    }
    const char* comment = GDALGetMetadataItem(dataset.get(), "COMMENT", nullptr);
    if (comment == nullptr || std::string(comment) != kCommentHead + state ||
        GDALGetRasterXSize(dataset.get()) != Reduced(width) || GDALGetRasterYSize(dataset.get()) != Reduced(height)) {
        return std::nullopt;
    }
    ReducedTile tile;
    tile.step = kTileReduction;
    GDALDatasetH source = dataset.get();
    // The JPEG driver offers its decoder's scales as overviews, each a
    // dataset of its own (read whole, the scaled output as it comes), but
    // only for images of 256 pixels and more unless asked: a kept copy is
    // often smaller. Without the overview, the copy is read whole.
    std::optional<gdal_support::ThreadConfig> scaled;
    if (scale > 1) {
        scaled.emplace("JPEG_FORCE_INTERNAL_OVERVIEWS", "YES");
        GDALRasterBandH band = GDALGetRasterBand(source, 1);
        const int count = band == nullptr ? 0 : GDALGetOverviewCount(band);
        for (int k = 0; k < count; ++k) {
            GDALRasterBandH overview = GDALGetOverview(band, k);
            GDALDatasetH holder = overview == nullptr ? nullptr : GDALGetBandDataset(overview);
            if (holder != nullptr && GDALGetRasterXSize(holder) == Reduced(width, kTileReduction * scale) &&
                GDALGetRasterYSize(holder) == Reduced(height, kTileReduction * scale) &&
                GDALGetRasterCount(holder) == GDALGetRasterCount(source)) {
                source = holder;
                tile.step = kTileReduction * scale;
                break;
            }
        }
    }
    if (!ReadRgb(source, GDALGetRasterXSize(source), GDALGetRasterYSize(source), tile)) {
        return std::nullopt;
    }
    return tile;
}

ReducedTile ReduceTile(const std::string& tileImage, int width, int height, int scale) {
    if (std::optional<ReducedTile> kept = ReadKeptReduction(tileImage, width, height, scale)) {
        return std::move(*kept);
    }
    const gdal_support::QuietErrors quiet;
    const gdal_support::DatasetHandle dataset = OpenAlone(tileImage);
    ReducedTile tile;
    if (!dataset || GDALGetRasterXSize(dataset.get()) != width || GDALGetRasterYSize(dataset.get()) != height ||
        !ReadRgb(dataset.get(), Reduced(width), Reduced(height), tile)) {
        const std::string expected =
            "not an RGB image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
        throw MosaicError("cannot read the tile " + tileImage + ": " + gdal_support::LastMessage(expected.c_str()));
    }
    return tile;
}

void TileReducer::Begin(const std::string& tileImage, int size) noexcept {
    m_usable = false;
    m_rowsTold = 0;
    m_misaligned = false;
    try {
        m_tile = tileImage;
        m_size = size;
        if (size < 1) {
            return;
        }
        m_reduced.width = Reduced(size);
        m_reduced.height = Reduced(size);
        m_reduced.rgb.assign(static_cast<std::size_t>(m_reduced.width) * m_reduced.height * 3, 0);
        m_usable = true;
    } catch (...) {
        m_usable = false;  // no memory for it: this tile's reduction is not kept
    }
}

void TileReducer::Rows(int first, int end, const std::uint8_t* rgb) noexcept {
    if (!m_usable || first % kTileReduction != 0 || first < 0 || end > m_size || first >= end) {
        m_misaligned = true;
        return;
    }
    const std::size_t rowSamples = static_cast<std::size_t>(m_size) * 3;
    for (int top = first; top < end; top += kTileReduction) {
        const int rows = std::min(kTileReduction, end - top);
        if (rows < kTileReduction && end != m_size) {
            m_misaligned = true;  // a block cut between two calls
            return;
        }
        const std::uint8_t* const blockRow = rgb + static_cast<std::size_t>(top - first) * rowSamples;
        std::uint8_t* const out =
            m_reduced.rgb.data() + static_cast<std::size_t>(top / kTileReduction) * m_reduced.width * 3;
        ReduceBlockRow(blockRow, rowSamples, m_size, rows, out);
    }
    m_rowsTold += end - first;
}

void TileReducer::Saved() noexcept {
    if (!m_usable || m_misaligned || m_rowsTold != m_size) {
        return;
    }
    m_usable = false;
    try {
        const std::string kept = ReducedTilePath(m_tile);
        std::error_code ignored;
        fs::create_directories(fs::path(kept).parent_path(), ignored);
        // Under the tile's lock: whatever temporary of this copy exists, a killed run left.
        platform::RemoveStaleTemporaries(kept, true);
        const std::string state = platform::FileState(m_tile);
        if (state.empty()) {
            return;
        }
        JpegFileOptions file;
        file.comment = kCommentHead + state;
        file.synced = false;  // made again from the tile when lost
        WriteJpeg(kept, m_reduced.rgb.data(), m_reduced.width, m_reduced.height, kKeptQuality, file);
        ++m_kept;
    } catch (...) {
        // Not kept: the page decodes this tile instead.
    }
}

}  // namespace georef::review
