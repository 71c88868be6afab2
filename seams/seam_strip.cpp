#include "seams/seam_strip.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "raster/jpeg_window.hpp"
#include "review/mosaic_tiles.hpp"

namespace georef::seams {

namespace {

struct EastNorth {
    double e = 0.0;  // metres, EPSG:5514
    double n = 0.0;
};

EastNorth FromOutput(const transform::OutputPoint& p) noexcept { return {-p.Y, -p.X}; }

using TileSource = review::MosaicTile;

// Strips are cut from the mosaic in pieces of this many columns: a slanting
// edge's piece covers little more of the mosaic than the piece itself,
// where the whole strip's bounding box would be many times the strip.
constexpr int kPieceColumns = 256;

// The mosaic's ink and tile mask in the box a piece of the strip draws from.
struct Piece {
    int c0 = 0, c1 = 0;          // strip columns
    double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // mosaic box, x1 and y1 excluded
    cv::Mat ink;   // CV_32F: 255 less the darkest channel
    cv::Mat mask;  // CV_8U: 255 where a tile is

    bool Empty() const noexcept { return x0 >= x1 || y0 >= y1; }
};

// Ink and mask of n pixels of RGB. Where the mosaic has no tile it gives
// black, 0 in every channel, which no print on paper decoded from a JPEG
// tile comes to (its black ink lies some thirty levels above): such pixels
// are no part of either sheet. (Reading the mosaic's mask instead costs a
// quarter of the whole measurement.)
void InkOf(const std::uint8_t* rgb, int n, float* ink, std::uint8_t* mask) noexcept {
    for (int k = 0; k < n; ++k, rgb += 3) {
        const std::uint8_t darkest = std::min(std::min(rgb[0], rgb[1]), rgb[2]);
        const std::uint8_t brightest = std::max(std::max(rgb[0], rgb[1]), rgb[2]);
        ink[k] = static_cast<float>(255 - darkest);
        mask[k] = brightest > 0 ? 255 : 0;
    }
}

// Row y of the mosaic, columns x .. x + n - 1, into every piece it reaches.
void Distribute(const std::vector<Piece*>& pieces, int y, int x, int n, const std::uint8_t* rgb) noexcept {
    for (Piece* p : pieces) {
        if (y < p->y0 || y >= p->y1) {
            continue;
        }
        const int from = std::max(x, p->x0), to = std::min(x + n, p->x1);
        if (from < to) {
            InkOf(rgb + static_cast<std::size_t>(from - x) * 3, to - from,
                  p->ink.ptr<float>(y - p->y0) + (from - p->x0), p->mask.ptr<std::uint8_t>(y - p->y0) + (from - p->x0));
        }
    }
}

// Rows closer than this are decoded rather than skipped between two pieces.
constexpr int kLeastSkip = 32;

// The pieces filled from the tiles that cover them, each tile decoded once
// for all of them, over the columns they take from it and only the rows
// they need; false when a tile will not decode so (GDAL reads the pieces
// then, and tells what is wrong).
bool DecodeFromTiles(const std::vector<TileSource>& tiles, const std::vector<Piece*>& pieces) {
    try {
        for (const TileSource& t : tiles) {
            std::vector<Piece*> here;
            int left = INT_MAX, right = INT_MIN;
            std::vector<raster::RowRange> rows;
            for (Piece* p : pieces) {
                const int x0 = std::max(p->x0, t.x), x1 = std::min(p->x1, t.x + t.width);
                const int y0 = std::max(p->y0, t.y), y1 = std::min(p->y1, t.y + t.height);
                if (x0 < x1 && y0 < y1) {
                    here.push_back(p);
                    left = std::min(left, x0), right = std::max(right, x1);
                    rows.push_back({y0 - t.y, y1 - t.y});
                }
            }
            if (here.empty()) {
                continue;
            }
            std::sort(rows.begin(), rows.end(),
                      [](const raster::RowRange& a, const raster::RowRange& b) { return a.first < b.first; });
            std::vector<raster::RowRange> merged;
            for (const raster::RowRange& r : rows) {
                if (!merged.empty() && r.first <= merged.back().last + kLeastSkip) {
                    merged.back().last = std::max(merged.back().last, r.last);
                } else {
                    merged.push_back(r);
                }
            }
            raster::DecodeJpegRows(t.path, left - t.x, right - left, merged, [&](int row, const std::uint8_t* rgb) {
                Distribute(here, t.y + row, left, right - left, rgb);
            });
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// A strip laid out on the mosaic, before its pixels are read.
struct PendingStrip {
    SeamStrip strip;
    cv::Mat mapX, mapY;  // mosaic column and row of every strip pixel
    std::vector<Piece> pieces;
};

// The strip of an edge laid out on a mosaic of width x height pixels with
// geotransform gt, and the pieces it is cut in.
void LayOut(const double (&gt)[6], int width, int height, const review::SharedEdge& edge, int halfRows,
            double endFraction, PendingStrip& pending) {
    EastNorth start = FromOutput(edge.from);
    EastNorth end = FromOutput(edge.to);
    if ((edge.meridian && start.n > end.n) || (!edge.meridian && start.e > end.e)) {
        std::swap(start, end);
    }
    SeamStrip& strip = pending.strip;
    strip.pixelMetres = gt[1];
    strip.halfRows = halfRows;
    strip.lengthMetres = std::hypot(end.e - start.e, end.n - start.n);
    if (!(strip.lengthMetres > 0.0) || !std::isfinite(strip.lengthMetres)) {
        return;
    }
    const EastNorth along{(end.e - start.e) / strip.lengthMetres, (end.n - start.n) / strip.lengthMetres};
    const EastNorth across{along.n, -along.e};  // along turned clockwise: towards the second sheet
    const double pixel = strip.pixelMetres;
    const double skip = endFraction * strip.lengthMetres;
    const int columns = static_cast<int>(std::floor((strip.lengthMetres - 2.0 * skip) / pixel));
    const int rows = 2 * halfRows + 1;
    if (columns < 1) {
        return;
    }
    // Mosaic pixel coordinates (column, row of pixel centres) of every strip pixel.
    cv::Mat& mapX = pending.mapX;
    cv::Mat& mapY = pending.mapY;
    mapX.create(rows, columns, CV_32F);
    mapY.create(rows, columns, CV_32F);
    std::vector<Piece>& pieces = pending.pieces;
    for (int c0 = 0; c0 < columns; c0 += kPieceColumns) {
        Piece piece;
        piece.c0 = c0;
        piece.c1 = std::min(columns, c0 + kPieceColumns);
        pieces.push_back(piece);
    }
    for (int r = 0; r < rows; ++r) {
        const double v = (r - halfRows) * pixel;
        float* mx = mapX.ptr<float>(r);
        float* my = mapY.ptr<float>(r);
        for (int c = 0; c < columns; ++c) {
            const double u = skip + (c + 0.5) * pixel;
            const double e = start.e + u * along.e + v * across.e;
            const double n = start.n + u * along.n + v * across.n;
            const double x = (e - gt[0]) / gt[1] - 0.5;
            const double y = (n - gt[3]) / gt[5] - 0.5;
            mx[c] = static_cast<float>(x);
            my[c] = static_cast<float>(y);
            Piece& p = pieces[static_cast<std::size_t>(c / kPieceColumns)];
            p.minX = std::min(p.minX, x), p.maxX = std::max(p.maxX, x);
            p.minY = std::min(p.minY, y), p.maxY = std::max(p.maxY, y);
        }
    }
    strip.ink = cv::Mat::zeros(rows, columns, CV_32F);
    strip.valid = cv::Mat::zeros(rows, columns, CV_8U);
    for (Piece& p : pieces) {
        p.x0 = std::max(0, static_cast<int>(std::floor(p.minX)) - 1);
        p.y0 = std::max(0, static_cast<int>(std::floor(p.minY)) - 1);
        p.x1 = std::min(width, static_cast<int>(std::ceil(p.maxX)) + 2);
        p.y1 = std::min(height, static_cast<int>(std::ceil(p.maxY)) + 2);
        if (!p.Empty()) {
            p.ink.create(p.y1 - p.y0, p.x1 - p.x0, CV_32F);
            p.mask.create(p.y1 - p.y0, p.x1 - p.x0, CV_8U);
        }
    }
}

}  // namespace

struct MosaicReader::Dataset {
    gdal_support::DatasetHandle handle;
    int width = 0;
    int height = 0;
    int bands = 0;
    double gt[6] = {};  // east = gt0 + col * gt1, north = gt3 + row * gt5
    std::vector<TileSource> tiles;  // when the mosaic is a VRT of whole JPEG tiles

    GDALDatasetH H() const noexcept { return static_cast<GDALDatasetH>(handle.get()); }
};

MosaicReader::MosaicReader(const std::string& path) : m_dataset(std::make_unique<Dataset>()) {
    gdal_support::RegisterDrivers();
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
    d.tiles = review::WholeTiles(path, d.bands);
}

MosaicReader::~MosaicReader() = default;

double MosaicReader::PixelMetres() const noexcept { return m_dataset->gt[1]; }

SeamStrip MosaicReader::Strip(const review::SharedEdge& edge, int halfRows, double endFraction) const {
    return std::move(Strips({edge}, halfRows, endFraction).front());
}

std::vector<SeamStrip> MosaicReader::Strips(const std::vector<review::SharedEdge>& edges, int halfRows,
                                            double endFraction) const {
    const Dataset& d = *m_dataset;
    std::vector<PendingStrip> pending(edges.size());
    std::vector<Piece*> pieces;
    for (std::size_t k = 0; k < edges.size(); ++k) {
        LayOut(d.gt, d.width, d.height, edges[k], halfRows, endFraction, pending[k]);
        for (Piece& p : pending[k].pieces) {
            if (!p.Empty()) {
                pieces.push_back(&p);
            }
        }
    }
    const auto clear = [&pieces] {
        for (Piece* p : pieces) {
            p->ink.setTo(cv::Scalar(255.0));  // black where no tile is: all ink, masked out
            p->mask.setTo(cv::Scalar(0));
        }
    };
    clear();
    if (d.tiles.empty() || !DecodeFromTiles(d.tiles, pieces)) {
        clear();
        int bandMap[3] = {1, 2, 3};
        if (d.bands < 3) {
            bandMap[1] = bandMap[2] = 1;
        }
        gdal_support::QuietErrors quiet;
        for (Piece* p : pieces) {
            const int w = p->x1 - p->x0, h = p->y1 - p->y0;
            cv::Mat rgb(h, w, CV_8UC3);
            if (GDALDatasetRasterIO(d.H(), GF_Read, p->x0, p->y0, w, h, rgb.data, w, h, GDT_Byte, 3, bandMap, 3,
                                    static_cast<int>(rgb.step), 1) != CE_None) {
                throw MosaicReadError("cannot read the mosaic: " + gdal_support::LastMessage("GDAL gave no reason"));
            }
            for (int r = 0; r < h; ++r) {
                InkOf(rgb.ptr<std::uint8_t>(r), w, p->ink.ptr<float>(r), p->mask.ptr<std::uint8_t>(r));
            }
        }
    }
    std::vector<SeamStrip> strips;
    for (PendingStrip& s : pending) {
        for (Piece& p : s.pieces) {
            if (p.Empty()) {
                continue;  // this part of the edge lies outside the mosaic
            }
            const cv::Range part(p.c0, p.c1);
            const cv::Mat pieceX = s.mapX(cv::Range::all(), part) - static_cast<float>(p.x0);
            const cv::Mat pieceY = s.mapY(cv::Range::all(), part) - static_cast<float>(p.y0);
            cv::Mat ink = s.strip.ink(cv::Range::all(), part);
            cv::Mat valid = s.strip.valid(cv::Range::all(), part);
            cv::remap(p.ink, ink, pieceX, pieceY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
            // A strip pixel counts only when every mosaic pixel it draws from has a tile.
            cv::Mat solid;
            cv::erode(p.mask, solid, cv::Mat::ones(3, 3, CV_8U), cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                      cv::Scalar(0));
            cv::remap(solid, valid, pieceX, pieceY, cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
        }
        strips.push_back(std::move(s.strip));
        s = PendingStrip();  // its pieces are no longer needed
    }
    return strips;
}

}  // namespace georef::seams
