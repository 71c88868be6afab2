#pragma once
// Each tile of the mosaic reduced to an eighth of its pixels along each
// edge, the mean of every 8 x 8 block (the last, partial block of a row or
// column the mean of what it holds), for the review page's overview and
// seam strips. A batch keeps the reduction of every tile it writes in
// OUTDIR/reduced/NAME.jpg, made from the pixels as they were encoded, so
// that the page does not decode every new tile once more. A kept copy
// carries, as its JPEG comment, the state of the tile file it was made from
// (platform::FileState); it stands for the tile only while the tile is in
// exactly that state. Any other tile is decoded at an eighth of its size,
// which the JPEG decoder does from its blocks' mean values.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tiling/tile_watcher.hpp"

namespace georef::review {

// Tile pixels per reduced pixel, along each edge.
constexpr int kTileReduction = 8;

// A tile reduced: ceil(tile width / step) x ceil(tile height / step) RGB
// pixels, top row first, each standing for step x step tile pixels (the
// last row and column for what is left).
struct ReducedTile {
    int width = 0;
    int height = 0;
    int step = kTileReduction;
    std::vector<std::uint8_t> rgb;
};

// How much coarser than a kept reduction a read of it may be: the JPEG
// decoder scales by 1/2, 1/4 or 1/8 from the blocks' coefficients, so a
// read at `scale` costs a fraction of a whole decoding.
constexpr int kMostKeptScale = 8;

// Where the reduction of the tile OUTDIR/NAME.jpg is kept: OUTDIR/reduced/NAME.jpg.
std::string ReducedTilePath(const std::string& tileImage);

// The kept reduction of the tile, when it was made from the tile file as it
// is now and has the reduced size of a tile of width x height; empty
// otherwise (none kept, made from other bytes, unreadable). `scale` (1, 2,
// 4 or 8) reads it decoded at 1/scale of its size (step 8 x scale; step 8
// if the decoder cannot): a preview of it, not the block means.
std::optional<ReducedTile> ReadKeptReduction(const std::string& tileImage, int width, int height, int scale = 1);

// The tile reduced: its kept reduction when that holds (read at `scale`),
// else the tile decoded at an eighth of its size (step 8, whatever
// `scale`). Throws MosaicError when the tile cannot be read.
ReducedTile ReduceTile(const std::string& tileImage, int width, int height, int scale = 1);

// Keeps the reduction of every tile a run writes: the mean of each block,
// taken by the painting threads from the rows they have just painted,
// written to ReducedTilePath when the tile file has been replaced, under the
// tile's lock. A reduction that cannot be written is left out (the page then
// decodes that tile). One per run.
class TileReducer : public tiling::TileWatcher {
public:
    void Begin(const std::string& tileImage, int size) noexcept override;
    void Rows(int first, int end, const std::uint8_t* rgb) noexcept override;
    void Saved() noexcept override;

    // Tiles whose reduction this reducer kept.
    int Kept() const noexcept { return m_kept; }

private:
    std::string m_tile;
    int m_size = 0;
    bool m_usable = false;
    std::atomic<int> m_rowsTold{0};
    std::atomic<bool> m_misaligned{false};
    ReducedTile m_reduced;  // block rows written by the threads that tell their rows
    int m_kept = 0;
};

}  // namespace georef::review
