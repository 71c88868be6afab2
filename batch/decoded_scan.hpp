#pragma once
// A sheet's scan decoded once for everything the batch does with it: the
// corner finder, the corner picture and the run read the same pixels, in
// memory, instead of decoding the file three times. Decoded on first use, so
// a sheet the batch skips is never decoded; released with the object.

#include <optional>
#include <string>

#include "corners/scan_image.hpp"
#include "raster/source_raster.hpp"

namespace georef::batch {

class DecodedScan {
public:
    explicit DecodedScan(std::string path) : m_path(std::move(path)) {}
    DecodedScan(const DecodedScan&) = delete;
    DecodedScan& operator=(const DecodedScan&) = delete;

    // The scan's samples as the run reads them. Throws georef::Failure
    // "cannot read the scan PATH: not an image GDAL reads (...)" or
    // "...: damaged (...)" when it cannot be decoded.
    const raster::SourceRaster& Raster();
    // The same pixels as the corner finder and the picture read them.
    const corners::ScanImage& Image();

private:
    std::string m_path;
    std::optional<raster::SourceRaster> m_raster;
    std::optional<corners::ScanImage> m_image;
};

}  // namespace georef::batch
