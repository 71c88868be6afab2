#pragma once
// What a user decided about the corner file placed by hand for a sheet of an
// output directory (OUTDIR/corners/hand/SHEET.txt, see corner_source.hpp)
// beyond its corners: that its fit may mirror the scan, because the scan is
// film scanned from its back. The decision is kept beside the file,
// OUTDIR/corners/hand/SHEET.mirrored, and holds the digest of the corner
// file's bytes it was made for: the batch honours it for that hand corner
// file only, and only while the file is unchanged. A corner file edited
// since, or any other source of the sheet's corners, is checked as usual.
//
//   batch::AcceptMirroredHandCorners("out", "40572");   // after writing the hand file
//   batch::HandCornersAcceptMirrored("out", "40572");   // true until the file changes

#include <string>

namespace georef::batch {

// OUTDIR/corners/hand/SHEET.mirrored (sheetText five digits).
std::string MirroredHandCornersFile(const std::string& outputDirectory, const std::string& sheetText);

// Records, atomically, that the hand corner file as it is now may make a
// mirrored fit. Throws std::runtime_error when there is no hand corner file
// or the record cannot be written.
void AcceptMirroredHandCorners(const std::string& outputDirectory, const std::string& sheetText);

// Removes the record, if any. Throws std::runtime_error when it stays.
void ForgetMirroredHandCorners(const std::string& outputDirectory, const std::string& sheetText);

// Whether the record exists and was made for the hand corner file's present bytes.
bool HandCornersAcceptMirrored(const std::string& outputDirectory, const std::string& sheetText) noexcept;

}  // namespace georef::batch
