#pragma once
// Ownership of GDAL datasets and the last message GDAL gave, for the
// publishing steps.

#include <gdal.h>

#include <memory>
#include <string>
#include <type_traits>

namespace georef::publish {

struct DatasetCloser {
    void operator()(void* dataset) const noexcept { GDALClose(static_cast<GDALDatasetH>(dataset)); }
};

// A GDAL dataset, closed (and, for a writer, flushed) when it goes.
using Dataset = std::unique_ptr<std::remove_pointer_t<GDALDatasetH>, DatasetCloser>;

// Opens a raster read-only; empty when GDAL cannot.
Dataset OpenRaster(const std::string& path) noexcept;

// ": " and GDAL's last error message, or "" when it gave none.
std::string GdalReason();

// Silences GDAL's error printing for its lifetime (the messages stay
// available to GdalReason).
class QuietGdal {
public:
    QuietGdal() noexcept;
    ~QuietGdal();
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
};

}  // namespace georef::publish
