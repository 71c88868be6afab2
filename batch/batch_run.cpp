#include "batch/batch_run.hpp"

#include <gdal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "batch/content_key.hpp"
#include "batch/corner_source.hpp"
#include "batch/journal.hpp"
#include "batch/mosaic.hpp"
#include "batch/sheet_list.hpp"
#include "batch/sheet_log.hpp"
#include "batch/leftovers.hpp"
#include "driver/run.hpp"
#include "driver/run_parameters.hpp"
#include "gdal_support/dataset_handle.hpp"
#include "geometry/corner_fit_report.hpp"
#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/file_system.hpp"
#include "review/tile_reduction.hpp"
#include "tiling/world_file.hpp"

namespace georef::batch {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// GDAL's block cache for the whole process while workers read scans: the
// single run's own limit, set once here because the cache is shared by all
// threads.
constexpr GIntBig kSharedReadCacheBytes = 32 * 1024 * 1024;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string MinutesAndSeconds(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    std::ostringstream text;
    text << whole / 60 << ':' << std::setw(2) << std::setfill('0') << whole % 60;
    return text.str();
}

// Hands out sheets in the lock-friendly order, preferring one that is no
// neighbour of a sheet still running, so that concurrent sheets rarely share
// a tile. Thread-safe.
class Scheduler {
public:
    explicit Scheduler(const std::vector<SheetInput>& order) : m_order(order), m_taken(order.size(), false) {}

    // The index (into the order) of the next sheet, or empty when all are taken.
    std::optional<std::size_t> Take() {
        const std::lock_guard<std::mutex> guard(m_mutex);
        std::optional<std::size_t> first;
        for (std::size_t i = 0; i < m_order.size(); ++i) {
            if (m_taken[i]) {
                continue;
            }
            if (!first) {
                first = i;
            }
            const bool nearRunning = std::any_of(m_running.begin(), m_running.end(), [&](std::size_t running) {
                return AreNeighbours(m_order[running].sheet, m_order[i].sheet);
            });
            if (!nearRunning) {
                return Start(i);
            }
        }
        return first ? std::optional<std::size_t>(Start(*first)) : std::nullopt;
    }

    void Finish(std::size_t index) {
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_running.erase(std::find(m_running.begin(), m_running.end(), index));
    }

private:
    std::size_t Start(std::size_t index) {
        m_taken[index] = true;
        m_running.push_back(index);
        return index;
    }

    const std::vector<SheetInput>& m_order;
    std::vector<bool> m_taken;
    std::vector<std::size_t> m_running;
    std::mutex m_mutex;
};

// The progress report: on a terminal one line redrawn in place, otherwise
// one line per finished sheet. Thread-safe.
class Progress {
public:
    Progress(std::ostream& out, std::size_t total, bool live) : m_out(out), m_total(total), m_live(live) {
        if (m_live) {
            Redraw();
        }
    }

    void Finished(const SheetResult& result) {
        const std::lock_guard<std::mutex> guard(m_mutex);
        ++m_finished;
        if (result.status == SheetStatus::failed) {
            ++m_failed;
        }
        if (m_live) {
            Redraw();
            return;
        }
        m_out << '[' << m_finished << '/' << m_total << "] " << result.sheet << ' ' << StatusName(result.status);
        if (result.status == SheetStatus::done) {
            m_out << ", " << result.tilesWritten << " tiles, " << std::fixed << std::setprecision(1)
                  << result.seconds << " s" << std::defaultfloat;
        }
        if (!result.message.empty()) {
            m_out << ": " << result.message;
        }
        m_out << std::endl;
    }

    // Ends the live line so that what follows starts on a line of its own.
    void Close() {
        if (m_live) {
            m_out << std::endl;
        }
    }

private:
    void Redraw() {
        const double elapsed = SecondsSince(m_start);
        m_out << "\r" << m_finished << '/' << m_total << " sheets, " << m_failed << " failed, elapsed "
              << MinutesAndSeconds(elapsed);
        if (m_finished > 0 && m_finished < m_total) {
            const double eta = elapsed / static_cast<double>(m_finished) * static_cast<double>(m_total - m_finished);
            m_out << ", about " << MinutesAndSeconds(eta) << " left";
        }
        m_out << "   " << std::flush;
    }

    std::ostream& m_out;
    std::size_t m_total;
    bool m_live;
    std::size_t m_finished = 0;
    std::size_t m_failed = 0;
    Clock::time_point m_start = Clock::now();
    std::mutex m_mutex;
};

// What every sheet of the batch shares.
struct BatchContext {
    const BatchOptions& options;
    std::string logDirectory;
    Journal journal;  // as it was when the batch started
    int renderThreads = 1;
};

std::optional<CornerFigures> FiguresOf(const CornerSource& corners) {
    if (!corners.verdict || !corners.verdict->fitted) {
        return std::nullopt;
    }
    const geometry::CornerFitReport& fit = corners.verdict->fit;
    return CornerFigures{fit.rmsMetres, fit.WorstMetres(), fit.dpi, fit.rotationDegrees};
}

// Whether the first line of a world file states the pixel edge expected
// (metres), to the six significant digits a world file holds: the tiles of
// two usable dpi values differ far more. A line that is no number is a
// world file of something else.
bool SamePixelSize(const std::string& line, double expected) {
    const char* begin = line.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value)) {
        return false;
    }
    while (*end == ' ' || *end == '\t' || *end == '\r') {
        ++end;
    }
    return *end == '\0' && std::fabs(value - expected) <= 1e-5 * expected;
}

// The journal's record of a result of this batch.
JournalEntry EntryOf(const SheetResult& result, const std::string& fingerprint, const std::string& scanStat,
                     const std::string& scanDigest) {
    JournalEntry entry;
    entry.fingerprint = result.status == SheetStatus::done ? fingerprint : std::string();
    entry.tilesWritten = result.tilesWritten;
    entry.seconds = result.seconds;
    entry.status = result.status == SheetStatus::done ? SheetStatus::done : SheetStatus::failed;
    entry.message = result.message;
    entry.scan = result.scan;
    entry.cornerFile = result.cornerFile;
    entry.corners = result.corners;
    entry.scanStat = scanStat;
    entry.scanDigest = scanDigest;
    return entry;
}

// Records a failure of this batch in the journal as the sheet's latest
// result; a journal that cannot be written is added to the message.
SheetResult Failed(SheetResult result, const BatchContext& context, int sheet, const std::string& scanStat = {},
                   const std::string& scanDigest = {}) {
    result.status = SheetStatus::failed;
    if (!geometry::IsValidSheetNumber(sheet)) {
        return result;  // no sheet of the area: the journal keeps areas' sheets only
    }
    try {
        Journal::Record(context.options.outputDirectory, context.options.dpi, sheet,
                        EntryOf(result, {}, scanStat, scanDigest));
    } catch (const std::exception& error) {
        result.message += std::string("; the journal could not be written: ") + error.what();
    }
    return result;
}

SheetResult RunOne(const SheetInput& input, const BatchContext& context) {
    const BatchOptions& options = context.options;
    SheetResult result;
    result.sheet = input.sheetText;
    result.scan = input.scan;
    if (!input.problem.empty()) {
        result.message = input.problem;
        return Failed(result, context, input.sheet);
    }
    // The scan by content: read again unless the file is the very one the
    // journal saw (same inode, size and times), wherever its folder now lies.
    const JournalEntry* earlier = context.journal.Find(input.sheet);
    const std::string scanStat = ScanFileStat(input.scan);
    const std::string scanDigest = scanStat.empty()
                                       ? std::string()
                                       : DigestUnlessUnchanged(input.scan, earlier ? earlier->scanStat : std::string(),
                                                               earlier ? earlier->scanDigest : std::string());
    if (scanDigest.empty()) {
        result.message = (scanStat.empty() ? "no scan " : "cannot read the scan ") + input.scan;
        return Failed(result, context, input.sheet);
    }

    CornerRequest cornerRequest;
    cornerRequest.cornersDirectory = options.cornersDirectory;
    cornerRequest.outputDirectory = options.outputDirectory;
    cornerRequest.scanDigest = scanDigest;
    cornerRequest.force = options.force;
    cornerRequest.acceptMirrored = options.acceptMirrored;
    DecodedScan scan(input.scan);  // decoded once, if at all, for the finder, the picture and the run
    const CornerSource corners = [&] {
        // The sheet's files in OUTDIR/corners/ are written under its lock.
        const std::optional<platform::RegionLock> lock = LockSheetFiles(options.outputDirectory, input.sheet);
        return LocateCorners(input, cornerRequest, scan);
    }();
    result.cornerPicture = corners.picture;
    result.cornerFile = corners.cornerFile;
    result.corners = FiguresOf(corners);
    if (!corners.Usable()) {
        result.message = corners.refusal;
        return Failed(result, context, input.sheet, scanStat, scanDigest);
    }

    const std::string fingerprint = Fingerprint(scanDigest, ContentDigest(corners.cornerFile), options.dpi,
                                                SheetRecordsDigest(options.configFile, input.sheet));
    if (!options.force && earlier != nullptr && earlier->status == SheetStatus::done) {
        const bool unchanged = earlier->fingerprint == fingerprint;
        const bool legacy = !unchanged && earlier->scanDigest.empty() &&
                            earlier->fingerprint ==
                                LegacyFingerprint(input.scan, corners.cornerFile, options.dpi, options.configFile);
        if (unchanged || legacy) {
            result.status = SheetStatus::skipped;
            result.message = "unchanged since an earlier batch finished it";
            result.tilesWritten = earlier->tilesWritten;
            result.seconds = earlier->seconds;
            if (legacy || earlier->scanStat != scanStat) {
                // Recorded again under the content key and the scan's present place.
                SheetResult recorded = result;
                recorded.status = SheetStatus::done;
                recorded.message.clear();
                try {
                    Journal::Record(options.outputDirectory, options.dpi, input.sheet,
                                    EntryOf(recorded, fingerprint, scanStat, scanDigest));
                } catch (const std::exception&) {
                    // Only the next batch pays: it reads the scan's bytes again.
                }
            }
            return result;
        }
    }

    result.logPath = platform::JoinPath(context.logDirectory, input.sheetText + ".log");
    driver::SheetRequest request;
    request.sheet = input.sheetText;
    request.cornerFile = corners.cornerFile;
    request.scan = input.scan;
    request.outputDirectory = options.outputDirectory;
    request.dpi = std::to_string(options.dpi);
    request.configFile = options.configFile;
    request.renderThreads = context.renderThreads;
    review::TileReducer reducer;  // the page's overview then decodes none of these tiles again
    request.tileWatcher = &reducer;
    try {
        request.decodedScan = &scan.Raster();
    } catch (const std::exception& error) {
        result.message = error.what();
        return Failed(result, context, input.sheet, scanStat, scanDigest);
    }

    const Clock::time_point start = Clock::now();
    driver::SheetOutcome outcome;
    {
        SheetLog log(result.logPath);
        if (!log.IsOpen()) {
            result.message = "cannot write the log " + result.logPath;
            result.logPath.clear();
            return Failed(result, context, input.sheet, scanStat, scanDigest);
        }
        outcome = driver::RunSheet(request, log.Stream(), log.Stream());
    }
    result.seconds = SecondsSince(start);
    result.tilesWritten = outcome.tilesWritten;
    if (outcome.exitStatus != 0) {
        // One language per message: the English reason when the run gave
        // one, else the run's own lines (its log holds both).
        const std::string& why = outcome.reason.empty() ? outcome.message : outcome.reason;
        result.message = "georef status " + std::to_string(outcome.exitStatus) + (why.empty() ? "" : ": " + why);
        return Failed(result, context, input.sheet, scanStat, scanDigest);
    }
    result.status = SheetStatus::done;
    try {
        Journal::Record(options.outputDirectory, options.dpi, input.sheet,
                        EntryOf(result, fingerprint, scanStat, scanDigest));
    } catch (const std::exception& error) {
        result.status = SheetStatus::failed;
        result.message = std::string("the sheet ran, but the journal could not be written: ") + error.what();
    }
    return result;
}

// A sheet no batch of this run touched, as the journal last recorded it.
SheetResult EarlierResult(int sheet, const JournalEntry& entry, const std::string& outputDirectory) {
    SheetResult result;
    char text[8];
    std::snprintf(text, sizeof text, "%05d", sheet);
    result.sheet = text;
    result.scan = entry.scan;
    result.cornerFile = entry.cornerFile;
    result.status = entry.status;
    result.message = entry.message;
    result.corners = entry.corners;
    result.tilesWritten = entry.tilesWritten;
    result.seconds = entry.seconds;
    result.earlier = true;
    const std::string picture = platform::JoinPath(FoundCornersDirectory(outputDirectory), result.sheet + ".png");
    result.cornerPicture = platform::Exists(picture) ? picture : std::string();
    const std::string log = platform::JoinPath(platform::JoinPath(outputDirectory, "logs"), result.sheet + ".log");
    result.logPath = platform::Exists(log) ? log : std::string();
    return result;
}

// This batch's results and every other sheet of the journal, in grid order.
std::vector<SheetResult> AreaState(const std::vector<SheetResult>& results, const std::string& outputDirectory) {
    std::map<int, SheetResult> bySheet;
    const Journal journal = Journal::Load(outputDirectory);
    for (const auto& [sheet, entry] : journal.Entries()) {
        bySheet[sheet] = EarlierResult(sheet, entry, outputDirectory);
    }
    for (const SheetResult& result : results) {
        bySheet[std::atoi(result.sheet.c_str())] = result;
    }
    std::vector<std::pair<int, SheetResult>> ordered(bySheet.begin(), bySheet.end());
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        const GridPosition pa = GridPositionOf(a.first);
        const GridPosition pb = GridPositionOf(b.first);
        return pa.row != pb.row ? pa.row < pb.row : pa.column < pb.column;
    });
    std::vector<SheetResult> area;
    for (auto& [sheet, result] : ordered) {
        area.push_back(std::move(result));
    }
    return area;
}

std::vector<SheetInput> SheetsOf(const BatchOptions& options) {
    std::vector<SheetInput> sheets =
        options.listFile.empty() ? ListScanDirectory(options.scanDirectory, {options.outputDirectory}, options.exclude)
                                 : ReadListFile(options.listFile);
    if (sheets.empty()) {
        throw BatchError(options.listFile.empty()
                             ? "no scan named by a sheet number (like 40571.jpg) in " + options.scanDirectory
                             : "no sheet in the list file " + options.listFile);
    }
    return ShareOf(std::move(sheets), options.shard, options.shardCount);
}

int WorkerCount(const BatchOptions& options, std::size_t sheets) {
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int jobs = options.jobs > 0 ? options.jobs : cores;
    return static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(static_cast<std::size_t>(jobs), sheets)));
}

}  // namespace

bool BatchReport::AllSucceeded() const noexcept {
    return mosaicProblem.empty() && std::none_of(results.begin(), results.end(), [](const SheetResult& r) {
               return r.status == SheetStatus::failed;
           });
}

void CheckOneResolution(const std::string& outputDirectory, int dpi) {
    const Journal journal = Journal::Load(outputDirectory);
    if (journal.Dpi() && *journal.Dpi() != dpi) {
        throw BatchError(outputDirectory + " holds a mosaic at " + std::to_string(*journal.Dpi()) +
                         " dpi (its journal says so), not " + std::to_string(dpi) +
                         " dpi; one mosaic has one resolution: use " + std::to_string(*journal.Dpi()) +
                         " dpi or another output directory");
    }
    const std::optional<int> tileSize = driver::CheckedTileSize(dpi);
    if (!tileSize) {
        throw BatchError("unusable dpi " + std::to_string(dpi));
    }
    const double expected = driver::PixelSizeFromTileSize(*tileSize);
    std::error_code error;
    for (fs::directory_iterator it(outputDirectory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || name.substr(name.size() - 4) != ".jgw") {
            continue;
        }
        std::ifstream in(it->path());
        std::string pixel;
        if (std::getline(in, pixel) && !SamePixelSize(pixel, expected)) {
            throw BatchError(outputDirectory + " holds tiles of another resolution (" + name + ": pixel " + pixel +
                             " m; " + std::to_string(dpi) + " dpi makes " + tiling::FormatNumber(expected) +
                             " m); one mosaic has one resolution: use that dpi or another output directory");
        }
    }
}

BatchReport RunBatch(const BatchOptions& options, std::ostream& out) {
    return RunBatch(options, SheetsOf(options), out);
}

BatchReport RunBatch(const BatchOptions& options, const std::vector<SheetInput>& sheets, std::ostream& out) {
    const std::optional<int> tileSize = driver::CheckedTileSize(options.dpi);
    if (!tileSize) {
        throw BatchError("unusable dpi " + std::to_string(options.dpi) + " (1 to " +
                         std::to_string(geometry::kLargestDpi) + ")");
    }
    BatchContext context{options, platform::JoinPath(options.outputDirectory, "logs"), {}, 1};
    if (!platform::Exists(options.configFile) || platform::IsDirectory(options.configFile) ||
        !std::ifstream(options.configFile).is_open()) {
        throw BatchError("cannot read the transformation file " + options.configFile);
    }
    CheckOneResolution(options.outputDirectory, options.dpi);
    for (const std::string& directory : {context.logDirectory, FoundCornersDirectory(options.outputDirectory)}) {
        std::error_code error;
        fs::create_directories(directory, error);
        if (error) {
            throw BatchError("cannot make " + directory + ": " + error.message());
        }
    }
    context.journal = Journal::Load(options.outputDirectory);
    // Before any sheet runs, so also when every sheet is skipped.
    if (const int removed = RemoveLeftoverTemporaries(options.outputDirectory); removed > 0) {
        out << "removed " << removed << " temporary file" << (removed == 1 ? "" : "s")
            << " that killed runs left in " << options.outputDirectory << std::endl;
    }

    // Process-wide GDAL state is set once, before any worker reads a scan.
    gdal_support::RegisterDrivers();
    GDALSetCacheMax64(std::min(GDALGetCacheMax64(), kSharedReadCacheBytes));

    const std::vector<SheetInput> order = LockFriendlyOrder(sheets);
    const int workers = WorkerCount(options, order.size());
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    context.renderThreads = std::max(1, cores / workers);

    out << order.size() << " sheets, " << workers << " at a time, " << options.dpi << " dpi, into "
        << options.outputDirectory << std::endl;
    std::vector<SheetResult> byOrder(order.size());
    Scheduler scheduler(order);
    Progress progress(out, order.size(), options.liveProgress);
    const auto work = [&] {
        while (const std::optional<std::size_t> index = scheduler.Take()) {
            try {
                byOrder[*index] = RunOne(order[*index], context);
            } catch (const std::exception& problem) {  // memory, most likely; the other sheets go on
                byOrder[*index].sheet = order[*index].sheetText;
                byOrder[*index].scan = order[*index].scan;
                byOrder[*index].message = problem.what();
            }
            scheduler.Finish(*index);
            progress.Finished(byOrder[*index]);
        }
    };
    {
        std::vector<std::thread> threads;
        for (int i = 1; i < workers; ++i) {
            threads.emplace_back(work);
        }
        work();
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    progress.Close();

    BatchReport report;
    // Results in grid order, as the sheets were listed.
    for (const SheetInput& input : sheets) {
        const auto at = std::find_if(order.begin(), order.end(), [&](const SheetInput& o) {
            return o.sheet == input.sheet && o.scan == input.scan;
        });
        report.results.push_back(byOrder[static_cast<std::size_t>(at - order.begin())]);
    }
    try {
        report.mosaicTiles = WriteMosaic(options.outputDirectory, *tileSize);
    } catch (const std::exception& problem) {
        report.mosaicProblem = problem.what();
    }
    const std::string csvName = options.shardCount == 1 ? std::string("summary.csv")
                                                         : "summary-" + std::to_string(options.shard) + "-of-" +
                                                               std::to_string(options.shardCount) + ".csv";
    report.summaryCsv = platform::JoinPath(options.outputDirectory, csvName);
    report.area = AreaState(report.results, options.outputDirectory);
    WriteSummaryCsv(report.area, report.summaryCsv);
    return report;
}

}  // namespace georef::batch
