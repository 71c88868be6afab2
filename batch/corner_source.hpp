#pragma once
// Where a sheet's corners come from. This is the one place that decides it:
// a corner file named by the list file, else SHEET.txt in the corners
// directory (--corners DIR), else SHEET.txt next to the scan. A corner finder
// plugs in here, as the last source, writing what it found as a corner file.

#include <string>

#include "batch/sheet_list.hpp"

namespace georef::batch {

struct CornerSource {
    std::string cornerFile;  // the corner file the run reads; empty when there is none
    std::string refusal;     // when cornerFile is empty: why there are no corners
};

// cornersDirectory may be empty (no --corners).
CornerSource LocateCorners(const SheetInput& input, const std::string& cornersDirectory);

}  // namespace georef::batch
