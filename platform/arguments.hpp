#pragma once
// Reading the command lines of the companion programs: the value that follows
// an option, and the numbers written in arguments. What a wrong value means
// (and the message that says so) is the program's own.

#include <optional>
#include <string>

#include "platform/failure.hpp"

namespace georef::platform {

// A Failure that ends the run as a wrong command line (exit status 2).
Failure UsageError(const std::string& message);

// The argument after the option argv[k]; k moves onto it. Throws a
// UsageError "OPTION needs a value" when the option is the last argument.
std::string OptionValue(int argc, const char* const* argv, int& k);

// The number written as decimal digits only (no sign, no blank), at most
// nine of them; no value for any other text.
std::optional<int> ParseDigits(const std::string& text) noexcept;

// As ParseDigits, for numbers of at least 1.
std::optional<int> ParsePositiveWhole(const std::string& text) noexcept;

// A finite number that makes up the whole text, as strtod reads it; no value
// for empty text, text left over, infinities and NaN.
std::optional<double> ParseFiniteNumber(const std::string& text) noexcept;

}  // namespace georef::platform
