#include "workbench/request_parsing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "geometry/sheet_geometry.hpp"

namespace georef::workbench {

namespace {

// How far outside the scan a corner may be placed, pixels: a corner torn
// off the paper lies a little beyond its edge.
constexpr double kCornerMarginPixels = 2000.0;

bool AllDigits(const std::string& text) noexcept {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

int ParseSheetNumber(const std::string& text) {
    if (text.size() != 5 || !AllDigits(text)) {
        throw RequestError(400, "a sheet is named by its five digits");
    }
    const int sheet = std::atoi(text.c_str());
    if (!geometry::IsValidSheetNumber(sheet)) {
        throw RequestError(400, text + " is not a valid sheet number");
    }
    return sheet;
}

int ParseWhole(const std::string& text, int low, int high, const char* name) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (!AllDigits(digits) || digits.size() > 9) {
        throw RequestError(400, std::string(name) + " must be a whole number");
    }
    const long value = (negative ? -1 : 1) * std::atol(digits.c_str());
    if (value < low || value > high) {
        throw RequestError(400, std::string(name) + " must lie from " + std::to_string(low) + " to " +
                                    std::to_string(high));
    }
    return static_cast<int>(value);
}

CornerBody ParseCornerBody(const std::string& body, int width, int height) {
    if (body.size() > kMaxBodyBytes) {
        throw RequestError(413, "the request body is too long");
    }
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded()) {
        throw RequestError(400, "the request body is no JSON");
    }
    const auto refuse = [] {
        return RequestError(400, "expected {\"corners\": [[column, row] x 4]} (LD, LH, PH, PD, scan pixels)");
    };
    if (!json.is_object() || !json.contains("corners")) {
        throw refuse();
    }
    const nlohmann::json& list = json.at("corners");
    if (!list.is_array() || list.size() != 4) {
        throw refuse();
    }
    CornerBody taken;
    if (json.contains("acceptMirrored")) {
        if (!json.at("acceptMirrored").is_boolean()) {
            throw refuse();
        }
        taken.acceptMirrored = json.at("acceptMirrored").get<bool>();
    }
    for (std::size_t k = 0; k < 4; ++k) {
        const nlohmann::json& pair = list.at(k);
        if (!pair.is_array() || pair.size() != 2 || !pair.at(0).is_number() || !pair.at(1).is_number()) {
            throw refuse();
        }
        const double column = pair.at(0).get<double>();
        const double row = pair.at(1).get<double>();
        if (!std::isfinite(column) || !std::isfinite(row) || column < -kCornerMarginPixels ||
            row < -kCornerMarginPixels || column > width + kCornerMarginPixels ||
            row > height + kCornerMarginPixels) {
            throw RequestError(400, "a corner lies far outside the scan");
        }
        taken.corners[k] = {column, row};
    }
    return taken;
}

std::string CookieValue(const std::string& header, const std::string& name) {
    std::string::size_type at = 0;
    while (at < header.size()) {
        const std::string::size_type end = std::min(header.find(';', at), header.size());
        std::string pair = header.substr(at, end - at);
        const std::string::size_type first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        const std::string::size_type equals = pair.find('=');
        if (equals != std::string::npos && pair.compare(0, equals, name) == 0 && equals == name.size()) {
            return pair.substr(equals + 1);
        }
        at = end + 1;
    }
    return {};
}

bool SameSecret(const std::string& presented, const std::string& expected) noexcept {
    unsigned difference = presented.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char p = i < presented.size() ? presented[i] : '\0';
        difference |= static_cast<unsigned>(static_cast<unsigned char>(p ^ expected[i]));
    }
    return difference == 0;
}

}  // namespace georef::workbench
