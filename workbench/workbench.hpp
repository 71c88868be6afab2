#pragma once
// The workbench over an output directory of georef-batch: what georef-review
// serves, without the HTTP. It knows the sheets the batch's journal knows
// and their scans (chosen by sheet number; --scans DIR finds them anew when
// the batch ran elsewhere), reads only files under the output directory and
// those scans, and writes only what a batch writes there: the corner file
// placed by hand (batch/corner_source.hpp), then the sheet run as the batch
// runs it (tiles under their locks, journal, summary, mosaic) and the review
// page written again.
//
// Frames: the page works in the scan's plane frame (column from the left,
// row from the top, the centre of pixel (c, r) at (c, r)); corner files and
// the fit use the image frame (x from the left, y up from the bottom), and
// only corners::CornerFromPlane / PlaneFromCorner convert between them.
//
//   workbench::Workbench bench({"out", "", "config.bin"});
//   const std::string report = bench.Check(40571, corners);   // JSON for the page
//   const std::string outcome = bench.SaveAndRun(40571, corners);

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch/batch_run.hpp"
#include "batch/sheet_result.hpp"
#include "corners/frame.hpp"
#include "seams/seam_survey.hpp"
#include "workbench/map_tiles.hpp"
#include "workbench/scan_view.hpp"

namespace georef::workbench {

struct WorkbenchOptions {
    std::string outputDirectory;
    std::string scansDirectory;  // empty: the scans where the journal names them
    std::string configFile = "config.bin";
};

// The output directory cannot be served: no journal, no config.bin.
class WorkbenchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One sheet as the journal last recorded it.
struct SheetState {
    int sheet = 0;
    std::string sheetText;   // five digits
    std::string scan;        // path of its scan
    std::string cornerFile;  // the corner file the batch last used; may be empty
    batch::SheetStatus status = batch::SheetStatus::failed;
    std::string message;
};

using PlaneCorners = std::array<corners::PlanePoint, 4>;  // LD, LH, PH, PD

class Workbench {
public:
    // Throws WorkbenchError when the output directory holds no journal of a
    // batch or the transformation file cannot be read.
    explicit Workbench(WorkbenchOptions options);

    const WorkbenchOptions& Options() const noexcept { return m_options; }

    // The sheet as last recorded; throws RequestError (404) for a sheet the
    // batch does not know.
    SheetState Sheet(int sheet) const;
    std::vector<SheetState> Sheets() const;

    // JSON: the mosaic's layout and every sheet with status, message and
    // outline in mosaic pixels (when there is a mosaic).
    std::string AreaJson();

    // JSON: the scan's size, the starting corners (plane frame) and where
    // they came from, the sheet's status, its hand corner file and whether a
    // mirrored fit of it is accepted. Opens the scan.
    std::string SheetJson(int sheet);

    // Width and height of the sheet's scan, pixels, from its header.
    std::pair<int, int> ScanSize(int sheet);

    // The scan reduced to within maxSide pixels (JPEG) and the factor.
    std::string ScanReduced(int sheet, int maxSide, int& factor);
    // size x size pixels of the scan from (column, row), PNG.
    std::string ScanCrop(int sheet, int column, int row, int size);

    // JSON: the corners as the corner file would hold them, georef-check's
    // report and verdict in its words, and the batch's check (acceptMirrored:
    // as georef-batch --accept-mirrored checks them).
    std::string Check(int sheet, const PlaneCorners& corners, bool acceptMirrored = false);

    // Writes the hand corner file atomically (acceptMirrored: with the
    // record that its mirrored fit is meant, which later batches honour while
    // the file is unchanged, batch/hand_corners.hpp), runs the sheet as the
    // batch does, writes the review page again; JSON with the outcome. One
    // fix at a time: the page and the mosaic are the whole area's.
    std::string SaveAndRun(int sheet, const PlaneCorners& corners, bool acceptMirrored = false);

    // Removes the sheet's hand corner file (and its mirrored record) and runs the sheet as the batch
    // does without it, from the corners it finds or is given; JSON with the
    // outcome, as SaveAndRun. Throws RequestError (404) when the sheet has no
    // hand corner file.
    std::string ForgetHandCorners(int sheet);

    MapTiles& Tiles() noexcept { return m_tiles; }

    // Names of the files of OUTDIR/review (index.html, overview.jpg,
    // seams/...) as the page refers to them; only these are served.
    bool IsReviewFile(const std::string& name) const;

private:
    void LoadJournal();
    void ListReviewFiles();
    // The sheet's scan, read whole unless it is held; throws RequestError.
    std::shared_ptr<const ScanView> OpenScan(const SheetState& state);
    std::shared_ptr<const ScanView> HeldScan(const std::string& path);
    // Width and height of the sheet's scan from its header, pixels; throws RequestError.
    std::pair<int, int> ScanSizeOf(const SheetState& state);
    std::optional<double> StatedDpi(const SheetState& state);
    PlaneCorners StartingCorners(const SheetState& state, const ScanView& scan, std::string& source);
    // Runs the sheet as the batch does and refreshes what the page shows;
    // with m_fixMutex held.
    nlohmann::json RunFixedSheet(const SheetState& state);
    // The seams of a sheet painted again measured with its neighbours into
    // seams.csv (a larger offset than thresholdMetres suspect), each sheet of
    // the report's area marked as its seams say and summary.csv written
    // again, as the batch does at its end; the table of all seams.
    // out["seams"] receives the sheet's verdict.
    std::vector<seams::SeamMeasurement> MeasureSeams(int sheet, batch::SheetStatus status, double thresholdMetres,
                                                     batch::BatchReport& report, nlohmann::json& out) const;

    WorkbenchOptions m_options;
    int m_dpi = 0;
    MapTiles m_tiles;
    mutable std::mutex m_mutex;  // guards m_sheets, m_reviewFiles, m_scans, m_sizes, m_dpiCache, m_starts
    std::map<int, SheetState> m_sheets;
    std::vector<std::string> m_reviewFiles;
    std::vector<std::shared_ptr<const ScanView>> m_scans;  // most recently used first
    std::map<std::string, std::pair<int, int>> m_sizes;  // scan -> width, height
    std::map<std::string, std::optional<double>> m_dpiCache;
    // The starting corners of each sheet and their source, until the next fix.
    std::map<int, std::pair<PlaneCorners, std::string>> m_starts;
    // Held through a whole fix and while a scan is read: a run and a scan
    // being read, each a large sheet's decoded pixels, never overlap.
    std::mutex m_fixMutex;
};

}  // namespace georef::workbench
