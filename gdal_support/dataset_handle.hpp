#pragma once
// Ownership of an open GDAL dataset: the handle closes it (GDALClose) when it
// goes, which also flushes what was written to it. The header needs none of
// GDAL's: a GDALDatasetH is a void pointer, so get() is one.

#include <memory>
#include <string>

namespace georef::gdal_support {

struct DatasetCloser {
    void operator()(void* dataset) const noexcept;  // GDALClose
};

// An open dataset (GDALDatasetH), or empty.
using DatasetHandle = std::unique_ptr<void, DatasetCloser>;

// GDAL's drivers registered, once in a process (GDALAllRegister looks
// through the plugin folder again at every call: about half a millisecond,
// paid per tile where each read or write registered them).
void RegisterDrivers();

// The raster at `path` opened read-only (drivers registered) without GDAL
// listing its folder: its side files (.aux.xml, world file, overviews,
// mask) are still found, each looked up by its own name. In a folder of
// thousands of scans the listing costs milliseconds an open. Empty when no
// driver reads it; GDAL's message is the caller's to take.
DatasetHandle OpenWithoutListing(const std::string& path);

}  // namespace georef::gdal_support
