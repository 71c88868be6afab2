// The reduction a batch keeps of each tile it writes: the means of the
// tile's 8 x 8 blocks as its rows were painted, kept beside the tiles and
// used by the review page only while the tile file is the one it was made
// from; and the page's overview and seam strips drawn from those reductions
// against the same images drawn from the tiles themselves.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gdal.h>
#include <gdal_utils.h>

#include "review/mosaic.hpp"
#include "review/reduced_mosaic.hpp"
#include "review/tile_reduction.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"

namespace georef::review {
namespace {

namespace fs = std::filesystem;

// Tiles of 100 pixels: 13 reduced pixels, the last of 4 x 4 pixels.
constexpr int kSize = 100;

// A smooth picture, so that a JPEG of it or of its block means loses little
// (its colour is kept at half the resolution): red along the columns (up to
// 300), green along the rows (up to 200), blue a wave over both.
test::Rgb Smooth(int column, int row, int shift) {
    const int x = column + shift;
    return {static_cast<std::uint8_t>(20 + x * 3 / 4), static_cast<std::uint8_t>(30 + row),
            static_cast<std::uint8_t>(128 + 40 * std::sin((x + row) / 40.0))};
}

std::vector<std::uint8_t> Pixels(int shift) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kSize) * kSize * 3);
    for (int r = 0; r < kSize; ++r) {
        for (int c = 0; c < kSize; ++c) {
            const test::Rgb p = Smooth(c, r, shift);
            std::uint8_t* at = &rgb[(static_cast<std::size_t>(r) * kSize + c) * 3];
            at[0] = p.r, at[1] = p.g, at[2] = p.b;
        }
    }
    return rgb;
}

// The mean of each 8 x 8 block (fewer pixels at the last row and column).
std::vector<double> BlockMeans(const std::vector<std::uint8_t>& rgb, int size) {
    const int reduced = (size + 7) / 8;
    std::vector<double> means(static_cast<std::size_t>(reduced) * reduced * 3);
    for (int by = 0; by < reduced; ++by) {
        for (int bx = 0; bx < reduced; ++bx) {
            for (int k = 0; k < 3; ++k) {
                double sum = 0.0;
                int n = 0;
                for (int r = by * 8; r < std::min(size, by * 8 + 8); ++r) {
                    for (int c = bx * 8; c < std::min(size, bx * 8 + 8); ++c, ++n) {
                        sum += rgb[(static_cast<std::size_t>(r) * size + c) * 3 + k];
                    }
                }
                means[(static_cast<std::size_t>(by) * reduced + bx) * 3 + k] = sum / n;
            }
        }
    }
    return means;
}

// How far got lies from expected: the mean and the largest difference. A
// JPEG of 13 x 13 pixels keeps its colour at half that, so single values
// stray by up to about ten levels.
struct Difference {
    double mean = 0.0;
    double worst = 0.0;
};

Difference DifferenceOf(const std::vector<double>& expected, const std::vector<std::uint8_t>& got) {
    EXPECT_EQ(expected.size(), got.size());
    Difference d;
    for (std::size_t k = 0; k < std::min(expected.size(), got.size()); ++k) {
        d.worst = std::max(d.worst, std::fabs(expected[k] - got[k]));
        d.mean += std::fabs(expected[k] - got[k]) / static_cast<double>(expected.size());
    }
    return d;
}

void ExpectClose(const std::vector<double>& expected, const std::vector<std::uint8_t>& got) {
    const Difference d = DifferenceOf(expected, got);
    EXPECT_LT(d.mean, 4.0);
    EXPECT_LT(d.worst, 12.0);
}

// Tells a reducer the rows of a tile as the painting threads do: groups of
// 8 rows, here from the bottom up.
void TellRows(TileReducer& reducer, const std::string& tile, const std::vector<std::uint8_t>& rgb) {
    reducer.Begin(tile, kSize);
    const int together = tiling::TileWatcher::kRowsTogether;
    for (int first = (kSize - 1) / together * together; first >= 0; first -= together) {
        const int end = std::min(kSize, first + together);
        reducer.Rows(first, end, rgb.data() + static_cast<std::size_t>(first) * kSize * 3);
    }
}

TEST(TileReduction, AKeptReductionHoldsTheBlockMeansWhileTheTileIsTheOneItWasMadeFrom) {
    const test::TempDir dir;
    const std::string tile = dir.File("106_59.jpg");
    const std::vector<std::uint8_t> rgb = Pixels(0);
    test::WriteJpeg(tile, kSize, kSize, [](int c, int r) { return Smooth(c, r, 0); });

    // Rows missing or cut off a block: nothing kept.
    TileReducer reducer;
    reducer.Begin(tile, kSize);
    reducer.Rows(0, 64, rgb.data());
    reducer.Saved();
    reducer.Begin(tile, kSize);
    reducer.Rows(0, 64, rgb.data());
    reducer.Rows(60, 100, rgb.data() + 60 * kSize * 3);
    reducer.Saved();
    EXPECT_EQ(reducer.Kept(), 0);
    EXPECT_FALSE(fs::exists(ReducedTilePath(tile)));
    EXPECT_FALSE(ReadKeptReduction(tile, kSize, kSize));

    TellRows(reducer, tile, rgb);
    reducer.Saved();
    EXPECT_EQ(reducer.Kept(), 1);
    EXPECT_EQ(ReducedTilePath(tile), dir.File("reduced/106_59.jpg"));
    const std::optional<ReducedTile> kept = ReadKeptReduction(tile, kSize, kSize);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->width, 13);
    EXPECT_EQ(kept->height, 13);
    // The means of the painted pixels, the partial blocks included, to
    // within the kept JPEG's loss.
    ExpectClose(BlockMeans(rgb, kSize), kept->rgb);
    // Asked for a tile of another size, it is not the tile's.
    EXPECT_FALSE(ReadKeptReduction(tile, 2 * kSize, 2 * kSize));

    // The tile written again (as georef alone would): the kept copy no longer
    // stands for it, and the tile itself is reduced, at the decoder's scale.
    test::WriteJpeg(tile, kSize, kSize, [](int c, int r) { return Smooth(c, r, 37); });
    EXPECT_FALSE(ReadKeptReduction(tile, kSize, kSize));
    const ReducedTile decoded = ReduceTile(tile, kSize, kSize);
    EXPECT_EQ(decoded.width, 13);
    ExpectClose(BlockMeans(Pixels(37), kSize), decoded.rgb);
    // Only touched: the same bytes, but the reduction is not trusted either.
    TellRows(reducer, tile, Pixels(37));
    reducer.Saved();
    ASSERT_TRUE(ReadKeptReduction(tile, kSize, kSize));
    fs::last_write_time(tile, fs::last_write_time(tile) + std::chrono::seconds(1));
    EXPECT_FALSE(ReadKeptReduction(tile, kSize, kSize));

    // A tile that is no image cannot be reduced.
    test::WriteFileBytes(dir.File("107_59.jpg"), "not a tile");
    EXPECT_THROW(ReduceTile(dir.File("107_59.jpg"), kSize, kSize), MosaicError);
}

TEST(TileReduction, AKeptReductionReadCoarserIsTheDecodersScaledPictureOfIt) {
    // A tile of 256 grey pixels whose 8 x 8 blocks are black and white by
    // turns along each row: its kept reduction (32 x 32) has columns of
    // black and white by turns, the finest detail a JPEG holds.
    constexpr int kTile = 256;
    const test::TempDir dir;
    const std::string tile = dir.File("106_59.jpg");
    const auto stripes = [](int c, int) {
        const std::uint8_t v = (c / 8) % 2 == 0 ? 0 : 255;
        return test::Rgb{v, v, v};
    };
    test::WriteJpeg(tile, kTile, kTile, stripes);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kTile) * kTile * 3);
    for (int r = 0; r < kTile; ++r) {
        for (int c = 0; c < kTile; ++c) {
            const test::Rgb p = stripes(c, r);
            std::uint8_t* at = &rgb[(static_cast<std::size_t>(r) * kTile + c) * 3];
            at[0] = p.r, at[1] = p.g, at[2] = p.b;
        }
    }
    TileReducer reducer;
    reducer.Begin(tile, kTile);
    reducer.Rows(0, kTile, rgb.data());
    reducer.Saved();
    ASSERT_EQ(reducer.Kept(), 1);

    const std::optional<ReducedTile> whole = ReadKeptReduction(tile, kTile, kTile);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->step, 8);
    EXPECT_LT(whole->rgb[0], 40);
    EXPECT_GT(whole->rgb[3], 215);
    for (const int scale : {2, 4, 8}) {
        const std::optional<ReducedTile> coarse = ReadKeptReduction(tile, kTile, kTile, scale);
        ASSERT_TRUE(coarse) << scale;
        EXPECT_EQ(coarse->step, 8 * scale);
        EXPECT_EQ(coarse->width, 32 / scale);
        EXPECT_EQ(coarse->height, 32 / scale);
        // Each pixel the mean of black and white columns: a sampling of
        // every scale-th pixel would be black all over.
        for (const std::uint8_t v : coarse->rgb) {
            ASSERT_NEAR(v, 128, 16) << "at 1/" << scale;
        }
    }
    EXPECT_FALSE(ReadKeptReduction(tile, kTile, kTile, 3));
    EXPECT_FALSE(ReadKeptReduction(tile, kTile, kTile, 16));

    // Without its kept copy the tile is decoded at an eighth, whatever the scale asked.
    fs::remove_all(dir.File("reduced"));
    const ReducedTile decoded = ReduceTile(tile, kTile, kTile, 4);
    EXPECT_EQ(decoded.step, 8);
    EXPECT_EQ(decoded.width, 32);
}

// A mosaic.vrt over a 3 x 2 grid of tiles with the middle one of the top
// row missing (white on the page), 1 m pixels, kept reductions for all.
std::string WriteMosaic(const test::TempDir& dir, std::vector<std::string>& tiles) {
    GDALAllRegister();
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            if (row == 0 && column == 1) {
                continue;
            }
            const std::string name = dir.File(std::to_string(column) + "_" + std::to_string(row) + ".jpg");
            const int shift = column * kSize;
            test::WriteJpeg(name, kSize, kSize, [&](int c, int r) { return Smooth(c, r + row * kSize, shift); });
            test::WriteFileBytes(name.substr(0, name.size() - 4) + ".jgw",
                                 "1\n0\n0\n-1\n" + std::to_string(column * kSize + 0.5) + "\n" +
                                     std::to_string(2 * kSize - row * kSize - 0.5) + "\n");
            std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kSize) * kSize * 3);
            for (int r = 0; r < kSize; ++r) {
                for (int c = 0; c < kSize; ++c) {
                    const test::Rgb p = Smooth(c, r + row * kSize, shift);
                    std::uint8_t* at = &rgb[(static_cast<std::size_t>(r) * kSize + c) * 3];
                    at[0] = p.r, at[1] = p.g, at[2] = p.b;
                }
            }
            TileReducer reducer;
            TellRows(reducer, name, rgb);
            reducer.Saved();
            tiles.push_back(name);
        }
    }
    std::vector<const char*> sources;
    for (const std::string& t : tiles) {
        sources.push_back(t.c_str());
    }
    const std::string vrt = dir.File("mosaic.vrt");
    int failed = 0;
    GDALDatasetH mosaic = GDALBuildVRT(vrt.c_str(), static_cast<int>(sources.size()), nullptr, sources.data(), nullptr,
                                       &failed);
    EXPECT_NE(mosaic, nullptr);
    GDALClose(mosaic);
    return vrt;
}

std::vector<std::uint8_t> ReadImage(const std::string& path, int& width, int& height) {
    GDALDatasetH image = GDALOpen(path.c_str(), GA_ReadOnly);
    EXPECT_NE(image, nullptr);
    width = GDALGetRasterXSize(image);
    height = GDALGetRasterYSize(image);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    int bands[3] = {1, 2, 3};
    EXPECT_EQ(GDALDatasetRasterIO(image, GF_Read, 0, 0, width, height, rgb.data(), width, height, GDT_Byte, 3, bands, 3,
                                  width * 3, 1),
              CE_None);
    GDALClose(image);
    return rgb;
}

TEST(TileReduction, TheOverviewAndStripsFromKeptReductionsShowWhatTheTilesShow) {
    const test::TempDir dir;
    std::vector<std::string> tiles;
    const std::string vrt = WriteMosaic(dir, tiles);
    const Mosaic mosaic = Mosaic::Open(vrt);

    // 300 x 200 pixels into 30 x 20: ten to a pixel, coarse enough for the kept copies.
    const std::string keyWithKept = mosaic.ImageKey(nullptr, 30);
    const WrittenImage fromKept = mosaic.WriteOverview(dir.File("kept.jpg"), 30);
    fs::remove_all(dir.File("reduced"));
    const std::string keyWithout = mosaic.ImageKey(nullptr, 30);
    EXPECT_NE(keyWithKept, keyWithout);  // an earlier page's overview is not taken for this one
    const WrittenImage fromTiles = mosaic.WriteOverview(dir.File("tiles.jpg"), 30);
    EXPECT_EQ(fromKept.width, 30);
    EXPECT_EQ(fromKept.height, 20);
    EXPECT_EQ(fromTiles.width, fromKept.width);
    EXPECT_EQ(fromTiles.height, fromKept.height);
    int width = 0, height = 0;
    const std::vector<std::uint8_t> kept = ReadImage(dir.File("kept.jpg"), width, height);
    const std::vector<std::uint8_t> decoded = ReadImage(dir.File("tiles.jpg"), width, height);
    double sum = 0.0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const std::size_t at = (static_cast<std::size_t>(r) * width + c) * 3;
            const bool missing = r < 10 && c >= 10 && c < 20;
            for (int k = 0; k < 3; ++k) {
                sum += std::abs(kept[at + k] - decoded[at + k]);
                if (missing && (r > 0 && r < 9 && c > 10 && c < 19)) {
                    EXPECT_GE(kept[at + k], 240) << "white where the tile is missing, " << c << ' ' << r;
                }
            }
        }
    }
    EXPECT_LT(sum / kept.size(), 3.0);

    // And what GDAL averages from the tiles (black where none is).
    GDALDatasetH whole = GDALOpen(vrt.c_str(), GA_ReadOnly);
    ASSERT_NE(whole, nullptr);
    std::vector<std::uint8_t> averaged(kept.size());
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.eResampleAlg = GRIORA_Average;
    int bands[3] = {1, 2, 3};
    ASSERT_EQ(GDALDatasetRasterIOEx(whole, GF_Read, 0, 0, 300, 200, averaged.data(), width, height, GDT_Byte, 3, bands,
                                    3, width * 3, 1, &extra),
              CE_None);
    GDALClose(whole);
    std::vector<double> bottom;  // the bottom row of tiles, whole
    std::vector<std::uint8_t> bottomKept;
    for (std::size_t at = static_cast<std::size_t>(10) * width * 3; at < averaged.size(); ++at) {
        bottom.push_back(averaged[at]);
        bottomKept.push_back(kept[at]);
    }
    // GDAL takes a tile's 13 reduced pixels as spread over its 100 pixels,
    // where the first 12 hold 8 each: up to half a reduced pixel apart.
    const Difference d = DifferenceOf(bottom, bottomKept);
    EXPECT_LT(d.mean, 6.0);
    EXPECT_LT(d.worst, 40.0) << "the page's own JPEG of 30 x 20 pixels loses colour too";
}

TEST(TileReduction, AFarCoarserOverviewReadsTheKeptReductionsScaledAndShowsTheSame) {
    EXPECT_EQ(KeptReadScale(300, 200, 38, 25), 0);  // finer than the reductions
    EXPECT_EQ(KeptReadScale(300, 200, 30, 20), 1);
    EXPECT_EQ(KeptReadScale(300, 200, 18, 12), 2);
    EXPECT_EQ(KeptReadScale(300, 200, 18, 13), 1);  // both ways
    EXPECT_EQ(KeptReadScale(300, 200, 9, 6), 4);
    EXPECT_EQ(KeptReadScale(236250, 157500, 2000, 1333), 8);  // 150 x 100 tiles of 1575 pixels

    const test::TempDir dir;
    std::vector<std::string> tiles;
    const std::string vrt = WriteMosaic(dir, tiles);
    const Mosaic mosaic = Mosaic::Open(vrt);
    std::vector<MosaicTile> placed;
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            if (row == 0 && column == 1) {
                continue;
            }
            placed.push_back({dir.File(std::to_string(column) + "_" + std::to_string(row) + ".jpg"), column * kSize,
                              row * kSize, kSize, kSize});
        }
    }
    // 300 x 200 pixels into 9 x 6: each read pixel of 8, 16 or 32 mosaic
    // pixels lies within one or two of the overview's, and the overview is
    // the same picture whichever the scale, white where the tile is missing.
    const std::vector<std::uint8_t> fine = AverageReducedTiles(placed, 300, 200, 9, 6, 1);
    for (const int scale : {2, 4}) {
        const std::vector<std::uint8_t> coarse = AverageReducedTiles(placed, 300, 200, 9, 6, scale);
        ASSERT_EQ(coarse.size(), fine.size());
        double sum = 0.0;
        for (std::size_t k = 0; k < fine.size(); ++k) {
            sum += std::abs(coarse[k] - fine[k]);
            EXPECT_NEAR(coarse[k], fine[k], 12) << "at 1/" << scale << ", sample " << k;
        }
        EXPECT_LT(sum / fine.size(), 3.0) << "at 1/" << scale;
        EXPECT_EQ(coarse[(0 * 9 + 4) * 3], 255) << "white where the tile is missing";
        EXPECT_EQ(coarse[(1 * 9 + 4) * 3], 255);
    }

    // The page's overview of it, drawn so, against one drawn from the tiles
    // themselves (no kept copies).
    const WrittenImage fromKept = mosaic.WriteOverview(dir.File("kept.jpg"), 9);
    EXPECT_EQ(fromKept.width, 9);
    EXPECT_EQ(fromKept.height, 6);
    fs::remove_all(dir.File("reduced"));
    mosaic.WriteOverview(dir.File("tiles.jpg"), 9);
    int width = 0, height = 0;
    const std::vector<std::uint8_t> kept = ReadImage(dir.File("kept.jpg"), width, height);
    const std::vector<std::uint8_t> decoded = ReadImage(dir.File("tiles.jpg"), width, height);
    ASSERT_EQ(kept.size(), decoded.size());
    double sum = 0.0;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        sum += std::abs(kept[k] - decoded[k]);
    }
    EXPECT_LT(sum / kept.size(), 4.0);
}

}  // namespace
}  // namespace georef::review
