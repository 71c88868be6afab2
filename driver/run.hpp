#pragma once
// One run of the program for one sheet: the command line, the order of the
// steps and every console message of the run.

#include <ostream>
#include <string>

#include "raster/source_raster.hpp"
#include "tiling/tile_watcher.hpp"

namespace georef::driver {

// Runs the program with argc/argv as main receives them, in the current
// working directory. Messages go to out; the JPEG library's fatal messages,
// the reason a scan is refused and warnings (a scan meant to be shown turned,
// a tile of another size replaced) go to err. Returns the exit status: 0 when
// the run completed, 1 when it stopped on a failure, 2 for a wrong command
// line. Throws nothing.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

// One sheet's run as a library call: the five arguments of the command line
// as text, read exactly as the command line's are, and where config.bin is.
struct SheetRequest {
    std::string sheet;
    std::string cornerFile;
    std::string scan;
    std::string outputDirectory;
    std::string dpi;
    std::string configFile = "config.bin";  // relative names start at the working directory
    // Threads that render a tile's rows; 0 takes one per core. The tiles do
    // not depend on it.
    int renderThreads = 0;
    // The scan as its caller already read it (Open and ReadBands of the same
    // file), kept alive by the caller for the call; the run then reads no
    // pixels itself and paints exactly the same tiles. Null: the run reads it.
    const raster::SourceRaster* decodedScan = nullptr;
    // Told of every tile the run writes (see tiling::TileWatcher); null:
    // nobody is. The tiles do not depend on it.
    tiling::TileWatcher* tileWatcher = nullptr;
};

// How a run ended, for a caller that acts on it (the batch).
enum class OutcomeKind {
    completed,    // every tile visited was written
    commandLine,  // an argument was wrong (exit status 2); nothing was read
    input,        // the corner file, config.bin or the scan could not be used; no tile was touched
    tiles,        // the run got to its end, but some files of tiles could not be written
    stopped,      // the run stopped among the tiles (the JPEG library gave up, memory ran out)
};

// What a run did: its exit status (as Run's), the tiles it visited and, when
// it did not complete, what it printed about why.
struct SheetOutcome {
    int exitStatus = 1;
    int tilesWritten = 0;  // world file and tile written
    int tilesFailed = 0;   // reported with "chyba ..." and left as they were
    OutcomeKind kind = OutcomeKind::stopped;
    // The lines (on out or err) that said what went wrong, in the order
    // printed, joined by "; ": a scan's reason for being refused, each file
    // of a tile not written, the line the run stopped on. Empty when the
    // run completed.
    std::string message;
    // The same told in English alone: the lines on err that say why (the
    // reason a scan is refused, the JPEG library's message), joined by "; ";
    // empty when there are none and only the run's own (Czech) lines say it.
    std::string reason;
};

// Runs one sheet, printing exactly what the program prints for the same
// arguments. Safe to call from several threads at once for different sheets
// (each call owns all it uses; tiles shared between sheets are taken in
// turns under their tile locks). Throws nothing.
SheetOutcome RunSheet(const SheetRequest& request, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::driver
