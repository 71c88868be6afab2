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

// Which sheets a command line asks for.

// Parses a sheet number ("40571") or an inclusive range of sheet numbers
// ("40571-40574": every valid number between the two, both ends valid and
// the first not above the last). Throws georef::Failure (status 1) naming
// the argument when it is not of that form or names an invalid sheet.
std::vector<int> ParseSheetArgument(const std::string& text);

// Parses "A" or "A-B" (decimal, A <= B) into first and last. Throws
// georef::Failure (status 1) mentioning what.
void ParseIntegerRange(const std::string& text, const char* what, int& first, int& last);

// Every sheet (sections 1 to 4) of the cells in zones zoneFirst..zoneLast
// and columns columnFirst..columnLast. Throws georef::Failure when a zone is
// outside 34..45 or a column outside 0..99.
std::vector<int> SheetsOfCells(int zoneFirst, int zoneLast, int columnFirst, int columnLast);

}  // namespace georef::tools
