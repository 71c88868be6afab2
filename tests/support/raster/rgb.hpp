#pragma once
// One 8-bit RGB colour, shared by the scan and JPEG test helpers.

#include <cstdint>

namespace georef::test {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

inline bool operator==(const Rgb& a, const Rgb& b) noexcept {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

}  // namespace georef::test
