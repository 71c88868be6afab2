#pragma once
// GDAL's errors on this thread kept from the console: a failure reaches the
// caller as an exception carrying GDAL's last message, and the program says
// it once in its own words.

#include <string>

namespace georef::gdal_support {

// While alive, GDAL's errors and warnings on this thread are recorded but
// not printed (GDAL's quiet handler); the last message is cleared when it
// starts, so LastMessage() says what went wrong after it started.
class QuietErrors {
public:
    QuietErrors() noexcept;
    ~QuietErrors();
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;
};

// GDAL's last error message on this thread, or fallback when it gave none.
std::string LastMessage(const char* fallback);

}  // namespace georef::gdal_support
