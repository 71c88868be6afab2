// Tile rendering against the JPEG coding of the same tile, in one run so
// that their ratio holds on any machine: RenderTile on a 300 dpi tile that
// the sheet covers wholly, the libjpeg encode (quality 70, a new tile) and
// decode of that tile, painting and saving one after the other against
// both at once, and the per-pixel chain, literal against cached.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

#include "bench/bench_scene.hpp"
#include "bench/jpeg_codec.hpp"
#include "raster/tile_image.hpp"
#include "tiling/pixel_chain.hpp"
#include "tiling/render_tile.hpp"

namespace georef::bench {
namespace {

constexpr int kDpi = 300;

// Formats the progress text as the run does, then drops it.
class DiscardBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

const BenchScene& Scene() {
    static const BenchScene scene;
    return scene;
}

// The covered tile, rendered once, for the coding benchmarks.
const raster::TileImage& RenderedTile() {
    static const std::unique_ptr<raster::TileImage> tile = [] {
        const tiling::RunContext run = Scene().Context(kDpi, 0);
        auto image = std::make_unique<raster::TileImage>();
        image->AllocateBuffer(run.tileSize);
        image->ClearWhite();
        tiling::TileRenderer renderer(run);
        DiscardBuffer discard;
        std::ostream out(&discard);
        renderer.RenderTile(*image, kCoveredTileX, kCoveredTileY, out);
        return image;
    }();
    return *tile;
}

struct TempFile {
    std::FILE* file = std::tmpfile();
    ~TempFile() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

void BM_RenderTile(benchmark::State& state) {
    const tiling::RunContext run = Scene().Context(kDpi, static_cast<int>(state.range(0)));
    raster::TileImage tile;
    tile.AllocateBuffer(run.tileSize);
    tile.ClearWhite();
    tiling::TileRenderer renderer(run);
    DiscardBuffer discard;
    std::ostream out(&discard);
    for (auto _ : state) {
        renderer.RenderTile(tile, kCoveredTileX, kCoveredTileY, out);
        benchmark::DoNotOptimize(tile.Pixels());
    }
    // Every pixel of this tile lies inside the sheet and the scan.
    const std::uint8_t* pixels = tile.Pixels();
    std::int64_t white = 0;
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(run.tileSize) * run.tileSize; ++k) {
        white += pixels[3 * k] == 255 && pixels[3 * k + 1] == 255 && pixels[3 * k + 2] == 255;
    }
    state.counters["white_pixels"] = static_cast<double>(white);
    state.SetItemsProcessed(state.iterations() * run.tileSize * run.tileSize);
}
BENCHMARK(BM_RenderTile)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each span kernel this CPU runs, on one thread.
void BM_RenderTileKernel(benchmark::State& state) {
    const std::vector<tiling::NamedSpanKernel> kernels = tiling::AvailableSpanKernels();
    const std::size_t index = static_cast<std::size_t>(state.range(0));
    if (index >= kernels.size()) {
        state.SkipWithError("this CPU does not run that kernel");
        return;
    }
    state.SetLabel(kernels[index].name);
    const tiling::RunContext run = Scene().Context(kDpi, 1);
    raster::TileImage tile;
    tile.AllocateBuffer(run.tileSize);
    tile.ClearWhite();
    tiling::TileRenderer renderer(run, kernels[index].kernel);
    DiscardBuffer discard;
    std::ostream out(&discard);
    for (auto _ : state) {
        renderer.RenderTile(tile, kCoveredTileX, kCoveredTileY, out);
        benchmark::DoNotOptimize(tile.Pixels());
    }
    state.SetItemsProcessed(state.iterations() * run.tileSize * run.tileSize);
}
BENCHMARK(BM_RenderTileKernel)->ArgName("kernel")->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A directory for tile files, removed at exit: in /dev/shm when it exists,
// so that the fsync of each saved tile costs no disk time and the
// benchmarks below measure the work of the program.
const std::string& TileDirectory() {
    static const struct Directory {
        std::string path;
        Directory() {
            const std::filesystem::path parent = std::filesystem::is_directory("/dev/shm")
                                                     ? std::filesystem::path("/dev/shm")
                                                     : std::filesystem::temp_directory_path();
            std::string pattern = (parent / "georef-bench-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr) {
                throw std::runtime_error("cannot create a directory in " + parent.string());
            }
            path = pattern;
        }
        ~Directory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } directory;
    return directory.path;
}

// The covered tile painted and written as a new tile, the way the tile loop
// does it: painting, then encoding (save:0), or both at once (save:1,
// TileRenderer::RenderAndSave). Set against BM_RenderTile and BM_EncodeTile,
// it shows how much of the painting the encoding hides.
void BM_RenderAndSaveTile(benchmark::State& state) {
    const tiling::RunContext run = Scene().Context(kDpi, static_cast<int>(state.range(1)));
    const bool overlapped = state.range(0) != 0;
    const std::string name = TileDirectory() + "/105_52.jpg";
    raster::TileImage tile;
    tile.AllocateBuffer(run.tileSize);
    tiling::TileRenderer renderer(run);
    DiscardBuffer discard;
    std::ostream out(&discard);
    for (auto _ : state) {
        tile.CreateNew(name);
        if (overlapped) {
            renderer.RenderAndSave(tile, kCoveredTileX, kCoveredTileY, out, tiling::TileStart::white);
        } else {
            renderer.RenderTile(tile, kCoveredTileX, kCoveredTileY, out, tiling::TileStart::white);
            tile.Save();
        }
        tile.CloseFile();
    }
    state.SetItemsProcessed(state.iterations() * run.tileSize * run.tileSize);
}
BENCHMARK(BM_RenderAndSaveTile)
    ->ArgNames({"save", "threads"})
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Save alone of the covered tile (encoding at quality 70, writing, fsync,
// rename): the part of BM_RenderAndSaveTile that is not painting.
void BM_SaveTile(benchmark::State& state) {
    const raster::TileImage& rendered = RenderedTile();
    const std::string name = TileDirectory() + "/105_53.jpg";
    raster::TileImage tile;
    tile.AllocateBuffer(rendered.Width());
    std::memcpy(tile.Pixels(), rendered.Pixels(), static_cast<std::size_t>(rendered.Width()) * rendered.Height() * 3);
    for (auto _ : state) {
        tile.CreateNew(name);
        tile.Save();
        tile.CloseFile();
    }
    state.SetItemsProcessed(state.iterations() * tile.Width() * tile.Height());
}
BENCHMARK(BM_SaveTile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodeTile(benchmark::State& state) {
    const raster::TileImage& tile = RenderedTile();
    TempFile temp;
    for (auto _ : state) {
        std::rewind(temp.file);
        EncodeRgb(temp.file, tile.Pixels(), tile.Width(), tile.Height(), static_cast<int>(state.range(0)));
    }
    std::fflush(temp.file);
    state.counters["jpeg_bytes"] = static_cast<double>(std::ftell(temp.file));
    state.SetItemsProcessed(state.iterations() * tile.Width() * tile.Height());
}
BENCHMARK(BM_EncodeTile)->ArgName("quality")->Arg(70)->Arg(75)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeTile(benchmark::State& state) {
    const raster::TileImage& tile = RenderedTile();
    TempFile temp;
    EncodeRgb(temp.file, tile.Pixels(), tile.Width(), tile.Height(), 75);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(tile.Width()) * tile.Height() * 3);
    for (auto _ : state) {
        std::rewind(temp.file);
        DecodeRgb(temp.file, pixels.data(), tile.Width(), tile.Height());
    }
    state.SetItemsProcessed(state.iterations() * tile.Width() * tile.Height());
}
BENCHMARK(BM_DecodeTile)->Unit(benchmark::kMillisecond)->UseRealTime();

// One row of the covered tile, mapped pixel by pixel.
struct ChainRow {
    tiling::RunContext run = Scene().Context(kDpi, 1);
    double X = tiling::RowX(run.tileSize / 2, run.pixelSize, kCoveredTileX);
    std::vector<double> Y;
    ChainRow() {
        for (int m = 0; m < run.tileSize; ++m) {
            Y.push_back(tiling::ColumnY(m, run.pixelSize, kCoveredTileY + 10000));
        }
    }
};

void BM_PixelChainLiteral(benchmark::State& state) {
    const ChainRow row;
    const BenchScene& scene = Scene();
    for (auto _ : state) {
        for (const double Y : row.Y) {
            benchmark::DoNotOptimize(tiling::MapLiteral(scene.Grid(), kSheetNumber, scene.A(), scene.T(),
                                                        scene.Scan().Height(), row.X, Y));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(row.Y.size()));
}
BENCHMARK(BM_PixelChainLiteral);

void BM_PixelChainCached(benchmark::State& state) {
    const ChainRow row;
    const BenchScene& scene = Scene();
    const tiling::PixelChain chain(scene.Grid(), kSheetNumber, scene.A(), scene.T(), scene.Scan().Height());
    for (auto _ : state) {
        for (const double Y : row.Y) {
            benchmark::DoNotOptimize(chain.Map(row.X, Y));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(row.Y.size()));
}
BENCHMARK(BM_PixelChainCached);

}  // namespace
}  // namespace georef::bench

BENCHMARK_MAIN();
