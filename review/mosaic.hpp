#pragma once
// The mosaic of an area (a GDAL raster, usually mosaic.vrt over the tiles),
// read for the review page: the whole of it reduced for the overview, and
// strips along the edges that neighbouring sheets share.
//
// Frames: the mosaic is georeferenced in easting/northing of EPSG:5514
// (metres); the output frame of the sheets is X = -northing, Y = -easting.
// Images written here are RGB JPEGs, top row first.

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "review/sheet_outlines.hpp"

namespace georef::review {

// The mosaic cannot be read, is not north-up, or an image cannot be written.
class MosaicError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An easting/northing rectangle (metres): where a raster lies, or what a
// map shows.
struct MapExtent {
    double west = 0.0;
    double east = 0.0;
    double south = 0.0;
    double north = 0.0;

    // The extent of nothing, which the first Add makes a point.
    static MapExtent Nothing() noexcept { return {INFINITY, -INFINITY, INFINITY, -INFINITY}; }
    // Grows the extent to hold the point (e, n).
    void Add(double e, double n) noexcept {
        west = std::min(west, e), east = std::max(east, e);
        south = std::min(south, n), north = std::max(north, n);
    }
    bool Empty() const noexcept { return !(east > west && north > south); }
    double Width() const noexcept { return east - west; }
    double Height() const noexcept { return north - south; }
};

struct WrittenImage {
    int width = 0;  // pixels
    int height = 0;
    MapExtent extent;  // what the image shows (overview only)
};

// How a seam strip is cut.
struct StripOptions {
    int maxLengthPixels = 1200;      // along the edge, at most (see WriteSeamStrip)
    double halfWidthFraction = 0.03; // each side of the edge, as a share of its length
};

class Mosaic {
public:
    // Opens the raster read-only. Throws MosaicError when GDAL cannot open
    // it, it has no bands, or its geotransform is missing or rotated.
    static Mosaic Open(const std::string& path);
    ~Mosaic();
    Mosaic(Mosaic&&) noexcept;
    Mosaic& operator=(Mosaic&&) noexcept;
    Mosaic(const Mosaic&) = delete;
    Mosaic& operator=(const Mosaic&) = delete;

    MapExtent Extent() const noexcept;
    double PixelMetres() const noexcept;  // edge of one mosaic pixel, easting direction

    // The whole mosaic averaged down to at most maxWidth pixels wide (never
    // enlarged), written as JPEG. Throws MosaicError.
    WrittenImage WriteOverview(const std::string& jpegPath, int maxWidth) const;

    // A strip along the shared edge, turned so that the first sheet lies
    // above the edge and the second below it: for a parallel, west at left;
    // for a meridian, north at right. The edge runs through the middle row,
    // marked by short red ticks at both ends; never finer than the mosaic's
    // own pixels, and at the pixel of a JPEG tile's reduced level (1/2, 1/4,
    // 1/8) when one is a little coarser than maxLengthPixels asks, so that
    // the tiles are decoded at that scale only. Parts outside the mosaic are white. Empty (nothing
    // written) when the strip misses the mosaic entirely. Throws MosaicError.
    std::optional<WrittenImage> WriteSeamStrip(const SharedEdge& edge, const std::string& jpegPath,
                                               const StripOptions& options = {}) const;

    // What an image of the mosaic is drawn from, as a key: the overview
    // (edge null, at most maxPixels wide) or the seam strip of edge; the
    // mosaic's size and place, the image's options and every file GDAL reads
    // for it (of a VRT the tiles under the image) with its inode, size and
    // times. Equal keys draw equal images, so an earlier page's image of an
    // equal key can stand in for drawing it again.
    std::string ImageKey(const SharedEdge* edge, int maxPixels, const StripOptions& options = {}) const;

private:
    struct Dataset;
    explicit Mosaic(std::unique_ptr<Dataset> dataset);
    std::unique_ptr<Dataset> m_dataset;
};

// How WriteJpeg leaves the file: with a comment (a JPEG COM marker, empty:
// none), and on disk when it returns or only complete under its name (a file
// that can be made again from what it came from).
struct JpegFileOptions {
    std::string comment;
    bool synced = true;
};

// Writes an RGB image (width * height * 3 bytes, top row first) as JPEG
// through a temporary name, renamed when complete. Throws MosaicError.
void WriteJpeg(const std::string& path, const unsigned char* rgb, int width, int height, int quality,
               const JpegFileOptions& file = {});

// Width and height in pixels of any image GDAL reads; empty when it cannot.
std::optional<std::pair<int, int>> ImageSize(const std::string& path);

}  // namespace georef::review
