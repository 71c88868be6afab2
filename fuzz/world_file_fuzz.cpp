// World-file text for any pixel size and tile position, and the number
// format it uses for any double: six lines, every number read back by
// strtod as the value %g gives, an exponent of at least three digits.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.hpp"
#include "tiling/world_file.hpp"

namespace {

using georef::fuzz::Fail;
using georef::tiling::FormatNumber;

// The number %g gives for value, as strtod reads it back.
double PrintedValue(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return std::strtod(buffer, nullptr);
}

void CheckNumber(double value) {
    const std::string text = FormatNumber(value);
    char* end = nullptr;
    const double back = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
        Fail("FormatNumber wrote \"" + text + "\", which is not one number");
    }
    const double expected = PrintedValue(value);
    const bool same = std::isnan(expected) ? std::isnan(back) : back == expected;
    if (!same) {
        Fail("FormatNumber wrote \"" + text + "\" for a value %g prints differently");
    }
    const std::size_t e = text.find('e');
    if (e != std::string::npos && (text.size() < e + 5 || (text[e + 1] != '+' && text[e + 1] != '-'))) {
        Fail("FormatNumber wrote the exponent of \"" + text + "\" with fewer than three digits");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    georef::fuzz::ByteCursor input(data, size);
    const float pixelSize = input.Take<float>();
    const int tileX = input.Take<std::int32_t>();
    const int tileY = input.Take<std::int32_t>();
    const double number = input.Take<double>();

    CheckNumber(number);
    CheckNumber(static_cast<double>(pixelSize));

    const std::string text = georef::tiling::WorldFileText(pixelSize, tileX, tileY);
    std::size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    if (lines != 6 || text.empty() || text.back() != '\n') {
        Fail("a world file of " + std::to_string(lines) + " lines: \"" + text + "\"");
    }
    const std::string name = georef::tiling::TileFileName("tiles", tileX, tileY, ".jgw");
    if (name != "tiles/" + std::to_string(tileX / 10000) + "_" + std::to_string(tileY / 10000) + ".jgw") {
        Fail("tile name " + name);
    }
    return 0;
}
