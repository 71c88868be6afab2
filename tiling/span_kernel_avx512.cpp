// The span kernel for AVX-512 (F, VL, BW and DQ): 8 pixels per step, one
// register of 8 doubles.
#include "tiling/span_kernel.hpp"

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

// Everything below is compiled for AVX-512 and called only when the CPU has
// it. Nothing after this point instantiates a template or defines an inline
// function that another file could share.
#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,avx512bw,avx512dq,prefer-vector-width=512")

namespace {

typedef double VecD __attribute__((vector_size(64)));
typedef long long VecL __attribute__((vector_size(64)));
typedef int VecI __attribute__((vector_size(32)));
typedef unsigned long long VecU __attribute__((vector_size(64)));

// The 8 bytes at each byte offset, in one gather of 64-bit lanes.
inline VecU Gather8(const std::uint8_t* base, VecL offsets) noexcept {
    return reinterpret_cast<VecU>(
        _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, reinterpret_cast<__m512i>(offsets), base, 1));
}

// The low three bytes of each of the 8 lanes to out[0 .. 23]: gathered to
// 12 bytes in each half of the register, joined, stored as 16 + 8 bytes.
inline void StorePixels(std::uint8_t* out, VecI packed) noexcept {
    const __m256i control = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i halves = _mm256_shuffle_epi8(reinterpret_cast<__m256i>(packed), control);
    const __m256i joined = _mm256_permutevar8x32_epi32(halves, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(joined));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(joined, 1));
}

// A byte-shuffle control for one 64-bit lane: byte `from` of the 16-byte
// block to the lane's lowest byte, zero to the other seven.
constexpr long long ShuffleTakingByte(int from) noexcept {
    return static_cast<long long>(0xFFFFFFFFFFFFFF00ull | static_cast<unsigned long long>(from));
}

// Byte k of every lane, zero-extended in place by one byte shuffle, as an
// exact double.
template <int k>
inline VecD ByteAsDouble(VecU words) noexcept {
    const long long low = ShuffleTakingByte(k);       // lanes in the low 8 bytes of 16
    const long long high = ShuffleTakingByte(8 + k);  // lanes in the high 8 bytes
    const __m512i control = _mm512_set_epi64(high, low, high, low, high, low, high, low);
    return reinterpret_cast<VecD>(_mm512_cvtepi64_pd(_mm512_shuffle_epi8(reinterpret_cast<__m512i>(words), control)));
}

inline unsigned LaneBits(VecI mask) noexcept {
    return static_cast<unsigned>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
}

inline VecD Truncate(VecD values) noexcept {
    return reinterpret_cast<VecD>(
        _mm512_maskz_roundscale_pd(0xFF, reinterpret_cast<__m512d>(values), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

inline VecL ToOffset(VecD values) noexcept {
    return reinterpret_cast<VecL>(_mm512_cvttpd_epi64(reinterpret_cast<__m512d>(values)));
}

}  // namespace

#define SPAN_KERNEL_NAME PaintSpanAvx512
#define SPAN_LANES 8
#include "tiling/span_kernel_simd.inl"

#pragma GCC pop_options
