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
typedef unsigned long long VecU __attribute__((vector_size(32)));

// The 8 bytes at each byte offset, in one gather of 64-bit lanes.
inline VecU Gather8(const std::uint8_t* base, VecL offsets) noexcept {
    return reinterpret_cast<VecU>(
        _mm256_i64gather_epi64(reinterpret_cast<const long long*>(base), reinterpret_cast<__m256i>(offsets), 1));
}

// The low three bytes of each of the 4 lanes to out[0 .. 11], stored as 8 +
// 4 bytes.
inline void StorePixels(std::uint8_t* out, VecI packed) noexcept {
    const __m128i control = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i bytes = _mm_shuffle_epi8(reinterpret_cast<__m128i>(packed), control);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    const int last = _mm_extract_epi32(bytes, 2);
    __builtin_memcpy(out + 8, &last, 4);
}

// A byte-shuffle control for one 64-bit lane: byte `from` of the 16-byte
// block to the lane's lowest byte, zero to the other seven.
constexpr long long ShuffleTakingByte(int from) noexcept {
    return static_cast<long long>(0xFFFFFFFFFFFFFF00ull | static_cast<unsigned long long>(from));
}

// Byte k of every lane as an exact double: one byte shuffle leaves it alone
// in its lane, which then holds the bit pattern of 2^52 + byte once the
// exponent is set; 2^52 is subtracted exactly.
template <int k>
inline VecD ByteAsDouble(VecU words) noexcept {
    const long long low = ShuffleTakingByte(k);       // lanes in the low 8 bytes of 16
    const long long high = ShuffleTakingByte(8 + k);  // lanes in the high 8 bytes
    const __m256i control = _mm256_set_epi64x(high, low, high, low);
    const VecU byte = reinterpret_cast<VecU>(_mm256_shuffle_epi8(reinterpret_cast<__m256i>(words), control));
    const unsigned long long exponent = 0x4330000000000000ull;  // bits of 2^52
    const double offset = 4503599627370496.0;                   // 2^52
    return reinterpret_cast<VecD>(byte | exponent) - offset;
}

inline unsigned LaneBits(VecI mask) noexcept {
    return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
}

inline VecD Truncate(VecD values) noexcept {
    return reinterpret_cast<VecD>(
        _mm256_round_pd(reinterpret_cast<__m256d>(values), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

// An integral value v from 0 to 2^52 plus 2^52 has v in its low bits.
inline VecL ToOffset(VecD values) noexcept {
    const double shift = 4503599627370496.0;  // 2^52
    return reinterpret_cast<VecL>(values + shift) - reinterpret_cast<VecL>(VecD{} + shift);
}

}  // namespace

#define SPAN_KERNEL_NAME PaintSpanAvx2
#define SPAN_LANES 4
#include "tiling/span_kernel_simd.inl"

#pragma GCC pop_options
