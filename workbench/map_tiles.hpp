#pragma once
// Map tiles of an output directory's mosaic for a zoomable map (Leaflet's
// z/x/y scheme over the mosaic's own pixel grid): at the deepest level one
// map pixel is one mosaic pixel; each level above halves the resolution,
// averaging. Tiles are drawn on demand straight from the JPEG tiles of the
// output directory (X_Y.jpg, placed by name as mosaic.vrt places them, read
// with GDAL's averaging, a JPEG decoded at a reduced scale where it can be)
// and kept in a cache of bounded size until the mosaic changes.
//
// Frames: mosaic pixels, column from the west edge of mosaic.vrt, row from
// its north edge; output metres X south, Y west (easting = -Y, northing = -X).

#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

namespace georef::workbench {

// A map tile's side, pixels.
inline constexpr int kMapTileSize = 256;

struct MosaicLayout {
    int width = 0;   // mosaic pixels
    int height = 0;
    int tileSize = 0;      // pixels of one 10 km tile
    double west = 0.0;     // easting of the west edge, metres
    double north = 0.0;    // northing of the north edge, metres
    int firstRow = 0;      // tileX / 10 000 of the northernmost tile row
    int lastColumn = 0;    // tileY / 10 000 of the westernmost tile column
    int deepestLevel = 0;  // the level at which one map pixel is one mosaic pixel

    double PixelMetres() const noexcept { return 10000.0 / tileSize; }
};

class MapTiles {
public:
    // outputDirectory holds mosaic.vrt and the tiles. cacheBytes bounds the
    // cache of encoded tiles.
    explicit MapTiles(std::string outputDirectory, std::size_t cacheBytes = 48u << 20);

    // The layout of the present mosaic.vrt; empty when there is none (no
    // tile yet) or GDAL cannot read it.
    std::optional<MosaicLayout> Layout();

    // The JPEG of map tile (level, x, y); empty outside the mosaic or
    // without one. Thread-safe.
    std::optional<std::string> Tile(int level, int x, int y);

    // Forgets the layout and every tile: the mosaic changed.
    void Invalidate();

private:
    using Key = std::tuple<int, int, int>;
    std::string Render(const MosaicLayout& layout, int level, int x, int y) const;

    std::string m_outputDirectory;
    std::size_t m_cacheBytes;
    std::mutex m_mutex;  // guards everything below
    std::optional<MosaicLayout> m_layout;
    bool m_layoutRead = false;
    std::list<Key> m_recent;  // most recently used first
    std::map<Key, std::pair<std::string, std::list<Key>::iterator>> m_cache;
    std::size_t m_cachedBytes = 0;
    unsigned long m_generation = 0;  // raised by Invalidate: tiles drawn before are not kept
};

}  // namespace georef::workbench
