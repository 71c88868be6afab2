// Drawing a full-size realistic test scan against reading it back, in one
// run so that their ratio holds on any machine: sheet 40571 at 300 dpi
// (about 9400 x 7400 pixels with its margins and scanner bed), written as a
// JPEG (quality 85, density recorded) into /dev/shm, and the same file read
// whole through GDAL as georef reads a scan.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "raster/source_raster.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::bench {
namespace {

constexpr int kSheet = 40571;

std::string ScanPath() {
    const std::filesystem::path shm("/dev/shm");
    const std::filesystem::path dir = std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
    return (dir / ("georef-scan-bench-" + std::to_string(::getpid()) + ".jpg")).string();
}

const std::string& Path() {
    static const std::string path = ScanPath();
    return path;
}

void BM_DrawRealisticScan(benchmark::State& state) {
    const synthesis::RealisticScanOptions options;  // 300 dpi, every condition at its default
    for (auto _ : state) {
        const synthesis::RealisticScan scan = synthesis::WriteRealisticScan(kSheet, Path(), options);
        benchmark::DoNotOptimize(scan.corners);
        state.counters["pixels"] = static_cast<double>(scan.width) * scan.height;
    }
}
BENCHMARK(BM_DrawRealisticScan)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(3);

void BM_ReadRealisticScan(benchmark::State& state) {
    for (auto _ : state) {
        raster::SourceRaster scan;
        scan.Open(Path());
        scan.ReadBands();
        benchmark::DoNotOptimize(scan.Pixels());
    }
}
// Reads the file the drawing benchmark left behind.
BENCHMARK(BM_ReadRealisticScan)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->Iterations(3);

}  // namespace
}  // namespace georef::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(georef::bench::Path().c_str());
    return 0;
}
