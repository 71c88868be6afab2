#include "gdal_support/dataset_handle.hpp"

#include <gdal.h>

namespace georef::gdal_support {

void DatasetCloser::operator()(void* dataset) const noexcept {
    GDALClose(static_cast<GDALDatasetH>(dataset));
}

}  // namespace georef::gdal_support
