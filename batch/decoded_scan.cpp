#include "batch/decoded_scan.hpp"

#include "platform/failure.hpp"

namespace georef::batch {

const raster::SourceRaster& DecodedScan::Raster() {
    if (m_raster) {
        return *m_raster;
    }
    raster::SourceRaster& raster = m_raster.emplace();
    try {
        raster.Open(m_path);
    } catch (const raster::RasterError& error) {
        m_raster.reset();
        throw Failure("cannot read the scan " + m_path + ": not an image GDAL reads (" + error.what() + ")");
    }
    try {
        raster.ReadBands();
    } catch (const raster::RasterError& error) {
        m_raster.reset();
        throw Failure("cannot read the scan " + m_path + ": damaged (" + error.what() + ")");
    }
    raster.Close();  // the samples stay; the file is not read again
    return raster;
}

const corners::ScanImage& DecodedScan::Image() {
    if (!m_image) {
        const raster::SourceRaster& raster = Raster();
        m_image.emplace(m_path, raster.Pixels(), raster.Width(), raster.Height());
    }
    return *m_image;
}

}  // namespace georef::batch
