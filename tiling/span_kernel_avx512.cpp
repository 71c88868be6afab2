// The span kernel for AVX-512 (F and VL): 8 pixels per step, one register
// of 8 doubles.
#include "tiling/span_kernel.hpp"

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

// Everything below is compiled for AVX-512 and called only when the CPU has
// it. Nothing after this point instantiates a template or defines an inline
// function that another file could share.
#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,prefer-vector-width=512")

namespace {

typedef double VecD __attribute__((vector_size(64)));
typedef long long VecL __attribute__((vector_size(64)));
typedef int VecI __attribute__((vector_size(32)));
typedef unsigned long long VecU __attribute__((vector_size(64)));

// Eight bytes at each offset in one gather of 64-bit lanes; a byte b
// becomes a double through the bit pattern of 2^52 + b, from which 2^52 is
// subtracted exactly.
inline void GatherPairs(const std::uint8_t* base, VecI offsets, VecD& left, VecD& right) noexcept {
    const VecU words = reinterpret_cast<VecU>(_mm512_mask_i32gather_epi64(
        _mm512_setzero_si512(), 0xFF, reinterpret_cast<__m256i>(offsets), base, 1));
    const unsigned long long exponent = 0x4330000000000000ull;  // bits of 2^52
    const double offset = 4503599627370496.0;                   // 2^52
    left = reinterpret_cast<VecD>((words & 0xFFu) | exponent) - offset;
    right = reinterpret_cast<VecD>(((words >> 8) & 0xFFu) | exponent) - offset;
}

inline unsigned LaneBits(VecI mask) noexcept {
    return static_cast<unsigned>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
}

inline VecD ToDouble(VecI ints) noexcept {
    return reinterpret_cast<VecD>(_mm512_maskz_cvtepi32_pd(0xFF, reinterpret_cast<__m256i>(ints)));
}

}  // namespace

#define SPAN_KERNEL_NAME PaintSpanAvx512
#define SPAN_LANES 8
#include "tiling/span_kernel_simd.inl"

#pragma GCC pop_options
