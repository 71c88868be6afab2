#include "tiling/render_tile.hpp"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

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

// Rows a thread takes at a time. Two threads painting alternate chunks of
// 8 rows were 12 % slower than with chunks of 64 on a 300 dpi tile; larger
// chunks gain nothing more and leave one thread alone longer at the end.
constexpr int kRowsPerChunk = 64;
static_assert(kRowsPerChunk % TileWatcher::kRowsTogether == 0, "a chunk is told in whole groups");
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

// The rendering of one tile's rows, shared by the calling thread and the
// helper threads it starts. Rows are taken in chunks, in order, from a
// shared counter; each row is marked finished once painted. The calling
// thread asks for rows in order (WaitForRow): it paints chunks itself until
// the row it asks for is finished, or sleeps when every chunk is taken, and
// writes the progress records up to that row. When it also encodes the tile
// (asking for each row before encoding it), it thus paints only while it
// would otherwise wait, and the helpers never wait for it. The destructor
// stops the helpers after their current chunk and joins them, so no thread
// outlives the session, whatever ends it.
class TileRenderer::RowSession {
public:
    RowSession(TileRenderer& renderer, std::uint8_t* pixels, int tileX, int Ymax, const SpanJob& constants,
               TileStart start, std::ostream& out, int threadCount)
        : m_renderer(renderer),
          m_pixels(pixels),
          m_tileX(tileX),
          m_Ymax(Ymax),
          m_constants(constants),
          m_start(start),
          m_out(out),
          m_tileSize(renderer.m_run.tileSize),
          m_finished(std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(m_tileSize))) {
        m_helpers.reserve(static_cast<std::size_t>(threadCount - 1));
        for (int t = 1; t < threadCount; ++t) {
            Worker& worker = m_renderer.m_workers[static_cast<std::size_t>(t)];
            try {
                m_helpers.emplace_back([this, &worker]() noexcept {
                    while (RenderNextChunk(worker)) {
                    }
                });
            } catch (const std::exception&) {
                break;  // no more threads to be had: the others take the rows
            }
        }
    }

    ~RowSession() {
        Stop();
        for (std::thread& helper : m_helpers) {
            helper.join();
        }
    }

    RowSession(const RowSession&) = delete;
    RowSession& operator=(const RowSession&) = delete;

    // Returns once rows 0 .. row are painted and their progress records
    // written.
    void WaitForRow(int row) {
        std::atomic<bool>& finished = m_finished[static_cast<std::size_t>(row)];
        while (!finished.load(std::memory_order_acquire)) {
            if (!RenderNextChunk(m_renderer.m_workers[0])) {
                // Every chunk is taken: the row is being painted by a helper.
                std::unique_lock<std::mutex> lock(m_mutex);
                m_chunkDone.wait(lock, [&finished] { return finished.load(std::memory_order_acquire); });
            }
        }
        while (m_reported <= row) {
            m_out << m_reported << '/' << m_tileSize << '\r';
            ++m_reported;
        }
    }

    // The progress records of the rows not reported yet, painted or not.
    void ReportTheRest() {
        while (m_reported < m_tileSize) {
            m_out << m_reported << '/' << m_tileSize << '\r';
            ++m_reported;
        }
    }

    // No chunk is taken after this; chunks being painted are finished.
    void Stop() noexcept { m_nextRow.store(m_tileSize, std::memory_order_relaxed); }

private:
    // Paints the next chunk of rows; false when none is left.
    bool RenderNextChunk(Worker& worker) noexcept {
        const int first = m_nextRow.fetch_add(kRowsPerChunk, std::memory_order_relaxed);
        if (first >= m_tileSize) {
            return false;
        }
        const int last = std::min(first + kRowsPerChunk, m_tileSize);
        TileWatcher* const watcher = m_renderer.m_run.watcher;
        int untold = first;  // the first row painted but not yet told
        for (int row = first; row < last; ++row) {
            m_renderer.RenderRow(worker, row, m_tileX, m_Ymax, m_constants, m_pixels, m_start);
            m_finished[static_cast<std::size_t>(row)].store(true, std::memory_order_release);
            if (watcher != nullptr && (row + 1 - untold == TileWatcher::kRowsTogether || row + 1 == last)) {
                // While the rows are still in this core's cache. The
                // session's end joins the helpers, so every group is told
                // before the tile loop says the tile was saved.
                watcher->Rows(untold, row + 1,
                              m_pixels + 3 * static_cast<std::size_t>(untold) * static_cast<std::size_t>(m_tileSize));
                untold = row + 1;
            }
        }
        // Taking the lock orders this wake-up after the test of a thread
        // that is about to sleep.
        { const std::lock_guard<std::mutex> lock(m_mutex); }
        m_chunkDone.notify_all();
        return true;
    }

    TileRenderer& m_renderer;
    std::uint8_t* const m_pixels;
    const int m_tileX;
    const int m_Ymax;
    const SpanJob m_constants;
    const TileStart m_start;
    std::ostream& m_out;
    const int m_tileSize;
    std::atomic<int> m_nextRow{0};
    const std::unique_ptr<std::atomic<bool>[]> m_finished;  // per row, painted
    int m_reported = 0;  // rows whose progress record is written (calling thread only)
    std::mutex m_mutex;
    std::condition_variable m_chunkDone;
    std::vector<std::thread> m_helpers;  // last member: started when everything else exists
};

SpanJob TileRenderer::PrepareTile(int Ymax) {
    const int tileSize = m_run.tileSize;
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
    constants.pixels = source.Pixels();
    constants.width = source.Width();
    constants.height = m_chain.ScanHeight();
    return constants;
}

void TileRenderer::Paint(raster::TileImage& tile, int tileX, int tileY, std::ostream& out, TileStart start,
                         bool save) {
    const int tileSize = m_run.tileSize;
    if (tileSize > 0 && (tile.Width() != tileSize || tile.Height() != tileSize)) {
        throw std::invalid_argument("tile buffer does not match the tile size");
    }
    out << std::endl;
    if (tileSize <= 0) {
        if (save) {
            tile.Save();
        }
        return;
    }
    const int Ymax = tileY + 10000;
    const SpanJob constants = PrepareTile(Ymax);
    const int threadCount = ThreadCount();
    PrepareWorkers(threadCount);

    RowSession session(*this, tile.Pixels(), tileX, Ymax, constants, start, out, threadCount);
    if (!save) {
        for (int row = 0; row < tileSize; ++row) {
            session.WaitForRow(row);
        }
        return;
    }
    try {
        // Save reads row r only after WaitForRow(r) has returned.
        tile.Save([&session](int row) { session.WaitForRow(row); });
    } catch (...) {
        session.Stop();
        session.ReportTheRest();
        throw;
    }
}

void TileRenderer::RenderTile(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                              TileStart start) {
    Paint(tile, tileX, tileY, out, start, false);
}

void TileRenderer::RenderAndSave(raster::TileImage& tile, int tileX, int tileY, std::ostream& out,
                                 TileStart start) {
    Paint(tile, tileX, tileY, out, start, true);
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
