// The corner finder on an 8500 x 6600 pixel, 300 dpi JPEG scan against the
// time GDAL takes to decode that scan, in one run so that their ratio holds
// on any machine: the whole FindCorners call (decoding included), its
// reduced read alone, and a full decode of the scan's three bands.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gdal.h>
#include <unistd.h>

#include "corners/find_corners.hpp"
#include "corners/scan_image.hpp"
#include "synthesis/realistic_scan.hpp"

namespace {

constexpr int kSheet = 40571;

// The scan, drawn once per process into the temporary directory: a realistic
// sheet at 300 dpi cut 5 mm beyond its outer frame, about 8700 x 6800 pixels.
bool g_scanDrawn = false;

const std::string& ScanPath() {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() /
                               ("georef-corners-bench-" + std::to_string(::getpid()) + ".jpg"))
                                  .string();
        georef::synthesis::RealisticScanOptions options = georef::synthesis::VariedRealisticOptions(7);
        options.dpi = 300.0;
        options.marginMillimetres = 5.0;
        options.bedMillimetres = 0.0;
        options.jpegQuality = 85;
        const georef::synthesis::RealisticScan scan = georef::synthesis::WriteRealisticScan(kSheet, p, options);
        std::fprintf(stderr, "scan %s: %d x %d pixels\n", p.c_str(), scan.width, scan.height);
        g_scanDrawn = true;
        return p;
    }();
    return path;
}

struct RemoveScan {
    ~RemoveScan() {
        if (g_scanDrawn) {
            std::error_code ignored;
            std::filesystem::remove(ScanPath(), ignored);
        }
    }
};

void BM_FindCorners(benchmark::State& state) {
    const std::string& path = ScanPath();
    for (auto _ : state) {
        const georef::corners::FindResult found = georef::corners::FindCorners(kSheet, path);
        if (!found.Found()) {
            state.SkipWithError(found.refusal.c_str());
            return;
        }
        benchmark::DoNotOptimize(found.corners);
    }
}
BENCHMARK(BM_FindCorners)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ReadReduced(benchmark::State& state) {
    const std::string& path = ScanPath();
    for (auto _ : state) {
        const georef::corners::ScanImage scan(path);
        benchmark::DoNotOptimize(scan.ReadReduced(4).data);
    }
}
BENCHMARK(BM_ReadReduced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// GDAL decodes the whole scan, pixel-interleaved, as georef reads it.
void BM_DecodeScan(benchmark::State& state) {
    const std::string& path = ScanPath();
    GDALAllRegister();
    for (auto _ : state) {
        GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
        const int width = GDALGetRasterXSize(dataset);
        const int height = GDALGetRasterYSize(dataset);
        std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
        int bands[3] = {1, 2, 3};
        const CPLErr result = GDALDatasetRasterIO(dataset, GF_Read, 0, 0, width, height, pixels.data(), width, height,
                                                  GDT_Byte, 3, bands, 3, 3 * width, 1);
        GDALClose(dataset);
        if (result != CE_None) {
            state.SkipWithError("GDAL cannot decode the scan");
            return;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_DecodeScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

const RemoveScan kRemoveScan;

}  // namespace

BENCHMARK_MAIN();
