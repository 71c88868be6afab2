#pragma once
// Ownership of an open GDAL dataset: the handle closes it (GDALClose) when it
// goes, which also flushes what was written to it. The header needs none of
// GDAL's: a GDALDatasetH is a void pointer, so get() is one.

#include <memory>

namespace georef::gdal_support {

struct DatasetCloser {
    void operator()(void* dataset) const noexcept;  // GDALClose
};

// An open dataset (GDALDatasetH), or empty.
using DatasetHandle = std::unique_ptr<void, DatasetCloser>;

}  // namespace georef::gdal_support
