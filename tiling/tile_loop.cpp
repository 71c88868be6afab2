#include "tiling/tile_loop.hpp"

#include <cmath>
#include <optional>
#include <stdexcept>

#include "platform/temporary_files.hpp"
#include "raster/tile_image.hpp"
#include "tiling/render_tile.hpp"
#include "tiling/tile_lock.hpp"
#include "tiling/world_file.hpp"

namespace georef::tiling {

namespace {

constexpr int kTileEdge = 10000;  // metres
// Tile indices (tileX / 10000) whose tile edges, tileX + 10000 included,
// stay inside 32 bits.
constexpr double kLowestIndex = -214748.0;
constexpr double kHighestIndex = 214747.0;
constexpr int kLargestTileSize = 26754;  // 26754^2 * 3 < 2^31

// Index of the tile that contains coordinate, clamped to what names a tile;
// empty for NaN.
std::optional<int> TileIndexOf(double coordinate) noexcept {
    const double index = std::floor(coordinate / 10000.0);
    if (std::isnan(index)) {
        return std::nullopt;
    }
    if (index < kLowestIndex) {
        return static_cast<int>(kLowestIndex);
    }
    if (index > kHighestIndex) {
        return static_cast<int>(kHighestIndex);
    }
    return static_cast<int>(index);
}

// An existing tile that cannot be painted over is replaced by a white one:
// stored mosaics and scripts rely on that, but the sheets painted into it
// are lost, so it is said.
void WarnTileReplaced(const std::string& name, const raster::LoadedTile& loaded, int tileSize, std::ostream& err) {
    err << "warning: " << name << " is ";
    if (loaded.components != 3) {
        err << "not an RGB tile (" << loaded.components << " components)";
    } else {
        err << loaded.width << " x " << loaded.height << " pixels, not " << tileSize << " x " << tileSize;
    }
    err << ": it is replaced by a white tile and what it held is lost; "
           "use the same dpi for every run into one directory"
        << std::endl;
}

// A file of a tile not written: said on out, and kept in the tally.
void Report(std::ostream& out, TileTally* tally, const std::string& line) {
    out << line << std::endl;
    if (tally != nullptr) {
        tally->problems.push_back(line);
    }
}

}  // namespace

TileRange TileRangeOf(const transform::BoundingBox& box) noexcept {
    TileRange range;
    const std::optional<int> firstX = TileIndexOf(box.minX);
    const std::optional<int> lastX = TileIndexOf(box.maxX);
    const std::optional<int> firstY = TileIndexOf(box.minY);
    const std::optional<int> lastY = TileIndexOf(box.maxY);
    if (!firstX || !lastX || !firstY || !lastY) {
        return range;
    }
    // A box entirely beyond the representable tiles clamps onto one edge
    // tile that it does not meet.
    if (box.maxX < kLowestIndex * kTileEdge || box.minX >= (kHighestIndex + 1.0) * kTileEdge ||
        box.maxY < kLowestIndex * kTileEdge || box.minY >= (kHighestIndex + 1.0) * kTileEdge) {
        return range;
    }
    range.firstTileX = *firstX * kTileEdge;
    range.lastTileX = *lastX * kTileEdge;
    range.firstTileY = *firstY * kTileEdge;
    range.lastTileY = *lastY * kTileEdge;
    return range;
}

bool TileLoop(const std::string& outputDirectory, const RunContext& run, std::ostream& out, std::ostream& err,
              TileTally* tally) {
    if (run.tileSize < 1 || run.tileSize > kLargestTileSize) {
        throw std::invalid_argument("tile size outside 1 .. 26754 pixels");
    }
    const TileRange range = TileRangeOf(run.boundary->box);
    if (range.Empty()) {
        return true;
    }

    TileRenderer renderer(run);
    // One tile object and buffer serve every tile in turn: each tile fills
    // the whole buffer (decoded or white) before it is painted, and the
    // buffer's pages are touched once per run rather than once per tile.
    raster::TileImage tile;
    tile.AllocateBuffer(run.tileSize);
    bool everythingWritten = true;
    for (int tileX = range.firstTileX; tileX <= range.lastTileX; tileX += kTileEdge) {
        for (int tileY = range.firstTileY; tileY <= range.lastTileY; tileY += kTileEdge) {
            // Other runs into this directory wait here until this tile has
            // been replaced; the lock goes with the end of this iteration.
            const std::optional<platform::RegionLock> lock = LockTile(outputDirectory, tileX, tileY);
            bool tileWritten = true;

            const std::string worldName = TileFileName(outputDirectory, tileX, tileY, ".jgw");
            const std::string imageName = TileFileName(outputDirectory, tileX, tileY, ".jpg");
            // Temporary files a killed run left of this tile go: under the
            // tile's lock no live run is writing any.
            platform::RemoveStaleTemporaries(worldName, lock.has_value());
            platform::RemoveStaleTemporaries(imageName, lock.has_value());
            try {
                WriteWorldFile(worldName, WorldFileText(run.pixelSize, tileX, tileY));
            } catch (const std::runtime_error&) {
                Report(out, tally, "chyba vystupniho souboru " + worldName);
                tileWritten = false;
            }

            out << "zapisuji " << imageName << std::endl;
            try {
                TileStart start = TileStart::asLoaded;
                if (raster::TileExists(imageName)) {
                    tile.OpenExisting(imageName);
                    const raster::LoadedTile loaded = tile.LoadPixels();
                    if (!loaded.merged) {
                        WarnTileReplaced(imageName, loaded, run.tileSize, err);
                    }
                } else {
                    tile.CreateNew(imageName);
                    start = TileStart::white;  // cleared row by row while painting
                }
                // Each row is encoded as soon as it is painted.
                if (run.watcher != nullptr) {
                    run.watcher->Begin(imageName, run.tileSize);
                }
                renderer.RenderAndSave(tile, tileX, tileY, out, start);
                tile.CloseFile();
                if (run.watcher != nullptr) {
                    run.watcher->Saved();
                }
            } catch (const raster::TileError&) {
                Report(out, tally, "chyba zapisu dlazdice " + imageName);
                tileWritten = false;
            } catch (...) {
                tile.CloseFile();  // its temporary file goes while the lock is held
                throw;
            }
            everythingWritten = everythingWritten && tileWritten;
            if (tally != nullptr) {
                ++(tileWritten ? tally->written : tally->failed);
            }
        }
    }
    return everythingWritten;
}

}  // namespace georef::tiling
