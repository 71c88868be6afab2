#pragma once
// The tile grid of web maps (the scheme of OpenStreetMap's tiles): Web
// Mercator (EPSG:3857) metres, 256-pixel tiles, zoom z has 2^z x 2^z tiles,
// x eastward from -180 degrees, y southward from the north edge.

namespace georef::publish {

inline constexpr int kWebTilePixels = 256;
inline constexpr double kMercatorHalfWorld = 20037508.342789244;  // metres from the origin to the edge

struct MercatorBox {
    double minX = 0.0;  // metres, EPSG:3857
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;

    bool Intersects(const MercatorBox& other) const noexcept {
        return minX < other.maxX && other.minX < maxX && minY < other.maxY && other.minY < maxY;
    }
    MercatorBox Grown(double metres) const noexcept {
        return {minX - metres, minY - metres, maxX + metres, maxY + metres};
    }
};

// Ground metres of Web Mercator per pixel at a zoom.
inline double MercatorResolution(int zoom) noexcept {
    return 2.0 * kMercatorHalfWorld / (static_cast<double>(kWebTilePixels) * static_cast<double>(1LL << zoom));
}

// Edge of one tile at a zoom, metres.
inline double MercatorTileMetres(int zoom) noexcept { return MercatorResolution(zoom) * kWebTilePixels; }

// The box of tile (x, y) at zoom.
inline MercatorBox WebTileBox(int zoom, long x, long y) noexcept {
    const double edge = MercatorTileMetres(zoom);
    const double minX = -kMercatorHalfWorld + static_cast<double>(x) * edge;
    const double maxY = kMercatorHalfWorld - static_cast<double>(y) * edge;
    return {minX, maxY - edge, minX + edge, maxY};
}

struct TileRange {
    long minX = 0;  // inclusive tile numbers
    long minY = 0;
    long maxX = -1;
    long maxY = -1;
};

// The tiles at zoom that a box touches.
TileRange TilesCovering(const MercatorBox& box, int zoom) noexcept;

}  // namespace georef::publish
