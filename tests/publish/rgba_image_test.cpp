// The averaging that makes every coarser web tile.

#include <gtest/gtest.h>

#include "publish/rgba_image.hpp"
#include "publish/web_mercator.hpp"

namespace georef::publish {
namespace {

RgbaImage Square(std::initializer_list<std::array<std::uint8_t, 4>> pixels) {
    RgbaImage image(2);
    std::size_t k = 0;
    for (const auto& p : pixels) {
        std::copy(p.begin(), p.end(), image.pixels.begin() + 4 * static_cast<std::ptrdiff_t>(k++));
    }
    return image;
}

TEST(Halve, TransparentPixelsDoNotDarkenTheirNeighbours) {
    // Two white pixels inside the area and two outside (black, alpha 0).
    const RgbaImage half = Halve(Square({{255, 255, 255, 255}, {0, 0, 0, 0}, {255, 255, 255, 255}, {0, 0, 0, 0}}));
    ASSERT_EQ(half.size, 1);
    EXPECT_EQ(half.pixels, (std::vector<std::uint8_t>{255, 255, 255, 128}));
    EXPECT_EQ(CoverageOf(half), TileCoverage::partial);

    const RgbaImage empty = Halve(Square({{9, 9, 9, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}));
    EXPECT_EQ(empty.pixels, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(CoverageOf(empty), TileCoverage::empty);

    // Opaque: the rounded mean of each band.
    const RgbaImage mean = Halve(Square({{10, 0, 1, 255}, {11, 0, 2, 255}, {10, 255, 2, 255}, {10, 0, 2, 255}}));
    EXPECT_EQ(mean.pixels, (std::vector<std::uint8_t>{10, 64, 2, 255}));
    EXPECT_EQ(CoverageOf(mean), TileCoverage::full);
    EXPECT_THROW(Halve(RgbaImage(3)), std::invalid_argument);
}

TEST(Halve, EdgePixelsOverWhiteBlendByAlpha) {
    RgbaImage image(1);
    image.pixels = {0, 100, 255, 128};
    EXPECT_EQ(OverWhite(image), (std::vector<std::uint8_t>{127, 177, 255}));
}

TEST(WebMercator, TilesCoveringABoxAreThoseItTouches) {
    // Zoom 1: four tiles meeting at the origin.
    const TileRange all = TilesCovering({-1.0, -1.0, 1.0, 1.0}, 1);
    EXPECT_EQ(all.minX, 0);
    EXPECT_EQ(all.maxX, 1);
    EXPECT_EQ(all.minY, 0);
    EXPECT_EQ(all.maxY, 1);
    const TileRange northEast = TilesCovering({1.0, 1.0, 2.0, 2.0}, 1);
    EXPECT_EQ(northEast.minX, 1);
    EXPECT_EQ(northEast.maxX, 1);
    EXPECT_EQ(northEast.minY, 0);
    EXPECT_EQ(northEast.maxY, 0);
    const MercatorBox box = WebTileBox(1, 1, 0);
    EXPECT_DOUBLE_EQ(box.minX, 0.0);
    EXPECT_DOUBLE_EQ(box.maxY, kMercatorHalfWorld);
}

}  // namespace
}  // namespace georef::publish
