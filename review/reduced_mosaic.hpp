#pragma once
// The mosaic at an eighth of its pixels, put together from its tiles'
// reductions (review/tile_reduction.hpp) instead of decoding the tiles:
// the page's overview averaged down from them, and single reduced pixels
// for the seam strips drawn at that scale.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "review/mosaic_tiles.hpp"
#include "review/tile_reduction.hpp"

namespace georef::review {

// The coarsest scale (1, 2, 4 or 8) at which the tiles' kept reductions can
// be read for an image of outWidth x outHeight pixels of a mosaic of
// width x height: each pixel read still lies within at most two output
// pixels each way. 0 when the image is finer than the reductions.
int KeptReadScale(int width, int height, int outWidth, int outHeight) noexcept;

// The mosaic of width x height pixels made of `tiles` (none overlapping),
// averaged into outWidth x outHeight RGB pixels (top row first), each the
// mean of the tiles' reduced pixels under it weighted by the area they
// cover; a pixel less than half covered by tiles is white. The kept
// reductions are read at `readScale`, at most KeptReadScale (1 gives the
// block means themselves; coarser, the decoder's scaled preview of them,
// at a fraction of the cost). Throws MosaicError when a tile cannot be read.
std::vector<std::uint8_t> AverageReducedTiles(const std::vector<MosaicTile>& tiles, int width, int height,
                                              int outWidth, int outHeight, int readScale = 1);

// The reduced pixels of a mosaic's tiles, each tile reduced (or its kept
// reduction read) once while the object lives; at most kHeld tiles are
// held, the earliest asked let go first.
class ReducedPixels {
public:
    // The tiles are looked through in turn: give those under the pixels
    // asked (a strip's window), not a whole large mosaic's.
    explicit ReducedPixels(std::vector<MosaicTile> tiles) : m_tiles(std::move(tiles)) {}

    // The RGB of the reduced pixel that holds mosaic pixel (column, row);
    // null where no tile is. Throws MosaicError when its tile cannot be read.
    const std::uint8_t* At(double column, double row);

private:
    static constexpr std::size_t kHeld = 64;
    const ReducedTile& Held(std::size_t index);

    std::vector<MosaicTile> m_tiles;
    std::map<std::size_t, ReducedTile> m_held;
    std::vector<std::size_t> m_order;  // tiles held, earliest asked first
    std::size_t m_last = 0;            // the tile the last pixel came from
};

}  // namespace georef::review
