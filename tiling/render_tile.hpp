#pragma once
// Rendering of one tile: scan-line filling of the sheet's boundary polygon,
// row by row, and for every covered pixel the pixel chain back into the scan
// and a bilinear sample of it.
//
// Tile frame: row i lies at output X = tileX + i * PixelSize (X grows
// downward), column m at output Y = Ymax - m * PixelSize with
// Ymax = tileY + 10000 (Y grows to the left). Both positions are single
// precision, as the tile grid has always been laid out.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "raster/tile_image.hpp"
#include "tiling/pixel_chain.hpp"
#include "tiling/run_context.hpp"
#include "tiling/span_kernel.hpp"
#include "transform/sheet_boundary.hpp"

namespace georef::tiling {

// Output X of pixel row i: single-precision product, single-precision sum,
// then widened to double.
inline double RowX(int row, float pixelSize, int tileX) noexcept {
    const float offset = static_cast<float>(row) * pixelSize;
    const float X = offset + static_cast<float>(tileX);
    return static_cast<double>(X);
}

// Output Y of pixel column m of a tile whose column 0 lies at Ymax.
inline double ColumnY(int column, float pixelSize, int Ymax) noexcept {
    const float offset = static_cast<float>(column) * pixelSize;
    const float Y = static_cast<float>(Ymax) - offset;
    return static_cast<double>(Y);
}

// Tile column of a boundary crossing at output Y = Yc: (Ymax - Yc) / PixelSize
// truncated toward zero. A quotient beyond the 32-bit range becomes INT_MIN or
// INT_MAX, which the span rules treat like any column beyond the tile on that
// side.
int CrossingColumn(double Yc, int Ymax, float pixelSize) noexcept;

// Replaces crossings by the columns where the boundary's edges cross row X.
// Edge j runs from vertex j - 1 (the last vertex for j = 0) to vertex j and
// crosses when one end lies above X and the other not (half-open: the end
// with the larger X belongs to the edge), so horizontal edges never cross.
void FindRowCrossings(const std::vector<transform::OutputPoint>& vertices, double X, int Ymax,
                      float pixelSize, std::vector<int>& crossings);

// Ascending, by the exchange sort that steps back after each swap; equal
// entries keep their order.
void SortCrossings(std::vector<int>& crossings) noexcept;

// Calls paint(start, end) for every span of sorted crossings that covers
// columns start .. end - 1 of a tile tileSize wide, left to right. Pairs
// (0, 1), (2, 3), ...: a pair that starts at or beyond the right edge ends the
// row; one that ends at or left of column 0 is skipped; the others are
// clipped to the tile and skipped when empty. An unpaired last crossing
// (only possible with a damaged boundary) is ignored.
template <class PaintSpan>
void ForEachSpan(const std::vector<int>& crossings, int tileSize, PaintSpan&& paint) {
    const std::size_t count = crossings.size();
    for (std::size_t k = 0; k + 1 < count; k += 2) {
        int start = crossings[k];
        int end = crossings[k + 1];
        if (start >= tileSize) {
            return;
        }
        if (end <= 0) {
            continue;
        }
        if (start < 0) {
            start = 0;
        }
        if (end > tileSize) {
            end = tileSize;
        }
        if (start >= end) {
            continue;
        }
        paint(start, end);
    }
}

// What RenderTile finds in the tile buffer before it paints.
enum class TileStart {
    asLoaded,  // the buffer holds the tile (decoded, or cleared by the caller)
    white,     // the buffer is to be white: every row is cleared as it is painted
};

// Paints the current sheet into tiles. Built once per run: it holds the pixel
// chain and the scratch space of the rows. Pixels outside the boundary, where
// the grid has no cell, or whose sampling position lies outside the scan are
// left as they are.
//
// The rows of a tile are shared among run.threads threads (one per core when
// 0), the calling thread included. Rows write disjoint bytes of the tile and
// every pixel is computed the same way on any thread, so the tile does not
// depend on the thread count; the progress records come out in row order
// from the calling thread.
class TileRenderer {
public:
    // run must stay valid while the renderer lives, with every pointer set and
    // the scan loaded. Throws math::matrix_error when the fit's A is singular.
    explicit TileRenderer(const RunContext& run);

    // The same with a given span kernel, one of AvailableSpanKernels().
    TileRenderer(const RunContext& run, SpanKernel kernel);

    // Paints tile (TileSize x TileSize pixels) whose row 0 lies at tileX and
    // whose east edge lies at tileY. Writes an empty line, then one progress
    // record "i/TileSize\r" per row to out, in row order. With
    // TileStart::white the result is that of TileImage::ClearWhite followed
    // by painting, each row cleared by the thread that paints it. Throws
    // std::invalid_argument when the tile is not TileSize pixels square.
    void RenderTile(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                    TileStart start = TileStart::asLoaded);

    // Paints the tile as RenderTile does and saves it (TileImage::Save) at
    // the same time, in the same buffer: the calling thread encodes each row
    // as soon as it is painted and paints rows itself while the row it needs
    // next is not ready. The file and the progress text are those of
    // RenderTile followed by Save. When Save throws, the painting stops, the
    // progress records of the rows not reached are still written (so the
    // text does not depend on where it stopped), and the exception
    // propagates once every thread has ended; the tile file is unchanged.
    void RenderAndSave(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                       TileStart start = TileStart::asLoaded);

    // The same fill on one thread with every pixel taken through MapLiteral
    // and TileImage::SamplePixel: the plain reference for RenderTile.
    void RenderTileLiteral(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                           TileStart start = TileStart::asLoaded);

    // Threads RenderTile uses for a tile of tileSize rows.
    int ThreadCount() const noexcept;

private:
    class RowSession;

    // RenderTile, and with save also Save, of the tile.
    void Paint(raster::TileImage& tile, int tileX, int tileY, std::ostream& out, TileStart start, bool save);
    // The fixed inputs of the span kernel for a tile whose column 0 lies at
    // Ymax; also lays out m_alongY for it.
    SpanJob PrepareTile(int Ymax);

    template <class PaintSpan>
    void ScanRows(const raster::TileImage& tile, int tileX, int tileY, std::ostream& out, PaintSpan&& paint);

    // Scratch space of one rendering thread.
    struct Worker {
        std::vector<int> crossings;  // of the current row; room for every edge
        // The grid interpolated along Y for every column of the tile, inside
        // the grid cell `cell` along X (see PixelChain::InterpolateAlongY);
        // kSpanKernelLanes entries of slack at the end.
        std::vector<double> lonA, lonB, latA, latB;
        std::int32_t cell = 0;
        bool cellValid = false;
    };

    // Paints row `row` of the tile whose pixels start at pixels.
    void RenderRow(Worker& worker, int row, int tileX, int Ymax, const SpanJob& constants, std::uint8_t* pixels,
                   TileStart start) const noexcept;
    void PrepareWorkers(int count);

    RunContext m_run;
    PixelChain m_chain;
    SpanKernel m_kernel;
    std::vector<int> m_crossings;                 // of the literal path's current row
    std::vector<GridAxisPosition> m_alongY;       // grid position of each column of the current tile
    std::vector<Worker> m_workers;
};

}  // namespace georef::tiling
