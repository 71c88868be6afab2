#include "gdal_support/dataset_handle.hpp"

#include <gdal.h>

#include "gdal_support/thread_config.hpp"

namespace georef::gdal_support {

void DatasetCloser::operator()(void* dataset) const noexcept {
    GDALClose(static_cast<GDALDatasetH>(dataset));
}

void RegisterDrivers() {
    static const bool registered = [] {
        GDALAllRegister();
        return true;
    }();
    static_cast<void>(registered);
}

DatasetHandle OpenWithoutListing(const std::string& path) {
    RegisterDrivers();
    // "YES", not "EMPTY_DIR": with no list of the folder GDAL asks for each
    // side file by name instead of taking the folder for empty.
    const ThreadConfig noListing("GDAL_DISABLE_READDIR_ON_OPEN", "YES");
    return DatasetHandle(GDALOpen(path.c_str(), GA_ReadOnly));
}

}  // namespace georef::gdal_support
