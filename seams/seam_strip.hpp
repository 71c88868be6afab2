#pragma once
// The mosaic along one shared edge, resampled into a straight strip: column
// j lies (j + 0.5) pixels along the edge from its start (west end of a
// parallel, south end of a meridian), row r lies (r - halfRows) pixels across
// it, positive towards the second sheet (south of a parallel, east of a
// meridian). One strip pixel is one mosaic pixel. What a pixel holds is its
// ink: 255 less the darkest of its red, green and blue, so that every colour
// of the print shows against the paper.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "review/sheet_outlines.hpp"

namespace georef::seams {

// The mosaic cannot be opened or read, or is not north-up.
class MosaicReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SeamStrip {
    cv::Mat ink;           // CV_32F, rows x columns
    cv::Mat valid;         // CV_8U, 255 where the mosaic has a tile
    int halfRows = 0;      // row halfRows is the edge
    double pixelMetres = 0.0;
    double lengthMetres = 0.0;  // of the whole edge
};

class MosaicReader {
public:
    // Opens the mosaic (mosaic.vrt or any north-up GDAL raster, EPSG:5514
    // easting and northing). Throws MosaicReadError.
    explicit MosaicReader(const std::string& path);
    ~MosaicReader();
    MosaicReader(const MosaicReader&) = delete;
    MosaicReader& operator=(const MosaicReader&) = delete;

    double PixelMetres() const noexcept;

    // The strip of the edge, halfRows pixels to either side, leaving out
    // endFraction of the edge's length at both ends (where third sheets
    // meet it). Throws MosaicReadError when GDAL cannot read the window.
    SeamStrip Strip(const review::SharedEdge& edge, int halfRows, double endFraction) const;

    // The strips of several edges, each tile they cross decoded once for
    // all of them. Throws MosaicReadError.
    std::vector<SeamStrip> Strips(const std::vector<review::SharedEdge>& edges, int halfRows,
                                  double endFraction) const;

private:
    struct Dataset;
    std::unique_ptr<Dataset> m_dataset;
};

}  // namespace georef::seams
