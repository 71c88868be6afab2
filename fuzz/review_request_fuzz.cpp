// What a request to georef-review carries, from any page or program: any
// bytes. The first byte chooses the parser, the rest is its input. Every
// parser returns a value within its bounds or refuses with RequestError and
// a 4xx status; none crashes, reads out of bounds or hangs.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.hpp"
#include "geometry/sheet_geometry.hpp"
#include "workbench/request_parsing.hpp"

namespace {

using georef::workbench::RequestError;

void CheckStatus(const RequestError& error) {
    if (error.Status() < 400 || error.Status() > 499 || std::string(error.what()).empty()) {
        georef::fuzz::Fail("a request was refused without a 4xx status and a message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        switch (data[0] % 4) {
        case 0:
            if (!georef::geometry::IsValidSheetNumber(georef::workbench::ParseSheetNumber(text))) {
                georef::fuzz::Fail("a sheet number taken is no valid sheet");
            }
            break;
        case 1: {
            const int value = georef::workbench::ParseWhole(text, -100000, 100000, "value");
            if (value < -100000 || value > 100000) {
                georef::fuzz::Fail("a number taken lies outside its bounds");
            }
            break;
        }
        case 2: {
            const int width = 1 + data[0] * 40;
            const auto taken = georef::workbench::ParseCornerBody(text, width, width);
            for (const auto& p : taken.corners) {
                if (!std::isfinite(p.column) || !std::isfinite(p.row)) {
                    georef::fuzz::Fail("a corner taken is not finite");
                }
            }
            break;
        }
        default:
            georef::workbench::CookieValue(text, "georef_review");
            georef::workbench::SameSecret(text, "0123456789abcdef0123456789abcdef");
            break;
        }
    } catch (const RequestError& error) {
        CheckStatus(error);
    }
    return 0;
}
