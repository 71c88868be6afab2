// Bilinear sampling of the scan's samples: the innermost loop of tile
// rendering, kept inline and free of allocation. Included by tile_image.hpp.

#include <cstddef>
#include <cstdint>

#include "raster/source_raster.hpp"

namespace georef::raster {

inline bool SampleBilinear(const std::uint8_t* pixels, int rowLength, int width, int height, double x, double y,
                           std::uint8_t* rgb) noexcept {
    // Domain, tested in double before anything becomes an int: all four
    // neighbours must lie inside the samples. NaN fails every comparison.
    if (!(x >= 0.0 && x < static_cast<double>(width) - 1.0 && y >= 0.0 &&
          y < static_cast<double>(height) - 1.0)) {
        return false;
    }
    const int ix = static_cast<int>(x);  // truncation toward zero
    const int iy = static_cast<int>(y);
    const double fx = x - ix;
    const double fy = y - iy;
    // Weights once per pixel, shared by the three bands.
    const double wTL = (1.0 - fy) * (1.0 - fx);
    const double wTR = (1.0 - fy) * fx;
    const double wBL = (1.0 - fx) * fy;
    const double wBR = fx * fy;
    // TL and its right neighbour TR, and the two below them (BL, BR): each
    // pair is six adjacent bytes, R G B R G B.
    const std::uint8_t* const top =
        pixels + 3 * (static_cast<std::ptrdiff_t>(iy) * rowLength + static_cast<std::ptrdiff_t>(ix));
    const std::uint8_t* const bottom = top + 3 * static_cast<std::ptrdiff_t>(rowLength);
    for (int b = 0; b < 3; ++b) {
        const double TL = top[b];
        const double TR = top[3 + b];
        const double BL = bottom[b];
        const double BR = bottom[3 + b];
        // Summed in exactly this order; the value is truncated, not rounded.
        const double s = ((TR * wTR + TL * wTL) + BL * wBL) + BR * wBR;
        rgb[b] = static_cast<std::uint8_t>(static_cast<int>(s) & 0xFF);
    }
    return true;
}

inline void TileImage::SamplePixel(const SourceRaster& source, int rowLength, int pixelIndex, double x,
                                   double y) noexcept {
    // The samples hold exactly Width() pixels per row: another row length
    // would index past them. The samples and the pixel must exist.
    if (rowLength != source.Width() || source.Pixels() == nullptr || pixelIndex < 0 || m_pixels == nullptr ||
        static_cast<long long>(pixelIndex) >= static_cast<long long>(m_width) * m_height) {
        return;
    }
    SampleBilinear(source.Pixels(), rowLength, source.Width(), source.Height(), x, y,
                   m_pixels.get() + 3 * static_cast<std::ptrdiff_t>(pixelIndex));
}

}  // namespace georef::raster
