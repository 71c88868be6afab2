#pragma once
// Which sheets a georef-config command line asks for.

#include <string>
#include <vector>

namespace georef::tools {

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
