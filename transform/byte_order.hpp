#pragma once
// Little-endian encoding of the two scalar types of config.bin: 32-bit signed
// two's complement integers and IEEE 754 doubles. Values are assembled from
// and split into bytes arithmetically, so the host's byte order never matters.

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace georef::transform::detail {

static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8,
              "config.bin stores IEEE 754 doubles");

inline std::uint32_t DecodeUint32(const unsigned char* bytes) noexcept {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline std::int32_t DecodeInt32(const unsigned char* bytes) noexcept {
    const std::uint32_t u = DecodeUint32(bytes);
    // Two's complement by arithmetic: narrowing a value above INT32_MAX would
    // be implementation-defined.
    if (u < 0x80000000u) {
        return static_cast<std::int32_t>(u);
    }
    return static_cast<std::int32_t>(u - 0x80000000u) + std::numeric_limits<std::int32_t>::min();
}

inline double DecodeDouble(const unsigned char* bytes) noexcept {
    const std::uint64_t bits =
        static_cast<std::uint64_t>(DecodeUint32(bytes)) | (static_cast<std::uint64_t>(DecodeUint32(bytes + 4)) << 32);
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void AppendUint32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFFu));
    }
}

inline void AppendInt32(std::vector<unsigned char>& out, std::int32_t value) {
    AppendUint32(out, static_cast<std::uint32_t>(value));  // modular, well defined
}

inline void AppendDouble(std::vector<unsigned char>& out, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    AppendUint32(out, static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
    AppendUint32(out, static_cast<std::uint32_t>(bits >> 32));
}

}  // namespace georef::transform::detail
