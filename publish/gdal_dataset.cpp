#include "publish/gdal_dataset.hpp"

namespace georef::publish {

Dataset OpenRaster(const std::string& path) noexcept {
    GDALAllRegister();
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
}

std::string GdalReason() {
    const std::string message = gdal_support::LastMessage("");
    return message.empty() ? message : ": " + message;
}

}  // namespace georef::publish
