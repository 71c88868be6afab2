// The span kernel written once with GCC's vector extensions, included by the
// files that compile it for one vector unit each. The including file defines
// SPAN_KERNEL_NAME (the function to define), SPAN_LANES (pixels per step),
// the vector types VecD (SPAN_LANES doubles), VecL (SPAN_LANES 64-bit ints)
// and VecI (SPAN_LANES 32-bit ints), GatherPairs(base, offsets, left,
// right), which gives every lane the sample at base + offset and its right
// neighbour as exact doubles (it may read up to
// raster::SourceRaster::kPlaneSlack bytes past them), LaneBits(mask), bit k
// set when lane k of a VecI mask is set, and ToDouble(ints), the exact
// conversion of every lane.
//
// Every operation below is one IEEE operation per lane, in the order of
// PaintSpanPortable; the build forbids contraction into fused multiply-adds.

namespace georef::tiling {

void SPAN_KERNEL_NAME(const SpanJob& job) noexcept {
    const double* const N = job.corner;
    const double southX = N[6] - N[0];
    const double northX = N[4] - N[2];
    const double southY = N[7] - N[1];
    const double northY = N[5] - N[3];
    const double fx = job.fx;
    const double height = static_cast<double>(job.height);
    const double lastU = static_cast<double>(job.width) - 1.0;   // exclusive
    const double lastV = static_cast<double>(job.height) - 1.0;  // exclusive
    const int rowLength = job.width;

    VecI lane;
    for (int k = 0; k < SPAN_LANES; ++k) {
        lane[k] = k;
    }

    // The chain and the sampling run as two loops over chunks of the span:
    // each step of either has fewer dependent operations than the two
    // together, so the processor overlaps more steps.
    constexpr int kChunk = 256;  // pixels
    alignas(64) double chunkU[kChunk];
    alignas(64) double chunkV[kChunk];
    for (int first = job.start; first < job.end; first += kChunk) {
        const int last = first + kChunk < job.end ? first + kChunk : job.end;
        for (int m = first; m < last; m += SPAN_LANES) {
            VecD lonA, lonB, latA, latB;
            __builtin_memcpy(&lonA, job.lonA + m, sizeof lonA);
            __builtin_memcpy(&lonB, job.lonB + m, sizeof lonB);
            __builtin_memcpy(&latA, job.latA + m, sizeof latA);
            __builtin_memcpy(&latB, job.latB + m, sizeof latB);

            // Grid, along X inside the cell.
            const VecD lon = lonA + (lonB - lonA) * fx;
            const VecD lat = latA + (latB - latA) * fx;
            // Graticule -> nominal frame (metres).
            const VecD dlon = lon - job.lonWest;
            const VecD dlat = lat - job.latSouth;
            const VecD xSouth = N[0] + (dlon * southX) * 4.0;
            const VecD xNorth = N[2] + (dlon * northX) * 4.0;
            const VecD x = (dlat * (xNorth - xSouth)) * 8.0 + xSouth;
            const VecD ySouth = N[1] + (dlon * southY) * 4.0;
            const VecD yNorth = N[3] + (dlon * northY) * 4.0;
            const VecD y = (dlat * (yNorth - ySouth)) * 8.0 + ySouth;
            // Nominal -> image frame (pixels, y upward).
            const VecD d0 = x - job.shift[0];
            const VecD d1 = y - job.shift[1];
            const VecD imageX = (0.0 + job.inverse[0][0] * d0) + job.inverse[0][1] * d1;
            const VecD imageY = (0.0 + job.inverse[1][0] * d0) + job.inverse[1][1] * d1;
            // Image -> plane frame (rows downward).
            const VecD u = imageX + 0.5;
            const VecD v = (height - imageY) - 1.5;
            __builtin_memcpy(chunkU + (m - first), &u, sizeof u);
            __builtin_memcpy(chunkV + (m - first), &v, sizeof v);
        }
        for (int m = first; m < last; m += SPAN_LANES) {
            VecD u, v;
            __builtin_memcpy(&u, chunkU + (m - first), sizeof u);
            __builtin_memcpy(&v, chunkV + (m - first), sizeof v);

            // The sampler's domain; NaN fails it. Lanes outside it, or past
            // the end of the span, are computed at (0, 0) and not stored.
            const VecL inside = (u >= 0.0) & (u < lastU) & (v >= 0.0) & (v < lastV);
            const VecI paint = __builtin_convertvector(inside, VecI) & ((m + lane) < last);
            u = reinterpret_cast<VecD>(reinterpret_cast<VecL>(u) & inside);  // +0.0 outside
            v = reinterpret_cast<VecD>(reinterpret_cast<VecL>(v) & inside);

            const VecI column = __builtin_convertvector(u, VecI);  // truncation toward zero
            const VecI row = __builtin_convertvector(v, VecI);
            const VecD fu = u - ToDouble(column);
            const VecD fv = v - ToDouble(row);
            const VecD wTL = (1.0 - fv) * (1.0 - fu);
            const VecD wTR = (1.0 - fv) * fu;
            const VecD wBL = (1.0 - fu) * fv;
            const VecD wBR = fu * fv;
            const VecI top = row * rowLength + column;  // below width * height < 2^31
            const VecI bottom = top + rowLength;

            VecI sample[3];
            for (int p = 0; p < 3; ++p) {
                VecD TL, TR, BL, BR;
                GatherPairs(job.planes[p], top, TL, TR);
                GatherPairs(job.planes[p], bottom, BL, BR);
                const VecD s = ((TR * wTR + TL * wTL) + BL * wBL) + BR * wBR;
                sample[p] = __builtin_convertvector(s, VecI) & 0xFF;
            }

            // R, G, B in the low three bytes of each lane (x86 is little-endian).
            const VecI packed = sample[0] | (sample[1] << 8) | (sample[2] << 16);
            std::uint8_t* const out = job.rgb + 3 * static_cast<std::ptrdiff_t>(m);
            const unsigned bits = LaneBits(paint);
            if (bits == (1u << SPAN_LANES) - 1u) {
                // Four bytes per pixel, each store's last byte overwritten by
                // the next pixel's; the last pixel stores its three alone, so
                // nothing past the span is touched.
                for (int k = 0; k < SPAN_LANES - 1; ++k) {
                    const int value = packed[k];
                    __builtin_memcpy(out + 3 * k, &value, 4);
                }
                const int lastPixel = packed[SPAN_LANES - 1];
                __builtin_memcpy(out + 3 * (SPAN_LANES - 1), &lastPixel, 3);
            } else {
                for (int k = 0; k < SPAN_LANES; ++k) {
                    if ((bits >> k) & 1u) {
                        const int value = packed[k];
                        __builtin_memcpy(out + 3 * k, &value, 3);
                    }
                }
            }
        }
    }
}

}  // namespace georef::tiling
