#pragma once
// The review page of a batch: OUTDIR/review/index.html, a static page that
// opens from the file system with no server and no network. It shows
//   - an overview map: every sheet of config.bin outlined over the mosaic
//     reduced to at most 2000 pixels wide, coloured by its status, labelled
//     with its number and linked to its row;
//   - a table, one row per sheet (failures first), sortable by any column
//     with a small script of the page's own;
//   - each sheet's corner picture, loaded lazily, referred to where the
//     corner finder wrote it (relative to the page);
//   - seams: for each pair of neighbouring sheets both done, a strip along
//     their shared edge cut from the mosaic.
// Everything the page shows lies in OUTDIR/review/ except the corner
// pictures; that directory is built beside it and swapped in only when
// complete, so an earlier page stays whole until the new one replaces it.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/sheet_result.hpp"

namespace georef::review {

// The page shows the batch's own record of each sheet.
using batch::SheetResult;
using batch::SheetStatus;

// How far the content breaks at an edge two sheets share (first west or
// north of it), as measured from the mosaic.
struct SeamFigures {
    int first = 0;
    int second = 0;
    std::optional<double> alongMetres;   // second's content from where the first's continues
    std::optional<double> acrossMetres;  // towards the second; empty when not determined
    int features = 0;                    // lines it rests on
    std::string status;                  // "ok", "suspect", "unmeasured"
};

struct ReviewInput {
    std::vector<SheetResult> sheets;  // the batch's list; one entry per sheet (notInList is the page's own)
    std::string configPath;           // config.bin: the sheets' outlines
    std::string mosaicPath;           // mosaic.vrt (any north-up GDAL raster); empty: none yet
    std::string outputDirectory;      // OUTDIR; receives review/
    std::string title = "Review of the batch";
    std::vector<SeamFigures> seams;   // measured seams; the others are shown unmeasured
    double seamThresholdMetres = 25.0;
};

struct PageOptions {
    int overviewMaxWidth = 2000;      // pixels of the reduced mosaic
    int seamMaxLengthPixels = 1200;   // pixels along a seam strip
};

// What was written, for the caller's summary.
struct ReviewPage {
    std::string indexPath;   // OUTDIR/review/index.html
    int sheetRows = 0;       // table rows (batch entries and sheets not in the list)
    int seams = 0;           // seam strips written
    std::vector<std::string> warnings;  // what the page could not show, e.g. an unreadable mosaic
};

// Something the page needs cannot be had: config.bin unreadable or
// damaged, OUTDIR missing, a file that cannot be written. Nothing of the new
// page is left behind then; an earlier page stays as it was.
class ReviewError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes OUTDIR/review/ (index.html, overview.jpg, seams/*.jpg). A missing
// or unreadable mosaic or corner picture does not stop the page (no mosaic
// given is said on the page only, as the caller knows it): the page
// says so in its place and the warning is returned. Throws ReviewError.
// Pages are drawn under a kernel lock of the output directory
// (OUTDIR/.georef-review.lock), one at a time.
ReviewPage WriteReviewPage(const ReviewInput& input, const PageOptions& options = {});

// Removes what page writers killed midway left in the output directory (the
// new page's directory, .review-new-XXXXXX, or an earlier page moved aside,
// .review-old-XXXXXX), under the lock every page writer holds, so that no
// page being drawn is touched. Returns how many went. Throws nothing.
int RemoveLeftoverPages(const std::string& outputDirectory) noexcept;

}  // namespace georef::review
