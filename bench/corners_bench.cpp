// The corner finder on an 8500 x 6600 pixel, 300 dpi JPEG scan against the
// time GDAL takes to decode that scan, in one run so that their ratio holds
// on any machine: the whole FindCorners call (decoding and the reading of
// the margin included), the same without the reading, its reduced read
// alone, and a full decode of the scan's three bands. The same for a scan
// with the sheet's whole margin and title (about 9400 x 7500 pixels).

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

// The scans, drawn once per process into the temporary directory: a
// realistic sheet at 300 dpi cut 5 mm beyond its outer frame, about
// 8700 x 6800 pixels (the corner labels on it, the title cut off), and one
// with its 20 mm margin, title and notes.
std::vector<std::string> g_drawn;

std::string DrawScan(const char* name, double marginMillimetres) {
    const std::string p = (std::filesystem::temp_directory_path() /
                           ("georef-corners-bench-" + std::to_string(::getpid()) + name + ".jpg"))
                              .string();
    georef::synthesis::RealisticScanOptions options = georef::synthesis::VariedRealisticOptions(7);
    options.dpi = 300.0;
    options.marginMillimetres = marginMillimetres;
    options.bedMillimetres = 0.0;
    options.jpegQuality = 85;
    const georef::synthesis::RealisticScan scan = georef::synthesis::WriteRealisticScan(kSheet, p, options);
    std::fprintf(stderr, "scan %s: %d x %d pixels\n", p.c_str(), scan.width, scan.height);
    g_drawn.push_back(p);
    return p;
}

const std::string& ScanPath() {
    static const std::string path = DrawScan("", 5.0);
    return path;
}

const std::string& TitledScanPath() {
    static const std::string path = DrawScan("-titled", 20.0);
    return path;
}

struct RemoveScan {
    ~RemoveScan() {
        for (const std::string& p : g_drawn) {
            std::error_code ignored;
            std::filesystem::remove(p, ignored);
        }
    }
};

void Find(benchmark::State& state, const std::string& path, bool checkIdentity) {
    georef::corners::FindOptions options;
    options.checkIdentity = checkIdentity;
    for (auto _ : state) {
        const georef::corners::FindResult found = georef::corners::FindCorners(kSheet, path, options);
        if (!found.Found()) {
            state.SkipWithError(found.refusal.c_str());
            return;
        }
        benchmark::DoNotOptimize(found.corners);
    }
}

void BM_FindCornersWithoutReading(benchmark::State& state) { Find(state, ScanPath(), false); }
BENCHMARK(BM_FindCornersWithoutReading)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_FindCornersTitled(benchmark::State& state) { Find(state, TitledScanPath(), true); }
BENCHMARK(BM_FindCornersTitled)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_FindCorners(benchmark::State& state) { Find(state, ScanPath(), true); }
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
void Decode(benchmark::State& state, const std::string& path) {
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
void BM_DecodeScan(benchmark::State& state) { Decode(state, ScanPath()); }
BENCHMARK(BM_DecodeScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_DecodeTitledScan(benchmark::State& state) { Decode(state, TitledScanPath()); }
BENCHMARK(BM_DecodeTitledScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

const RemoveScan kRemoveScan;

}  // namespace

BENCHMARK_MAIN();
