#include "workbench/workbench.hpp"

#include <gdal.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "batch/batch_run.hpp"
#include "batch/corner_check.hpp"
#include "batch/corner_source.hpp"
#include "batch/hand_corners.hpp"
#include "batch/journal.hpp"
#include "batch/mosaic.hpp"
#include "batch/sheet_list.hpp"
#include "corners/find_corners.hpp"
#include "corners/scan_image.hpp"
#include "geometry/corner_file.hpp"
#include "geometry/corner_fit_report.hpp"
#include "platform/file_system.hpp"
#include "review/review_page.hpp"
#include "review/sheet_outlines.hpp"
#include "seams/area_seams.hpp"
#include "workbench/request_parsing.hpp"

namespace georef::workbench {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Scans held open at once: a 300 dpi sheet takes about 180 MiB of pixels,
// so one, to stay well within 400 MiB.
constexpr std::size_t kOpenScans = 1;
// GDAL's block cache, shared by every request's reads (map tiles, scans):
// the batch's own limit, which a fix sets anyway.
constexpr GIntBig kReadCacheBytes = 32 * 1024 * 1024;
// Where the corners start when nothing else gives them: this share of the
// scan's size in from each edge.
constexpr double kFallbackInset = 0.05;

std::optional<geometry::CornerPoints> ReadCornerFile(const std::string& path) {
    if (path.empty() || !platform::Exists(path) || platform::IsDirectory(path)) {
        return std::nullopt;
    }
    std::ifstream in(path);
    return geometry::ReadCornerPoints(in);
}

// The corners as a corner file holds them: image frame, to a tenth of a pixel.
geometry::CornerPoints ImageCorners(const PlaneCorners& plane, int height) {
    geometry::CornerPoints points;
    for (int k = 0; k < 4; ++k) {
        const geometry::CornerPoint p = corners::CornerFromPlane(plane[k], height, k + 1);
        points[k] = {k + 1, std::round(p.x * 10.0) / 10.0, std::round(p.y * 10.0) / 10.0};
    }
    return points;
}

json PlaneJson(const PlaneCorners& plane) {
    json list = json::array();
    for (const corners::PlanePoint& p : plane) {
        list.push_back({p.column, p.row});
    }
    return list;
}

}  // namespace

Workbench::Workbench(WorkbenchOptions options) : m_options(std::move(options)), m_tiles(m_options.outputDirectory) {
    if (!platform::IsDirectory(m_options.outputDirectory)) {
        throw WorkbenchError("no output directory " + m_options.outputDirectory);
    }
    const batch::Journal journal = batch::Journal::Load(m_options.outputDirectory);
    if (!journal.Dpi() || journal.Size() == 0) {
        throw WorkbenchError(m_options.outputDirectory + " holds no journal of georef-batch (" +
                             batch::kJournalFile + "): run the batch into it first");
    }
    if (!platform::Exists(m_options.configFile) || platform::IsDirectory(m_options.configFile) ||
        !std::ifstream(m_options.configFile).is_open()) {
        throw WorkbenchError("cannot read the transformation file " + m_options.configFile +
                             " (give the batch's with --config FILE)");
    }
    m_dpi = *journal.Dpi();
    GDALAllRegister();
    GDALSetCacheMax64(std::min(GDALGetCacheMax64(), kReadCacheBytes));
    LoadJournal();
    ListReviewFiles();
}

void Workbench::LoadJournal() {
    const batch::Journal journal = batch::Journal::Load(m_options.outputDirectory);
    std::map<int, std::string> found;
    if (!m_options.scansDirectory.empty()) {
        try {
            for (const batch::SheetInput& input :
                 batch::ListScanDirectory(m_options.scansDirectory, {m_options.outputDirectory})) {
                if (input.problem.empty()) {
                    found[input.sheet] = input.scan;
                }
            }
        } catch (const std::exception&) {
            // An unreadable scan directory leaves the journal's names.
        }
    }
    std::map<int, SheetState> sheets;
    for (const auto& [sheet, entry] : journal.Entries()) {
        SheetState state;
        state.sheet = sheet;
        char text[8];
        std::snprintf(text, sizeof text, "%05d", sheet);
        state.sheetText = text;
        state.scan = found.count(sheet) ? found[sheet] : batch::ResolveRecordedPath(entry.scan, m_options.outputDirectory);
        state.cornerFile = batch::ResolveRecordedPath(entry.cornerFile, m_options.outputDirectory);
        state.status = entry.status;
        state.message = entry.message;
        sheets[sheet] = state;
    }
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_sheets = std::move(sheets);
}

void Workbench::ListReviewFiles() {
    std::vector<std::string> names;
    const fs::path root = fs::path(m_options.outputDirectory) / "review";
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) {
            names.push_back(fs::relative(it->path(), root, error).generic_string());
        }
    }
    std::sort(names.begin(), names.end());
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_reviewFiles = std::move(names);
}

bool Workbench::IsReviewFile(const std::string& name) const {
    const std::lock_guard<std::mutex> guard(m_mutex);
    return std::binary_search(m_reviewFiles.begin(), m_reviewFiles.end(), name);
}

SheetState Workbench::Sheet(int sheet) const {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_sheets.find(sheet);
    if (found == m_sheets.end()) {
        throw RequestError(404, "the batch in " + m_options.outputDirectory + " knows no sheet " +
                                    std::to_string(sheet));
    }
    return found->second;
}

std::vector<SheetState> Workbench::Sheets() const {
    const std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<SheetState> sheets;
    for (const auto& entry : m_sheets) {
        sheets.push_back(entry.second);
    }
    return sheets;
}

std::shared_ptr<const ScanView> Workbench::HeldScan(const std::string& path) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto open = std::find_if(m_scans.begin(), m_scans.end(),
                                   [&](const auto& scan) { return scan->Path() == path; });
    if (open == m_scans.end()) {
        return nullptr;
    }
    std::rotate(m_scans.begin(), open, open + 1);
    return m_scans.front();
}

std::shared_ptr<const ScanView> Workbench::OpenScan(const SheetState& state) {
    if (std::shared_ptr<const ScanView> held = HeldScan(state.scan)) {
        return held;
    }
    // A scan is read only while no sheet runs (the run decodes its scan as
    // well), and one at a time.
    const std::lock_guard<std::mutex> fix(m_fixMutex);
    if (std::shared_ptr<const ScanView> held = HeldScan(state.scan)) {
        return held;  // read by another request meanwhile
    }
    if (!platform::Exists(state.scan)) {
        throw RequestError(404, "the scan of sheet " + state.sheetText + " is not at " + state.scan +
                                    " (start georef-review with --scans DIR)");
    }
    {
        // The scan goes before its successor is read, so at most kOpenScans are held.
        const std::lock_guard<std::mutex> guard(m_mutex);
        if (m_scans.size() >= kOpenScans) {
            m_scans.pop_back();
        }
    }
    std::shared_ptr<const ScanView> scan;
    try {
        scan = std::make_shared<const ScanView>(state.scan);
    } catch (const std::exception& error) {
        throw RequestError(422, error.what());
    }
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_scans.insert(m_scans.begin(), scan);
    return scan;
}

std::pair<int, int> Workbench::ScanSizeOf(const SheetState& state) {
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_sizes.find(state.scan);
        if (found != m_sizes.end()) {
            return found->second;
        }
    }
    if (!platform::Exists(state.scan)) {
        throw RequestError(404, "the scan of sheet " + state.sheetText + " is not at " + state.scan +
                                    " (start georef-review with --scans DIR)");
    }
    std::pair<int, int> size;
    try {
        size = ScanView::SizeOf(state.scan);
    } catch (const std::exception& error) {
        throw RequestError(422, error.what());
    }
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_sizes[state.scan] = size;
    return size;
}

std::optional<double> Workbench::StatedDpi(const SheetState& state) {
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_dpiCache.find(state.scan);
        if (found != m_dpiCache.end()) {
            return found->second;
        }
    }
    std::optional<double> dpi;
    try {
        dpi = corners::ScanImage(state.scan).StatedDpi();
    } catch (const std::exception&) {
    }
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_dpiCache[state.scan] = dpi;
    return dpi;
}

PlaneCorners Workbench::StartingCorners(const SheetState& state, const ScanView& scan, std::string& source) {
    const auto fromFile = [&](const std::string& path) -> std::optional<PlaneCorners> {
        const std::optional<geometry::CornerPoints> points = ReadCornerFile(path);
        if (!points) {
            return std::nullopt;
        }
        PlaneCorners plane;
        for (int k = 0; k < 4; ++k) {
            plane[k] = corners::PlaneFromCorner((*points)[k], scan.Height());
            if (!std::isfinite(plane[k].column) || !std::isfinite(plane[k].row)) {
                return std::nullopt;
            }
        }
        source = path;
        return plane;
    };
    const std::string hand = batch::HandCornersFile(m_options.outputDirectory, state.sheetText);
    for (const std::string& path :
         {hand, state.cornerFile,
          platform::JoinPath(batch::FoundCornersDirectory(m_options.outputDirectory), state.sheetText + ".txt")}) {
        if (const std::optional<PlaneCorners> plane = fromFile(path)) {
            return *plane;
        }
    }
    try {
        // The finder decodes the scan too: not while a sheet runs.
        const std::lock_guard<std::mutex> fix(m_fixMutex);
        const corners::FindResult found = corners::FindCorners(state.sheet, state.scan);
        ::malloc_trim(0);  // the finder's pyramids are freed: the heap goes back to the system
        const std::optional<geometry::CornerPoints>& best = found.measured ? found.measured : found.searched;
        if (best) {
            PlaneCorners plane;
            for (int k = 0; k < 4; ++k) {
                plane[k] = corners::PlaneFromCorner((*best)[k], found.height);
            }
            source = found.measured ? "the corner finder (measured, refused)" : "the corner finder (searched)";
            return plane;
        }
    } catch (const std::exception&) {
        // The corners start at the scan's edges then.
    }
    const double w = scan.Width();
    const double h = scan.Height();
    source = "the edges of the scan";
    return {corners::PlanePoint{w * kFallbackInset, h * (1 - kFallbackInset)},
            corners::PlanePoint{w * kFallbackInset, h * kFallbackInset},
            corners::PlanePoint{w * (1 - kFallbackInset), h * kFallbackInset},
            corners::PlanePoint{w * (1 - kFallbackInset), h * (1 - kFallbackInset)}};
}

std::string Workbench::SheetJson(int sheet) {
    const SheetState state = Sheet(sheet);
    const std::shared_ptr<const ScanView> scan = OpenScan(state);
    std::optional<std::pair<PlaneCorners, std::string>> kept;
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_starts.find(sheet);
        if (found != m_starts.end()) {
            kept = found->second;
        }
    }
    if (!kept) {
        // The corner finder may run here: seconds for a large scan, once.
        std::string found;
        const PlaneCorners corners = StartingCorners(state, *scan, found);
        kept = std::make_pair(corners, found);
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_starts[sheet] = *kept;
    }
    const PlaneCorners& start = kept->first;
    const std::string& source = kept->second;
    json out;
    out["sheet"] = state.sheetText;
    out["status"] = batch::StatusName(state.status);
    out["message"] = state.message;
    out["width"] = scan->Width();
    out["height"] = scan->Height();
    out["start"] = PlaneJson(start);
    out["startSource"] = source;
    out["handFile"] = batch::HandCornersFile(m_options.outputDirectory, state.sheetText);
    out["handFileExists"] = platform::Exists(out["handFile"].get<std::string>());
    out["mirroredAccepted"] = batch::HandCornersAcceptMirrored(m_options.outputDirectory, state.sheetText);
    return out.dump();
}

std::pair<int, int> Workbench::ScanSize(int sheet) { return ScanSizeOf(Sheet(sheet)); }

std::string Workbench::ScanReduced(int sheet, int maxSide, int& factor) {
    return OpenScan(Sheet(sheet))->Reduced(maxSide, factor);
}

std::string Workbench::ScanCrop(int sheet, int column, int row, int size) {
    return OpenScan(Sheet(sheet))->Crop(column, row, size);
}

std::string Workbench::Check(int sheet, const PlaneCorners& plane, bool acceptMirrored) {
    const SheetState state = Sheet(sheet);
    const geometry::CornerPoints points = ImageCorners(plane, ScanSizeOf(state).second);
    json out;
    json imageCorners = json::array();
    for (const geometry::CornerPoint& p : points) {
        imageCorners.push_back({p.x, p.y});
    }
    out["corners"] = imageCorners;
    const std::string handFile = batch::HandCornersFile(m_options.outputDirectory, state.sheetText);
    out["fitted"] = false;
    out["sound"] = false;
    try {
        const geometry::CornerFitReport report = geometry::AnalyseCornerFit(points, sheet);
        std::ostringstream text;
        geometry::WriteCornerFitReport(report, points, sheet, handFile, text);
        out["report"] = text.str();
        out["fitted"] = report.Finite();
        const geometry::CornerFitJudgement judgement = geometry::JudgeCornerFit(report, geometry::kDefaultThreshold);
        json lines = json::array();
        for (const std::string& warning : judgement.warnings) {
            lines.push_back("georef-check: warning: " + warning);
        }
        if (!judgement.advice.empty()) {
            lines.push_back("georef-check: " + judgement.advice);
        }
        if (judgement.sound) {
            lines.push_back(judgement.okLine);
        }
        out["check"] = lines;
        out["sound"] = judgement.sound && report.Finite();
    } catch (const std::exception& error) {
        out["report"] = "";
        out["check"] = json::array({std::string("georef-check: ") + geometry::kNoFitText + " (" + error.what() + ")"});
    }
    const batch::CornerVerdict verdict = batch::CheckCornerSet(points, sheet, StatedDpi(state), acceptMirrored);
    out["accepted"] = verdict.Accepted();
    out["batch"] = verdict.Accepted() ? std::string("the batch accepts these corners")
                                      : "the batch would refuse these corners: " + verdict.refusal;
    return out.dump();
}

std::string Workbench::SaveAndRun(int sheet, const PlaneCorners& plane, bool acceptMirrored) {
    const std::lock_guard<std::mutex> fix(m_fixMutex);
    const SheetState state = Sheet(sheet);
    const geometry::CornerPoints points = ImageCorners(plane, ScanSizeOf(state).second);
    const std::string handFile = batch::HandCornersFile(m_options.outputDirectory, state.sheetText);
    std::error_code error;
    fs::create_directories(fs::path(handFile).parent_path(), error);
    if (error) {
        throw RequestError(409, "cannot make " + fs::path(handFile).parent_path().string() + ": " + error.message());
    }
    try {
        // The old choice goes before the file changes, the new one is
        // recorded after: a fix cut short leaves a mirrored fit refused.
        batch::ForgetMirroredHandCorners(m_options.outputDirectory, state.sheetText);
        geometry::WriteCornerFile(handFile, points, geometry::CornerPrecision::measured);
        if (acceptMirrored) {
            batch::AcceptMirroredHandCorners(m_options.outputDirectory, state.sheetText);
        }
    } catch (const std::runtime_error& problem) {
        throw RequestError(409, problem.what());
    }
    return RunFixedSheet(state).dump();
}

std::string Workbench::ForgetHandCorners(int sheet) {
    const std::lock_guard<std::mutex> fix(m_fixMutex);
    const SheetState state = Sheet(sheet);
    const std::string handFile = batch::HandCornersFile(m_options.outputDirectory, state.sheetText);
    if (!platform::Exists(handFile) || platform::IsDirectory(handFile)) {
        throw RequestError(404, "sheet " + state.sheetText + " has no hand corner file (" + handFile + ")");
    }
    try {
        batch::ForgetMirroredHandCorners(m_options.outputDirectory, state.sheetText);
    } catch (const std::runtime_error& problem) {
        throw RequestError(409, problem.what());
    }
    std::error_code error;
    if (!fs::remove(handFile, error) || error) {
        throw RequestError(409, "cannot remove " + handFile + (error ? ": " + error.message() : std::string()));
    }
    nlohmann::json out = RunFixedSheet(state);
    out["removed"] = handFile;
    return out.dump();
}

std::vector<seams::SeamMeasurement> Workbench::MeasureSeams(int sheet, batch::SheetStatus status,
                                                           double thresholdMetres, batch::BatchReport& report,
                                                           json& out) const {
    if (!report.mosaicProblem.empty()) {
        return {};
    }
    seams::AreaSeamsRequest request;
    request.outputDirectory = m_options.outputDirectory;
    request.configPath = m_options.configFile;
    request.options.thresholdMetres = thresholdMetres;
    request.summaryCsv = report.summaryCsv;
    // A sheet painted again: its seams measured again; otherwise the table
    // as it is.
    request.painted = status == batch::SheetStatus::done ? std::set<int>{sheet} : std::set<int>{};
    try {
        const seams::AreaSeams measured = seams::MeasureAreaSeams(request, report.area);
        out["seams"] = seams::SheetVerdict(measured.table, sheet);
        return measured.table;
    } catch (const std::exception& problem) {
        if (request.painted->empty()) {
            return {};  // no seams measured yet: the page shows the strips unmeasured
        }
        out["seams"] = std::string("cannot measure the seams: ") + problem.what();
        return {};
    }
}

json Workbench::RunFixedSheet(const SheetState& state) {
    {
        // The run decodes the scan itself: the one held goes first (requests
        // still using it keep it until they end).
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_scans.clear();
    }
    batch::BatchOptions options;
    options.outputDirectory = m_options.outputDirectory;
    options.configFile = m_options.configFile;
    options.dpi = m_dpi;
    options.jobs = 1;
    // A mirrored fit is accepted as a later batch accepts it: for the hand
    // corner file it was recorded for (batch/hand_corners.hpp).
    batch::SheetInput input;
    input.sheet = state.sheet;
    input.sheetText = state.sheetText;
    input.scan = state.scan;
    std::ostringstream log;
    json out;
    try {
        batch::BatchReport report = batch::RunBatch(options, {input}, log);
        const batch::SheetResult result = report.results.front();
        out["status"] = batch::StatusName(result.status);
        out["message"] = result.message;
        out["tiles"] = result.tilesWritten;
        out["cornerFile"] = result.cornerFile;
        try {
            // The page as georef-batch writes it at its end, from the whole area's state.
            review::ReviewInput page;
            page.configPath = options.configFile;
            page.outputDirectory = options.outputDirectory;
            page.mosaicPath = report.mosaicProblem.empty()
                                  ? platform::JoinPath(options.outputDirectory, batch::kMosaicFile)
                                  : std::string();
            page.title = "Review of the batch in " + options.outputDirectory;
            // The seams judged as the batch judged the others (its --seam-threshold).
            page.seamThresholdMetres = batch::Journal::Load(options.outputDirectory)
                                           .SeamThresholdMetres()
                                           .value_or(seams::SeamOptions{}.thresholdMetres);
            page.seams = seams::PageFigures(
                MeasureSeams(state.sheet, result.status, page.seamThresholdMetres, report, out));
            page.sheets = report.area;
            const review::ReviewPage written = review::WriteReviewPage(page);
            out["reviewWarnings"] = written.warnings;
        } catch (const std::exception& problem) {
            out["reviewWarnings"] = json::array({std::string("cannot write the review page: ") + problem.what()});
        }
    } catch (const std::exception& problem) {
        out["status"] = "failed";
        out["message"] = problem.what();
        out["tiles"] = 0;
        out["cornerFile"] = "";
    }
    out["log"] = log.str();
    m_tiles.Invalidate();
    ::malloc_trim(0);  // the run's buffers are freed: the heap goes back to the system
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_starts.erase(state.sheet);
    }
    LoadJournal();
    ListReviewFiles();
    return out;
}

std::string Workbench::AreaJson() {
    json out;
    const std::optional<MosaicLayout> layout = m_tiles.Layout();
    std::map<int, std::vector<transform::OutputPoint>> outlines;
    if (layout) {
        out["layout"] = {{"width", layout->width},
                         {"height", layout->height},
                         {"deepestLevel", layout->deepestLevel},
                         {"tileSize", kMapTileSize},
                         {"pixelMetres", layout->PixelMetres()}};
        try {
            for (const review::SheetOutline& outline : review::ReadSheetOutlines(m_options.configFile)) {
                outlines[outline.sheet] = outline.vertices;
            }
        } catch (const std::exception&) {
            // Sheets without outlines are listed all the same.
        }
    } else {
        out["layout"] = nullptr;
    }
    json sheets = json::array();
    for (const SheetState& state : Sheets()) {
        json sheet = {{"sheet", state.sheetText},
                      {"status", batch::StatusName(state.status)},
                      {"message", state.message}};
        json outline = json::array();
        if (layout && outlines.count(state.sheet)) {
            // Output frame to mosaic pixels: easting = -Y, northing = -X.
            for (const transform::OutputPoint& p : outlines[state.sheet]) {
                outline.push_back({(layout->north + p.X) / layout->PixelMetres(),
                                   (-p.Y - layout->west) / layout->PixelMetres()});
            }
        }
        sheet["outline"] = outline;  // [row, column] pairs
        sheets.push_back(sheet);
    }
    out["sheets"] = sheets;
    return out.dump();
}

}  // namespace georef::workbench
