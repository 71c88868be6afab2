#include "platform/arguments.hpp"

#include <cmath>
#include <cstdlib>

namespace georef::platform {

Failure UsageError(const std::string& message) {
    return Failure(message, ExitStatus::usage);
}

std::string OptionValue(int argc, const char* const* argv, int& k) {
    if (k + 1 >= argc) {
        throw UsageError(std::string(argv[k]) + " needs a value");
    }
    return argv[++k];
}

std::optional<int> ParseDigits(const std::string& text) noexcept {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::atoi(text.c_str());
}

std::optional<int> ParsePositiveWhole(const std::string& text) noexcept {
    const std::optional<int> value = ParseDigits(text);
    if (!value || *value < 1) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseFiniteNumber(const std::string& text) noexcept {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace georef::platform
