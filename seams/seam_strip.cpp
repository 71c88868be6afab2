#include "seams/seam_strip.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"

namespace georef::seams {

namespace {

struct EastNorth {
    double e = 0.0;  // metres, EPSG:5514
    double n = 0.0;
};

EastNorth FromOutput(const transform::OutputPoint& p) noexcept { return {-p.Y, -p.X}; }

}  // namespace

struct MosaicReader::Dataset {
    gdal_support::DatasetHandle handle;
    int width = 0;
    int height = 0;
    int bands = 0;
    double gt[6] = {};  // east = gt0 + col * gt1, north = gt3 + row * gt5

    GDALDatasetH H() const noexcept { return static_cast<GDALDatasetH>(handle.get()); }
};

MosaicReader::MosaicReader(const std::string& path) : m_dataset(std::make_unique<Dataset>()) {
    GDALAllRegister();
    gdal_support::QuietErrors quiet;
    Dataset& d = *m_dataset;
    d.handle.reset(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!d.handle) {
        throw MosaicReadError("cannot open the mosaic " + path + ": " + gdal_support::LastMessage("GDAL cannot read it"));
    }
    d.width = GDALGetRasterXSize(d.H());
    d.height = GDALGetRasterYSize(d.H());
    d.bands = GDALGetRasterCount(d.H());
    if (d.bands < 1 || GDALGetGeoTransform(d.H(), d.gt) != CE_None || d.gt[2] != 0.0 || d.gt[4] != 0.0 ||
        !(d.gt[1] > 0.0) || !(d.gt[5] < 0.0)) {
        throw MosaicReadError("the mosaic " + path + " is not a north-up georeferenced image");
    }
}

MosaicReader::~MosaicReader() = default;

double MosaicReader::PixelMetres() const noexcept { return m_dataset->gt[1]; }

SeamStrip MosaicReader::Strip(const review::SharedEdge& edge, int halfRows, double endFraction) const {
    const Dataset& d = *m_dataset;
    EastNorth start = FromOutput(edge.from);
    EastNorth end = FromOutput(edge.to);
    if ((edge.meridian && start.n > end.n) || (!edge.meridian && start.e > end.e)) {
        std::swap(start, end);
    }
    SeamStrip strip;
    strip.pixelMetres = d.gt[1];
    strip.halfRows = halfRows;
    strip.lengthMetres = std::hypot(end.e - start.e, end.n - start.n);
    if (!(strip.lengthMetres > 0.0) || !std::isfinite(strip.lengthMetres)) {
        return strip;
    }
    const EastNorth along{(end.e - start.e) / strip.lengthMetres, (end.n - start.n) / strip.lengthMetres};
    const EastNorth across{along.n, -along.e};  // along turned clockwise: towards the second sheet
    const double pixel = strip.pixelMetres;
    const double skip = endFraction * strip.lengthMetres;
    const int columns = static_cast<int>(std::floor((strip.lengthMetres - 2.0 * skip) / pixel));
    const int rows = 2 * halfRows + 1;
    if (columns < 1) {
        return strip;
    }
    // Mosaic pixel coordinates (column, row of pixel centres) of every strip pixel.
    cv::Mat mapX(rows, columns, CV_32F), mapY(rows, columns, CV_32F);
    double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    for (int r = 0; r < rows; ++r) {
        const double v = (r - halfRows) * pixel;
        float* mx = mapX.ptr<float>(r);
        float* my = mapY.ptr<float>(r);
        for (int c = 0; c < columns; ++c) {
            const double u = skip + (c + 0.5) * pixel;
            const double e = start.e + u * along.e + v * across.e;
            const double n = start.n + u * along.n + v * across.n;
            const double x = (e - d.gt[0]) / d.gt[1] - 0.5;
            const double y = (n - d.gt[3]) / d.gt[5] - 0.5;
            mx[c] = static_cast<float>(x);
            my[c] = static_cast<float>(y);
            minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(minX)) - 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(minY)) - 1);
    const int x1 = std::min(d.width, static_cast<int>(std::ceil(maxX)) + 2);
    const int y1 = std::min(d.height, static_cast<int>(std::ceil(maxY)) + 2);
    strip.ink = cv::Mat::zeros(rows, columns, CV_32F);
    strip.valid = cv::Mat::zeros(rows, columns, CV_8U);
    if (x0 >= x1 || y0 >= y1) {
        return strip;  // the edge lies outside the mosaic
    }
    const int w = x1 - x0, h = y1 - y0;
    cv::Mat rgb(h, w, CV_8UC3);
    int bandMap[3] = {1, 2, 3};
    if (d.bands < 3) {
        bandMap[1] = bandMap[2] = 1;
    }
    {
        gdal_support::QuietErrors quiet;
        if (GDALDatasetRasterIO(d.H(), GF_Read, x0, y0, w, h, rgb.data, w, h, GDT_Byte, 3, bandMap, 3,
                                static_cast<int>(rgb.step), 1) != CE_None) {
            throw MosaicReadError("cannot read the mosaic: " + gdal_support::LastMessage("GDAL gave no reason"));
        }
    }
    // Ink: 255 less the darkest channel. Where the mosaic has no tile it
    // gives black, 0 in every channel, which no print on paper decoded from
    // a JPEG tile comes to (its black ink lies some thirty levels above):
    // such pixels are no part of either sheet. (Reading the mosaic's mask
    // instead costs a quarter of the whole measurement.)
    cv::Mat darkest, brightest;
    cv::Mat channels[3];
    cv::split(rgb, channels);
    cv::min(channels[0], channels[1], darkest);
    cv::min(darkest, channels[2], darkest);
    cv::max(channels[0], channels[1], brightest);
    cv::max(brightest, channels[2], brightest);
    cv::Mat mask = brightest > 0;
    cv::Mat ink;
    darkest.convertTo(ink, CV_32F, -1.0, 255.0);
    mapX -= static_cast<float>(x0);
    mapY -= static_cast<float>(y0);
    cv::remap(ink, strip.ink, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    // A strip pixel counts only when every mosaic pixel it draws from has a tile.
    cv::Mat solid;
    cv::erode(mask, solid, cv::Mat::ones(3, 3, CV_8U), cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::remap(solid, strip.valid, mapX, mapY, cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
    return strip;
}

}  // namespace georef::seams
