#pragma once
// Where a sheet's corners come from. This is the one place that decides it:
// a corner file named by the list file, else SHEET.txt in the corners
// directory (--corners DIR), else SHEET.txt next to the scan, else the corner
// finder, which writes what it found as OUTDIR/corners/SHEET.txt. Each sheet
// also gets its corner picture, OUTDIR/corners/SHEET.png: the corner finder's
// report, or the same insets drawn at the corners of a corner file, for the
// batch's review page.

#include <string>

#include "batch/sheet_list.hpp"

namespace georef::batch {

struct CornerSource {
    std::string cornerFile;  // the corner file the run reads; empty when there is none
    std::string refusal;     // when cornerFile is empty: why there are no corners
    std::string picture;     // the corner picture; empty when none could be drawn
    bool found = false;      // the corner finder made cornerFile
};

// The folder of found corner files and corner pictures in an output directory.
std::string FoundCornersDirectory(const std::string& outputDirectory);

// cornersDirectory may be empty (no --corners). outputDirectory receives
// the found corner files and the pictures in FoundCornersDirectory, which
// must exist. A corner file the finder wrote in an earlier batch is used
// again while it is newer than the scan. Throws nothing: a scan the finder
// cannot read is a refusal, a picture that cannot be drawn is left out.
CornerSource LocateCorners(const SheetInput& input, const std::string& cornersDirectory,
                           const std::string& outputDirectory) noexcept;

}  // namespace georef::batch
