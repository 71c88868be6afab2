#pragma once
// Every seam of an area measured from its mosaic: for each pair of sheets
// that share an edge (config.bin's outlines) and are both in the mosaic, how
// far the second sheet's content lies from where the first sheet's
// continues, in metres along the edge and across it, and how many lines
// crossing the edge that rests on; and seams.csv, the table of them.

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace georef::seams {

enum class SeamStatus {
    ok,          // measured, within the threshold
    suspect,     // measured beyond the threshold, or the lines do not continue across it
                 // (also when many cross on one side and hardly any on the other)
    unmeasured,  // too few lines cross the edge on either side to tell
};

// "ok", "suspect", "unmeasured".
const char* SeamStatusName(SeamStatus status) noexcept;

struct SeamOptions {
    double thresholdMetres = 25.0;  // a larger offset makes a seam suspect
    double bandMetres = 200.0;      // looked at on either side of the edge
    double searchMetres = 100.0;    // largest offset sought
};

struct SeamMeasurement {
    int sheet = 0;      // the sheet west (meridian) or north (parallel) of the edge
    int neighbour = 0;  // the sheet east or south of it
    bool meridian = false;
    double lengthMetres = 0.0;  // of the shared edge
    // Where the neighbour's content lies from where the sheet's continues,
    // metres: along the edge (eastward on a parallel, northward on a
    // meridian) and across it (towards the neighbour). Across is empty when
    // the lines all cross at much the same angle.
    std::optional<double> alongMetres;
    std::optional<double> acrossMetres;
    int features = 0;  // lines found continuing across with this offset
    SeamStatus status = SeamStatus::unmeasured;

    // The offset's length, metres (along alone when across is empty).
    std::optional<double> OffsetMetres() const noexcept;
};

struct SurveyInput {
    std::string configPath;      // config.bin: outlines and shared edges
    std::string mosaicPath;      // mosaic.vrt of the area
    std::set<int> inMosaic;      // sheets whose tiles are in the mosaic (their latest run finished)
    std::set<int> painted;       // measure only seams of these; empty: every seam
};

// Measures the seams, in config.bin's order of pairs. Throws
// std::runtime_error when config.bin or the mosaic cannot be read.
std::vector<SeamMeasurement> MeasureSeams(const SurveyInput& input, const SeamOptions& options = {});

// What the seams say of a sheet: "suspect" when every measured seam of it is
// suspect, "ok" when one is not, "unmeasured" when it has seams but none
// measured; empty when it has none.
std::string SheetVerdict(const std::vector<SeamMeasurement>& seams, int sheet);

// seams.csv: a header, then one line per seam, suspect ones first. Written
// beside and renamed into place. Throws std::runtime_error.
void WriteSeamsCsv(const std::vector<SeamMeasurement>& seams, const std::string& path);

// The seams of an earlier seams.csv (empty when there is none or it does not
// parse), for keeping the seams a later batch does not measure again.
std::vector<SeamMeasurement> ReadSeamsCsv(const std::string& path);

// Seams of `older` whose pair `newer` does not hold, then `newer`.
std::vector<SeamMeasurement> MergeSeams(const std::vector<SeamMeasurement>& older,
                                        const std::vector<SeamMeasurement>& newer);

// A table for people: one line per seam, suspect ones first, then a count.
void WriteSeamsTable(const std::vector<SeamMeasurement>& seams, std::ostream& out);

}  // namespace georef::seams
