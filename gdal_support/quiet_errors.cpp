#include "gdal_support/quiet_errors.hpp"

#include <cpl_error.h>

namespace georef::gdal_support {

QuietErrors::QuietErrors() noexcept {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

QuietErrors::~QuietErrors() {
    CPLPopErrorHandler();
}

std::string LastMessage(const char* fallback) {
    const char* message = CPLGetLastErrorMsg();
    return (message != nullptr && message[0] != '\0') ? std::string(message) : std::string(fallback);
}

}  // namespace georef::gdal_support
