#include "tiling/render_tile.hpp"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
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

namespace {

// Rows a thread takes at a time.
constexpr int kRowsPerChunk = 8;
// More threads than this gain nothing on a tile row's worth of work.
constexpr int kMostThreads = 16;

}  // namespace

TileRenderer::TileRenderer(const RunContext& run) : TileRenderer(run, BestSpanKernel()) {}

TileRenderer::TileRenderer(const RunContext& run, SpanKernel kernel)
    : m_run(run),
      m_chain(*run.grid, run.sheetNumber, *run.A, *run.T, run.source->Height()),
      m_kernel(kernel) {}

int TileRenderer::ThreadCount() const noexcept {
    int threads = m_run.threads;
    if (threads <= 0) {
        threads = static_cast<int>(std::thread::hardware_concurrency());
    }
    const int chunks = m_run.tileSize > 0 ? (m_run.tileSize + kRowsPerChunk - 1) / kRowsPerChunk : 1;
    return std::max(1, std::min({threads, kMostThreads, chunks}));
}

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

void TileRenderer::PrepareWorkers(int count) {
    const std::size_t columns = static_cast<std::size_t>(m_run.tileSize) + kSpanKernelLanes;
    if (m_workers.size() < static_cast<std::size_t>(count)) {
        m_workers.resize(static_cast<std::size_t>(count));
    }
    for (Worker& worker : m_workers) {
        // Every edge may cross a row; with this room FindRowCrossings never
        // allocates while the threads run.
        worker.crossings.reserve(m_run.boundary->vertices.size());
        for (std::vector<double>* values : {&worker.lonA, &worker.lonB, &worker.latA, &worker.latB}) {
            values->resize(columns);
        }
        worker.cellValid = false;
    }
}

void TileRenderer::RenderRow(Worker& worker, int row, int tileX, int Ymax, const SpanJob& constants,
                             std::uint8_t* pixels, TileStart start) const noexcept {
    const int tileSize = m_run.tileSize;
    std::uint8_t* const rowPixels = pixels + 3 * static_cast<std::size_t>(row) * static_cast<std::size_t>(tileSize);
    if (start == TileStart::white) {
        std::memset(rowPixels, 255, 3 * static_cast<std::size_t>(tileSize));
    }
    const transform::SheetBoundary& boundary = *m_run.boundary;
    const double X = RowX(row, m_run.pixelSize, tileX);
    if (boundary.box.minX > X || X > boundary.box.maxX) {
        return;
    }
    FindRowCrossings(boundary.vertices, X, Ymax, m_run.pixelSize, worker.crossings);
    SortCrossings(worker.crossings);
    const GridAxisPosition alongX = m_chain.AlongX(X);
    if (!alongX.inside) {
        return;  // no pixel of this row has a grid cell
    }
    if (!worker.cellValid || worker.cell != alongX.cell) {
        m_chain.InterpolateAlongY(alongX.cell, m_alongY.data(), tileSize, worker.lonA.data(),
                                  worker.lonB.data(), worker.latA.data(), worker.latB.data());
        worker.cell = alongX.cell;
        worker.cellValid = true;
    }
    SpanJob job = constants;
    job.lonA = worker.lonA.data();
    job.lonB = worker.lonB.data();
    job.latA = worker.latA.data();
    job.latB = worker.latB.data();
    job.fx = alongX.fraction;
    job.rgb = rowPixels;
    ForEachSpan(worker.crossings, tileSize, [&](int start, int end) {
        job.start = start;
        job.end = end;
        m_kernel(job);
    });
}

void TileRenderer::RenderTile(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                              TileStart start) {
    const int tileSize = m_run.tileSize;
    if (tileSize > 0 && (tile.Width() != tileSize || tile.Height() != tileSize)) {
        throw std::invalid_argument("tile buffer does not match the tile size");
    }
    out << std::endl;
    if (tileSize <= 0) {
        return;
    }
    const int Ymax = tileY + 10000;

    // The grid position along Y depends on the column alone.
    m_alongY.resize(static_cast<std::size_t>(tileSize));
    for (int m = 0; m < tileSize; ++m) {
        m_alongY[static_cast<std::size_t>(m)] = m_chain.AlongY(ColumnY(m, m_run.pixelSize, Ymax));
    }

    const raster::SourceRaster& source = *m_run.source;
    const geometry::SheetMapping& mapping = m_chain.Mapping();
    const geometry::InverseFit& inverse = m_chain.Inverse();
    SpanJob constants;
    constants.lonWest = mapping.Graticule().lonWest;
    constants.latSouth = mapping.Graticule().latSouth;
    constants.corner = mapping.Corners();
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            constants.inverse[i][j] = inverse.Inverse(i, j);
        }
        constants.shift[i] = inverse.Shift(i);
    }
    constants.planes = source.Planes();
    constants.width = source.Width();
    constants.height = m_chain.ScanHeight();
    std::uint8_t* const pixels = tile.Pixels();

    const int threadCount = ThreadCount();
    PrepareWorkers(threadCount);
    if (threadCount == 1) {
        for (int row = 0; row < tileSize; ++row) {
            out << row << '/' << tileSize << '\r';
            RenderRow(m_workers[0], row, tileX, Ymax, constants, pixels, start);
        }
        return;
    }

    // Rows are taken in chunks from a shared counter. The calling thread
    // renders too and, between its chunks, writes the progress records of
    // the rows finished so far, in row order.
    std::atomic<int> nextRow{0};
    const std::unique_ptr<std::atomic<bool>[]> finished = std::make_unique<std::atomic<bool>[]>(
        static_cast<std::size_t>(tileSize));
    const auto renderChunks = [&](Worker& worker, const auto& afterChunk) {
        for (;;) {
            const int first = nextRow.fetch_add(kRowsPerChunk, std::memory_order_relaxed);
            if (first >= tileSize) {
                return;
            }
            const int last = std::min(first + kRowsPerChunk, tileSize);
            for (int row = first; row < last; ++row) {
                RenderRow(worker, row, tileX, Ymax, constants, pixels, start);
                finished[static_cast<std::size_t>(row)].store(true, std::memory_order_release);
            }
            afterChunk();
        }
    };
    int reported = 0;
    const auto report = [&]() {
        while (reported < tileSize && finished[static_cast<std::size_t>(reported)].load(std::memory_order_acquire)) {
            out << reported << '/' << tileSize << '\r';
            ++reported;
        }
    };

    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<std::size_t>(threadCount - 1));
    for (int t = 1; t < threadCount; ++t) {
        try {
            Worker& worker = m_workers[static_cast<std::size_t>(t)];
            helpers.emplace_back([&renderChunks, &worker]() noexcept { renderChunks(worker, [] {}); });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the others take the rows
        }
    }
    std::exception_ptr failure;  // from writing to out; the helpers finish first
    try {
        renderChunks(m_workers[0], report);
    } catch (...) {
        failure = std::current_exception();
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    report();
}

void TileRenderer::RenderTileLiteral(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                                     TileStart start) {
    if (start == TileStart::white && m_run.tileSize > 0 && tile.Width() == m_run.tileSize &&
        tile.Height() == m_run.tileSize) {
        tile.ClearWhite();
    }
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
