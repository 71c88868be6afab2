#pragma once
// Where a sheet's corners come from, and whether they may be used. This is
// the one place that decides it: a corner file made for this output
// directory by hand (OUTDIR/corners/hand/SHEET.txt, which georef-review
// writes), else a corner file named by the list file, else
// SHEET.txt in the corners directory (--corners DIR), else SHEET.txt next to
// the scan, else the corner finder, which writes what it found as
// OUTDIR/corners/SHEET.txt. Whatever the source, the corners pass
// CheckCornerSet before the sheet may be painted. Each sheet also gets its
// corner picture, OUTDIR/corners/SHEET.png: the corners drawn on the scan
// with the verdict, for the batch's review page.
//
// What the finder found, and the picture, are kept for the exact scan bytes
// they were made from: OUTDIR/corners/SHEET.key records the scan's digest,
// the finder's version, what it found (or why it refused) and what the
// picture shows. Another scan under the same name, whatever its date, is
// searched and drawn again.

#include <optional>
#include <string>

#include "batch/corner_check.hpp"
#include "batch/decoded_scan.hpp"
#include "batch/sheet_list.hpp"

namespace georef::batch {

struct CornerRequest {
    std::string cornersDirectory;  // --corners DIR; empty: none
    std::string outputDirectory;   // receives FoundCornersDirectory, which must exist
    std::string scanDigest;        // ContentDigest of the scan's bytes
    bool force = false;            // find corners again even when kept for these bytes
    bool acceptMirrored = false;   // the scan really is mirrored
};

struct CornerSource {
    std::string cornerFile;  // the corner file the run reads; empty when there is none
    std::string refusal;     // when the sheet may not be painted: why, with the figures
    std::string picture;     // the corner picture; empty when none could be drawn
    bool found = false;      // the corner finder made cornerFile
    std::optional<CornerVerdict> verdict;  // present when there were corners to check

    bool Usable() const noexcept { return !cornerFile.empty() && refusal.empty(); }
};

// The folder of found corner files and corner pictures in an output directory.
std::string FoundCornersDirectory(const std::string& outputDirectory);

// The corner file placed by hand for a sheet of an output directory
// (OUTDIR/corners/hand/SHEET.txt, sheetText five digits): the latest word
// on the sheet's corners, taken before any other source. A mirrored fit of
// it may be accepted beside it (hand_corners.hpp).
std::string HandCornersFile(const std::string& outputDirectory, const std::string& sheetText);

// The sheet's corners, checked, and its picture. Throws nothing: a scan that
// cannot be read, corners missing or refused are the refusal; a picture that
// cannot be drawn is left out.
// scan: the sheet's scan, decoded only if the finder or the picture needs it.
CornerSource LocateCorners(const SheetInput& input, const CornerRequest& request, DecodedScan& scan) noexcept;

}  // namespace georef::batch
