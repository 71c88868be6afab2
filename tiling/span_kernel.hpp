#pragma once
// The inner loop of tile rendering: one span of one pixel row, from the
// grid-interpolated values of the row's columns to the sampled RGB bytes.
//
// For every column m of the span the caller has already interpolated the
// transformation grid along Y inside the row's grid cell, so that
//   lon = lonA[m] + (lonB[m] - lonA[m]) * fx,  lat likewise,
// with fx the row's fraction along X, is exactly what TransformGrid::Lookup
// gives for the pixel. A column whose (X, Y) has no grid cell carries NaN
// there, which no sampling position survives. From lon and lat the kernel
// runs the rest of the chain (nominal frame, image frame, plane position) and
// the bilinear sample, with the same operations in the same order as
// PixelChain::Map and raster::SampleBilinear, so every variant paints the
// same bytes.
//
// Variants for wider vector units are chosen at run time by the CPU that
// runs the program; the portable one runs on any x86-64.

#include <cstdint>
#include <vector>

namespace georef::tiling {

// What a span kernel needs, all fixed for the run except the row and span.
struct SpanJob {
    // Grid values of the row's cell per tile column, degrees. Each array
    // holds at least end + kSpanKernelLanes entries (the lanes past the end
    // of a span are read, never painted).
    const double* lonA = nullptr;
    const double* lonB = nullptr;
    const double* latA = nullptr;
    const double* latB = nullptr;
    double fx = 0.0;  // the row's fraction of X / cellSize

    // Graticule to nominal frame: the sheet's south-west graticule corner
    // (degrees) and the nominal corners LD, LH, PH, PD as x, y pairs (metres).
    double lonWest = 0.0;
    double latSouth = 0.0;
    const double* corner = nullptr;  // 8 values

    // Nominal to image frame: image = inverse * (nominal - shift).
    double inverse[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
    double shift[2] = {0.0, 0.0};

    // The scan: width x height pixels of three interleaved bytes (band 1,
    // 2, 3), rows top first, followed by at least
    // raster::SourceRaster::kSampleSlack readable bytes.
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;

    // Columns start .. end - 1 of the row are painted; rgb points at column 0
    // of the row in the tile buffer (3 bytes per pixel).
    int start = 0;
    int end = 0;
    std::uint8_t* rgb = nullptr;
};

// Lanes a kernel may read past the end of a span in the column arrays.
inline constexpr int kSpanKernelLanes = 16;

using SpanKernel = void (*)(const SpanJob& job) noexcept;

struct NamedSpanKernel {
    const char* name;
    SpanKernel kernel;
};

// Every variant this CPU can run, portable first and the one the renderer
// uses last.
std::vector<NamedSpanKernel> AvailableSpanKernels();

// The fastest variant this CPU runs.
SpanKernel BestSpanKernel() noexcept;

// The variants. Only call one that AvailableSpanKernels lists.
void PaintSpanPortable(const SpanJob& job) noexcept;
void PaintSpanAvx2(const SpanJob& job) noexcept;
void PaintSpanAvx512(const SpanJob& job) noexcept;

}  // namespace georef::tiling
