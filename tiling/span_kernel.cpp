#include "tiling/span_kernel.hpp"

#include <cstddef>

#include "raster/tile_image.hpp"

namespace georef::tiling {

namespace {

// The graticule spans of every sheet are 0.25 and 0.125 degrees: dividing by
// them and multiplying by 4 and 8 round the same exact value (see
// geometry::SheetMapping).
constexpr double kLonScale = 4.0;
constexpr double kLatScale = 8.0;

// The AVX-512 subsets the AVX-512 kernel is compiled for (foundation, vector
// length, byte/word and doubleword/quadword instructions), which come
// together on nearly every processor with AVX-512.
bool HasAvx512() noexcept {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
}

}  // namespace

void PaintSpanPortable(const SpanJob& job) noexcept {
    const double* const N = job.corner;
    const double southX = N[6] - N[0];  // LD -> PD
    const double northX = N[4] - N[2];  // LH -> PH
    const double southY = N[7] - N[1];
    const double northY = N[5] - N[3];
    for (int m = job.start; m < job.end; ++m) {
        // Grid, along X inside the cell.
        const double lon = job.lonA[m] + (job.lonB[m] - job.lonA[m]) * job.fx;
        const double lat = job.latA[m] + (job.latB[m] - job.latA[m]) * job.fx;
        // Graticule -> nominal frame (metres).
        const double dlon = lon - job.lonWest;
        const double dlat = lat - job.latSouth;
        const double xSouth = N[0] + (dlon * southX) * kLonScale;
        const double xNorth = N[2] + (dlon * northX) * kLonScale;
        const double x = (dlat * (xNorth - xSouth)) * kLatScale + xSouth;
        const double ySouth = N[1] + (dlon * southY) * kLonScale;
        const double yNorth = N[3] + (dlon * northY) * kLonScale;
        const double y = (dlat * (yNorth - ySouth)) * kLatScale + ySouth;
        // Nominal -> image frame (pixels, y upward).
        const double d0 = x - job.shift[0];
        const double d1 = y - job.shift[1];
        const double imageX = (0.0 + job.inverse[0][0] * d0) + job.inverse[0][1] * d1;
        const double imageY = (0.0 + job.inverse[1][0] * d0) + job.inverse[1][1] * d1;
        // Image -> plane frame (rows downward), and the sample.
        const double u = imageX + 0.5;
        const double v = (static_cast<double>(job.height) - imageY) - 1.5;
        raster::SampleBilinear(job.pixels, job.width, job.width, job.height, u, v,
                               job.rgb + 3 * static_cast<std::ptrdiff_t>(m));
    }
}

std::vector<NamedSpanKernel> AvailableSpanKernels() {
    std::vector<NamedSpanKernel> kernels{{"portable", PaintSpanPortable}};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        kernels.push_back({"avx2", PaintSpanAvx2});
    }
    if (HasAvx512()) {
        kernels.push_back({"avx512", PaintSpanAvx512});
    }
    return kernels;
}

SpanKernel BestSpanKernel() noexcept {
    __builtin_cpu_init();
    if (HasAvx512()) {
        return PaintSpanAvx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return PaintSpanAvx2;
    }
    return PaintSpanPortable;
}

}  // namespace georef::tiling
