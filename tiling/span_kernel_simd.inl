// The span kernel written once with GCC's vector extensions, included by the
// files that compile it for one vector unit each. The including file defines
// SPAN_KERNEL_NAME (the function to define), SPAN_LANES (pixels per step),
// the vector types VecD (SPAN_LANES doubles), VecL (SPAN_LANES 64-bit ints),
// VecU (SPAN_LANES unsigned 64-bit ints) and VecI (SPAN_LANES 32-bit ints),
// Gather8(base, offsets), which loads the 8 bytes at base + offset for every
// lane (little-endian, so the byte at the offset is the lowest),
// ByteAsDouble<k>(words), byte k of every lane as an exact double,
// StorePixels(out, packed), which writes the low three bytes of every lane to
// out, 3 * SPAN_LANES bytes and not one more, LaneBits(mask),
// bit k set when lane k of a VecI mask is set, Truncate(values), every lane
// truncated toward zero (as a double), and ToOffset(values), the exact
// conversion of integral lanes from 0 to 2^52 to 64-bit ints.
//
// Every operation below is one IEEE operation per lane, in the order of
// PaintSpanPortable; the build forbids contraction into fused multiply-adds.

namespace {

// The weighted sum of band k (0 red, 1 green, 2 blue) from the six bytes of
// a top pair (TL, TR) and a bottom pair (BL, BR), truncated.
template <int k>
inline VecI BandSample(VecU top, VecU bottom, VecD wTL, VecD wTR, VecD wBL, VecD wBR) noexcept {
    const VecD TL = ByteAsDouble<k>(top);
    const VecD TR = ByteAsDouble<k + 3>(top);
    const VecD BL = ByteAsDouble<k>(bottom);
    const VecD BR = ByteAsDouble<k + 3>(bottom);
    const VecD s = ((TR * wTR + TL * wTL) + BL * wBL) + BR * wBR;
    return __builtin_convertvector(s, VecI) & 0xFF;
}

}  // namespace

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
    const double rowBytes = 3.0 * static_cast<double>(job.width);  // bytes

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

            // Column and row truncated toward zero, as exact doubles: the
            // same values as through 32-bit ints inside the domain, and +0.0
            // outside it.
            const VecD column = Truncate(u);
            const VecD row = Truncate(v);
            const VecD fu = u - column;
            const VecD fv = v - row;
            const VecD wTL = (1.0 - fv) * (1.0 - fu);
            const VecD wTR = (1.0 - fv) * fu;
            const VecD wBL = (1.0 - fu) * fv;
            const VecD wBR = fu * fv;
            // Byte offsets of TL and BL, integers below 3 * 2^31: every
            // product and sum here is exact in double.
            const VecL topByte = ToOffset(row * rowBytes + column * 3.0);
            const VecL bottomByte = topByte + static_cast<long long>(rowBytes);
            // R G B of TL and TR in the low six bytes of each lane, and of
            // BL and BR.
            const VecU topPair = Gather8(job.pixels, topByte);
            const VecU bottomPair = Gather8(job.pixels, bottomByte);
            const VecI sample[3] = {BandSample<0>(topPair, bottomPair, wTL, wTR, wBL, wBR),
                                    BandSample<1>(topPair, bottomPair, wTL, wTR, wBL, wBR),
                                    BandSample<2>(topPair, bottomPair, wTL, wTR, wBL, wBR)};

            // R, G, B in the low three bytes of each lane (x86 is little-endian).
            const VecI packed = sample[0] | (sample[1] << 8) | (sample[2] << 16);
            std::uint8_t* const out = job.rgb + 3 * static_cast<std::ptrdiff_t>(m);
            const unsigned bits = LaneBits(paint);
            if (bits == (1u << SPAN_LANES) - 1u) {
                StorePixels(out, packed);
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
