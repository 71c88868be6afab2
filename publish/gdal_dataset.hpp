#pragma once
// The GDAL datasets of the publishing steps (owned by gdal_support's
// handle) and GDAL's last message for the errors they report.

#include <gdal.h>

#include <string>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"

namespace georef::publish {

using Dataset = gdal_support::DatasetHandle;  // get() is the GDALDatasetH
using QuietGdal = gdal_support::QuietErrors;

// Opens a raster read-only; empty when GDAL cannot.
Dataset OpenRaster(const std::string& path) noexcept;

// ": " and GDAL's last error message, or "" when it gave none.
std::string GdalReason();

}  // namespace georef::publish
