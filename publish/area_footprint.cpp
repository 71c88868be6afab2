#include "publish/area_footprint.hpp"

#include <ogr_spatialref.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

#include "publish/publish_error.hpp"

namespace georef::publish {

namespace {

constexpr int kPointsPerSide = 16;  // outline points per tile side

struct TransformationCloser {
    void operator()(OGRCoordinateTransformation* t) const noexcept { OGRCoordinateTransformation::DestroyCT(t); }
};
using Transformation = std::unique_ptr<OGRCoordinateTransformation, TransformationCloser>;

Transformation FromKrovak(int targetEpsg) {
    OGRSpatialReference source;
    OGRSpatialReference target;
    source.importFromEPSG(5514);
    target.importFromEPSG(targetEpsg);
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    Transformation t(OGRCreateCoordinateTransformation(&source, &target));
    if (!t) {
        throw PublishError("PROJ has no transformation from EPSG:5514 to EPSG:" + std::to_string(targetEpsg));
    }
    return t;
}

// The outline of a box, kPointsPerSide points on each side, transformed;
// returns the bounds of the result as minX, minY, maxX, maxY.
std::array<double, 4> TransformedBounds(OGRCoordinateTransformation& t, const EastNorthBox& box) {
    std::vector<double> x;
    std::vector<double> y;
    for (int k = 0; k < kPointsPerSide; ++k) {
        const double f = static_cast<double>(k) / kPointsPerSide;
        const double e = box.west + f * (box.east - box.west);
        const double n = box.south + f * (box.north - box.south);
        x.insert(x.end(), {e, box.east, box.east - f * (box.east - box.west), box.west});
        y.insert(y.end(), {box.south, n, box.north, box.north - f * (box.north - box.south)});
    }
    if (!t.Transform(x.size(), x.data(), y.data())) {
        throw PublishError("PROJ cannot transform the tiles' outlines from EPSG:5514");
    }
    return {*std::min_element(x.begin(), x.end()), *std::min_element(y.begin(), y.end()),
            *std::max_element(x.begin(), x.end()), *std::max_element(y.begin(), y.end())};
}

}  // namespace

AreaFootprint FootprintOf(const SourceArea& area) {
    const Transformation toMercator = FromKrovak(3857);
    const Transformation toLonLat = FromKrovak(4326);
    AreaFootprint footprint;
    const double inf = std::numeric_limits<double>::infinity();
    footprint.whole = {inf, inf, -inf, -inf};
    footprint.lonLat = {inf, inf, -inf, -inf};
    for (const SourceTile& tile : area.tiles) {
        const std::array<double, 4> m = TransformedBounds(*toMercator, tile.Box());
        const MercatorBox box{m[0], m[1], m[2], m[3]};
        footprint.tiles.push_back(box);
        footprint.whole = {std::min(footprint.whole.minX, box.minX), std::min(footprint.whole.minY, box.minY),
                           std::max(footprint.whole.maxX, box.maxX), std::max(footprint.whole.maxY, box.maxY)};
        const std::array<double, 4> g = TransformedBounds(*toLonLat, tile.Box());
        footprint.lonLat = {std::min(footprint.lonLat.west, g[0]), std::min(footprint.lonLat.south, g[1]),
                            std::max(footprint.lonLat.east, g[2]), std::max(footprint.lonLat.north, g[3])};
    }
    return footprint;
}

}  // namespace georef::publish
