#pragma once
// A batch: every sheet of an area run into one output directory by N
// workers, each sheet exactly as georef runs it (the same library call),
// resumable through the journal, with progress, per-sheet logs, a summary
// and the mosaic.

#include <ostream>
#include <string>
#include <vector>

#include "batch/sheet_list.hpp"
#include "batch/sheet_result.hpp"

namespace georef::batch {

struct BatchOptions {
    std::string scanDirectory;  // scans named SHEET*.ext; or
    std::string listFile;       // SHEET SCAN [CORNERFILE] per line (when not empty)
    std::string outputDirectory;
    int dpi = 0;
    int jobs = 0;                       // workers; 0: one per core
    std::string cornersDirectory;       // --corners DIR; empty: none
    std::vector<std::string> exclude;   // --exclude PATTERN: scans of scanDirectory left out
    std::string configFile = "config.bin";
    bool force = false;                 // redo finished sheets too, and find their corners again
    bool acceptMirrored = false;        // corners with a mirrored fit are a scan of the film's back
    int shard = 1;                      // run the shard-th of shardCount shares
    int shardCount = 1;
    bool liveProgress = false;          // a progress line redrawn in place (a terminal)
    double seamThresholdMetres = 25.0;  // for the seams measured when the batch ends (by its program)
};

struct BatchReport {
    std::vector<SheetResult> results;  // one per sheet of the batch (or shard), in grid order
    // Every sheet the journal of the output directory knows, with its latest
    // result, and this batch's sheets (as in results), in grid order.
    std::vector<SheetResult> area;
    std::string summaryCsv;            // path of the CSV written
    int mosaicTiles = 0;               // tiles in mosaic.vrt
    std::string mosaicProblem;         // why mosaic.vrt could not be written; empty when it was

    bool AllSucceeded() const noexcept;
};

// Runs the batch, printing progress to out. Throws BatchError before any
// sheet runs when the batch cannot start: no sheets source, no config file, an
// output directory that cannot be made, or one whose journal or tiles are of
// another dpi. After that, a failing sheet is reported in its result and
// never stops the others.
BatchReport RunBatch(const BatchOptions& options, std::ostream& out);

// The same for the sheets given instead of those of options' scan directory
// or list file (a sheet fixed by hand, say): each is run exactly as a batch
// runs it, with journal, summary and mosaic.
BatchReport RunBatch(const BatchOptions& options, const std::vector<SheetInput>& sheets, std::ostream& out);

// Wide-area check before anything runs: the output directory holds no
// journal and no world file of another dpi than this batch's. Throws
// BatchError naming what it found.
void CheckOneResolution(const std::string& outputDirectory, int dpi);

}  // namespace georef::batch
