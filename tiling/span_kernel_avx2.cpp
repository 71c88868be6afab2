// The span kernel for AVX2: 4 pixels per step, one register of 4 doubles.
#include "tiling/span_kernel.hpp"

#include <cstddef>
#include <cstdint>

#include <immintrin.h>

// Everything below is compiled for AVX2 and called only when the CPU has it.
// Nothing after this point instantiates a template or defines an inline
// function that another file could share.
#pragma GCC push_options
#pragma GCC target("avx2")

namespace {

typedef double VecD __attribute__((vector_size(32)));
typedef long long VecL __attribute__((vector_size(32)));
typedef int VecI __attribute__((vector_size(16)));

// Four bytes at each offset in one gather.
inline void GatherPairs(const std::uint8_t* base, VecI offsets, VecD& left, VecD& right) noexcept {
    const VecI words = reinterpret_cast<VecI>(
        _mm_i32gather_epi32(reinterpret_cast<const int*>(base), reinterpret_cast<__m128i>(offsets), 1));
    left = reinterpret_cast<VecD>(_mm256_cvtepi32_pd(reinterpret_cast<__m128i>(words & 0xFF)));
    right = reinterpret_cast<VecD>(_mm256_cvtepi32_pd(reinterpret_cast<__m128i>((words >> 8) & 0xFF)));
}

inline unsigned LaneBits(VecI mask) noexcept {
    return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
}

inline VecD ToDouble(VecI ints) noexcept {
    return reinterpret_cast<VecD>(_mm256_cvtepi32_pd(reinterpret_cast<__m128i>(ints)));
}

}  // namespace

#define SPAN_KERNEL_NAME PaintSpanAvx2
#define SPAN_LANES 4
#include "tiling/span_kernel_simd.inl"

#pragma GCC pop_options
