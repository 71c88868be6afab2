#include "publish/web_mercator.hpp"

#include <algorithm>
#include <cmath>

namespace georef::publish {

TileRange TilesCovering(const MercatorBox& box, int zoom) noexcept {
    const double edge = MercatorTileMetres(zoom);
    const long last = (1L << zoom) - 1;
    TileRange range;
    range.minX = std::clamp(static_cast<long>(std::floor((box.minX + kMercatorHalfWorld) / edge)), 0L, last);
    range.maxX = std::clamp(static_cast<long>(std::ceil((box.maxX + kMercatorHalfWorld) / edge)) - 1, 0L, last);
    range.minY = std::clamp(static_cast<long>(std::floor((kMercatorHalfWorld - box.maxY) / edge)), 0L, last);
    range.maxY = std::clamp(static_cast<long>(std::ceil((kMercatorHalfWorld - box.minY) / edge)) - 1, 0L, last);
    return range;
}

}  // namespace georef::publish
