#pragma once
// What a batch knows about each sheet when it ends: the record the summary
// table, summary.csv and the review page are written from. The types are
// whole in this header, so a reader of the record (the review page) needs
// nothing else of the batch.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace georef::batch {

enum class SheetStatus {
    done,       // run in this batch and every tile written
    failed,     // not run (no corners, a problem with its input) or the run failed
    skipped,    // finished by an earlier batch from the same inputs, so in the mosaic
    notInList,  // in config.bin, not in the batch's list (a row of the review page only)
};

// Lower-case English name: "done", "failed", "skipped", "not in list".
inline const char* StatusName(SheetStatus status) noexcept {
    switch (status) {
    case SheetStatus::done:
        return "done";
    case SheetStatus::skipped:
        return "skipped";
    case SheetStatus::notInList:
        return "not in list";
    case SheetStatus::failed:
        break;
    }
    return "failed";
}

// How the scan's corners fit the sheet (image frame to nominal frame).
struct CornerFigures {
    double rmsMetres = 0.0;      // corner residual RMS, metres of the nominal frame
    double worstMetres = 0.0;    // largest corner residual, metres
    double dpi = 0.0;            // scan resolution the fit implies at 1:25 000
    double rotationDegrees = 0.0;
};

struct SheetResult {
    std::string sheet;  // five digits
    std::string scan;
    std::string cornerFile;  // empty when there is none
    SheetStatus status = SheetStatus::failed;
    std::string message;  // why it failed or was skipped; empty when done
    std::optional<CornerFigures> corners;
    int tilesWritten = 0;
    double seconds = 0.0;  // wall time of the run (for a skipped sheet: of the run that made it)
    std::string logPath;   // the sheet's own georef output; empty when it was not run
    std::string cornerPicture;  // the corners drawn on the scan; empty when none could be drawn
    bool earlier = false;  // not in this batch: the latest result an earlier batch recorded
    // What its seams with neighbouring sheets say: "ok", "suspect" (every
    // measured seam beyond the threshold), "unmeasured"; empty when none.
    std::string seams;
};

// The summary table: one line per sheet in the order given, then the
// totals. Columns: sheet, status, RMS (m), tiles, seconds, message.
void WriteSummaryTable(const std::vector<SheetResult>& results, std::ostream& out);

// How many sheets of the area (every sheet the journal knows and this
// batch's) are in each state; earlier: those only earlier batches ran.
struct AreaCounts {
    int sheets = 0;
    int done = 0;
    int skipped = 0;
    int failed = 0;
    int earlier = 0;
};
AreaCounts CountArea(const std::vector<SheetResult>& area) noexcept;

// One line with the area's counts, as the CSV and the review page count them.
void WriteAreaTotals(const std::vector<SheetResult>& area, const std::string& outputDirectory, std::ostream& out);

// The same as CSV (RFC 4180 quoting, '\n' line ends) with every field of the
// result (the last column, batch, is "this" or "earlier"), replacing path atomically. Throws std::runtime_error when it cannot.
void WriteSummaryCsv(const std::vector<SheetResult>& results, const std::string& path);

}  // namespace georef::batch
