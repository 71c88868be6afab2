#pragma once
// The check every sheet's corners pass before the sheet is painted,
// whatever made them: a hand-made corner file beside the scan, in --corners
// or named by the list file, or the corner finder. It is the finder's own
// check (corners/frame_check.hpp: every residual within georef-check's
// threshold, not mirrored, each side and each axis of the sheet's size at the
// scan's resolution) and a plausible rotation.
//
// The resolution: the scan's stated one when it lies in the range the finder
// believes; otherwise the one the corners imply, so that the shape is still
// checked (four sides of one scale) without a range a hand-made corner file
// of a low-resolution scan could not meet.

#include <optional>
#include <string>

#include "geometry/corner_fit_report.hpp"

namespace georef::batch {

// A scan lies within this angle of upright or of a quarter turn, degrees;
// beyond it the corners are wrong (one counted from the other edge turns
// the fit by tens of degrees), not the scan.
inline constexpr double kPlausibleRotationDegrees = 10.0;

struct CornerVerdict {
    geometry::CornerFitReport fit;  // the fit georef will make (mirrored when mirrored)
    bool fitted = false;            // false: no fit at all (three corners on one line)
    std::string refusal;            // empty when every check held; otherwise which failed, with figures

    bool Accepted() const noexcept { return fitted && refusal.empty(); }
};

// corners: the corner file's image frame. statedDpi: what the scan states,
// if anything. acceptMirrored: the scan really is mirrored (film scanned from
// its back); the corners are then checked as their mirror image.
CornerVerdict CheckCornerSet(const geometry::CornerPoints& corners, int sheet, std::optional<double> statedDpi,
                             bool acceptMirrored);

}  // namespace georef::batch
