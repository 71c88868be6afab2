#include "publish/gdal_dataset.hpp"

#include <cpl_error.h>

namespace georef::publish {

Dataset OpenRaster(const std::string& path) noexcept {
    GDALAllRegister();
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
}

std::string GdalReason() {
    const char* message = CPLGetLastErrorMsg();
    return message != nullptr && *message != '\0' ? std::string(": ") + message : std::string();
}

QuietGdal::QuietGdal() noexcept { CPLPushErrorHandler(CPLQuietErrorHandler); }

QuietGdal::~QuietGdal() { CPLPopErrorHandler(); }

}  // namespace georef::publish
