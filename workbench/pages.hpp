#pragma once
// The pages georef-review adds to the review page: the zoomable mosaic
// (Leaflet, served from Debian's package by the server) and the corner
// editor of a sheet. Both talk to the server's /api/ and send the change
// header with every POST; neither loads anything from the network.

#include <string>
#include <vector>

#include "workbench/workbench.hpp"

namespace georef::workbench {

std::string MapPage();

// sheetText: five digits (checked by the caller).
std::string EditorPage(const std::string& sheetText);

// The review page with a bar at its top: the way to the mosaic and to the
// corner editor of each sheet, failed sheets first.
std::string WithNavigation(const std::string& page, const std::vector<SheetState>& sheets);

}  // namespace georef::workbench
