#include "tiling/render_tile.hpp"

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "raster/source_raster.hpp"

namespace georef::tiling {

int CrossingColumn(double Yc, int Ymax, float pixelSize) noexcept {
    const double left = static_cast<double>(static_cast<float>(Ymax));
    const double column = (left - Yc) / static_cast<double>(pixelSize);
    if (column >= 2147483648.0) {
        return INT_MAX;
    }
    if (!(column > -2147483649.0)) {  // also NaN, from a damaged boundary
        return INT_MIN;
    }
    return static_cast<int>(column);
}

void FindRowCrossings(const std::vector<transform::OutputPoint>& vertices, double X, int Ymax,
                      float pixelSize, std::vector<int>& crossings) {
    crossings.clear();
    const std::size_t n = vertices.size();
    for (std::size_t j = 0; j < n; ++j) {
        const transform::OutputPoint& current = vertices[j];
        const transform::OutputPoint& previous = vertices[j == 0 ? n - 1 : j - 1];
        const bool crosses = (current.X < X && X <= previous.X) || (previous.X < X && X <= current.X);
        if (!crosses) {
            continue;
        }
        const double Yc = ((X - current.X) / (previous.X - current.X)) * (previous.Y - current.Y) + current.Y;
        crossings.push_back(CrossingColumn(Yc, Ymax, pixelSize));
    }
}

void SortCrossings(std::vector<int>& crossings) noexcept {
    const std::size_t count = crossings.size();
    std::size_t k = 0;
    while (k + 1 < count) {
        if (crossings[k] > crossings[k + 1]) {
            std::swap(crossings[k], crossings[k + 1]);
            if (k != 0) {
                --k;
            }
        } else {
            ++k;
        }
    }
}

TileRenderer::TileRenderer(const RunContext& run)
    : m_run(run), m_chain(*run.grid, run.sheetNumber, *run.A, *run.T, run.source->Height()) {}

template <class PaintSpan>
void TileRenderer::ScanRows(const raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                            PaintSpan&& paint) {
    const int tileSize = m_run.tileSize;
    if (tileSize > 0 && (tile.Width() != tileSize || tile.Height() != tileSize)) {
        throw std::invalid_argument("tile buffer does not match the tile size");
    }
    const transform::SheetBoundary& boundary = *m_run.boundary;
    const int Ymax = tileY + 10000;

    out << std::endl;
    for (int row = 0; row < tileSize; ++row) {
        out << row << '/' << tileSize << '\r';
        const double X = RowX(row, m_run.pixelSize, tileX);
        if (boundary.box.minX > X || X > boundary.box.maxX) {
            continue;
        }
        FindRowCrossings(boundary.vertices, X, Ymax, m_run.pixelSize, m_crossings);
        SortCrossings(m_crossings);
        ForEachSpan(m_crossings, tileSize, [&](int start, int end) { paint(row, X, start, end); });
    }
}

void TileRenderer::RenderTile(raster::TileImage& tile, int tileX, int tileY, std::ostream& out) {
    const raster::SourceRaster& source = *m_run.source;
    const int width = source.Width();
    const int height = source.Height();
    const std::uint8_t* const* const planes = source.Planes();
    const int tileSize = m_run.tileSize;
    const int Ymax = tileY + 10000;

    // Y, and the grid row it falls in, depend on the column alone.
    m_columns.resize(tileSize > 0 ? static_cast<std::size_t>(tileSize) : 0);
    for (int m = 0; m < tileSize; ++m) {
        Column& column = m_columns[static_cast<std::size_t>(m)];
        column.Y = ColumnY(m, m_run.pixelSize, Ymax);
        column.alongY = m_chain.AlongY(column.Y);
    }

    std::uint8_t* const pixels = tile.Pixels();
    ScanRows(tile, tileX, tileY, out, [&](int row, double X, int start, int end) {
        const GridAxisPosition alongX = m_chain.AlongX(X);
        if (!alongX.inside) {
            return;
        }
        for (int m = start; m < end; ++m) {
            const std::optional<PlanePosition> position =
                m_chain.Map(alongX, m_columns[static_cast<std::size_t>(m)].alongY);
            if (!position) {
                continue;
            }
            const std::size_t index = static_cast<std::size_t>(row) * static_cast<std::size_t>(tileSize) +
                                      static_cast<std::size_t>(m);
            raster::SampleBilinear(planes, width, width, height, position->u, position->v, pixels + 3 * index);
        }
    });
}

void TileRenderer::RenderTileLiteral(raster::TileImage& tile, int tileX, int tileY, std::ostream& out) {
    const raster::SourceRaster& source = *m_run.source;
    const int width = source.Width();
    const int height = source.Height();
    const int tileSize = m_run.tileSize;
    const int Ymax = tileY + 10000;

    ScanRows(tile, tileX, tileY, out, [&](int row, double X, int start, int end) {
        for (int m = start; m < end; ++m) {
            const double Y = ColumnY(m, m_run.pixelSize, Ymax);
            const std::optional<PlanePosition> position =
                MapLiteral(*m_run.grid, m_run.sheetNumber, *m_run.A, *m_run.T, height, X, Y);
            if (position) {
                tile.SamplePixel(source, width, row * tileSize + m, position->u, position->v);
            }
        }
    });
}

}  // namespace georef::tiling
