#pragma once
// georef-config: writes config.bin for a set of sheets with PROJ, or lists
// and checks the sheets of an existing file.

#include <ostream>
#include <string>
#include <vector>

#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::tools {

// The whole program, given argc/argv as main receives them. Reports go to
// out, errors to err. Returns 0 when the file was written (or listed without
// a problem), 1 on a failure (nothing is written then), 2 for a wrong command
// line. Throws nothing.
int RunConfigTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

// What is wrong with one sheet's content for a georef run: an invalid sheet
// number, fewer than 3 vertices, a grid origin below 0, a grid that does not
// give all four nodes to every point of the boundary's bounding box, node
// values that are not finite, a boundary that does not follow the sheet's
// graticule (vertices looked up in the grid more than 10 m off it). Empty
// when the sheet is sound.
std::vector<std::string> CheckSheetContent(int sheetNumber, const transform::SheetBoundary& boundary,
                                           const transform::TransformGrid& grid);

// --list: one line per index entry with its extent, grid and verdict.
// Returns 0 when every entry is sound, 1 otherwise (a damaged or unreadable
// file included).
int ListTransformationFile(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace georef::tools
