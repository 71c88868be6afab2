#pragma once
// The seams of an output directory measured in one call, as georef-batch
// (at its end, the sheets it painted), georef-seams (every seam) and
// georef-review (after a sheet is run again) measure them: which seams,
// OUTDIR/seams.csv written, and each sheet marked with what its seams say.

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "batch/sheet_result.hpp"
#include "review/review_page.hpp"
#include "seams/seam_survey.hpp"

namespace georef::seams {

// The table of an output directory's seams, in it.
constexpr const char* kSeamsFile = "seams.csv";

struct AreaSeamsRequest {
    std::string outputDirectory;             // holds mosaic.vrt, the journal and seams.csv
    std::string configPath = "config.bin";   // outlines and shared edges
    SeamOptions options;
    // Empty: every seam between sheets of the mosaic (those the journal
    // records as finished in their latest run), and seams.csv holds only
    // those. A set: the seams of these sheets with their neighbours in the
    // mosaic, merged into seams.csv (its lines of other seams between
    // sheets of the mosaic kept); nothing is measured when the set is empty.
    std::optional<std::set<int>> painted;
    // Written again from the marked sheets when not empty.
    std::string summaryCsv;
};

struct AreaSeams {
    std::string csvPath;                 // OUTDIR/seams.csv
    std::vector<SeamMeasurement> table;  // every seam seams.csv holds now
    bool measured = false;               // false: nothing to measure, the table as an earlier run left it
};

// Measures the seams the request names, writes seams.csv (when something
// was measured) and records the threshold they were judged with in the
// journal (batch::Journal::SeamThresholdMetres), sets each of `sheets`' seams field to its verdict and writes
// the summary. Throws std::runtime_error when config.bin, the mosaic or the
// journal cannot be read or a file cannot be written.
AreaSeams MeasureAreaSeams(const AreaSeamsRequest& request, std::vector<batch::SheetResult>& sheets);

// Each sheet's seams field set to what the table says of it.
void MarkSheets(const std::vector<SeamMeasurement>& table, std::vector<batch::SheetResult>& sheets);

// The table as the review page shows it.
std::vector<review::SeamFigures> PageFigures(const std::vector<SeamMeasurement>& table);

// The table for people (WriteSeamsTable), then a line for every sheet whose
// measured seams are all suspect.
void WriteSeamsReport(const std::vector<SeamMeasurement>& table, std::ostream& out);

}  // namespace georef::seams
