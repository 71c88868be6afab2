#include "tools/sheet_selection.hpp"

#include <cstdlib>

#include "geometry/sheet_geometry.hpp"
#include "platform/failure.hpp"

namespace georef::tools {

namespace {

// A whole decimal number of at most nine digits, nothing else.
bool ParseNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    value = std::atoi(text.c_str());
    return true;
}

void RequireValidSheet(int sheet, const std::string& argument) {
    if (!geometry::IsValidSheetNumber(sheet)) {
        throw Failure("'" + argument + "': " + std::to_string(sheet) +
                      " is not a valid sheet number (zone 34-45, column 00-99, section 1-4)");
    }
}

}  // namespace

void ParseIntegerRange(const std::string& text, const char* what, int& first, int& last) {
    const std::size_t dash = text.find('-');
    const std::string head = text.substr(0, dash);
    const std::string tail = dash == std::string::npos ? head : text.substr(dash + 1);
    if (!ParseNumber(head, first) || !ParseNumber(tail, last) || first > last) {
        throw Failure(std::string("'") + text + "' is not a " + what + " or a range of them (like 40-41)");
    }
}

std::vector<int> ParseSheetArgument(const std::string& text) {
    int first = 0;
    int last = 0;
    const std::size_t dash = text.find('-');
    const std::string head = text.substr(0, dash);
    const std::string tail = dash == std::string::npos ? head : text.substr(dash + 1);
    if (!ParseNumber(head, first) || !ParseNumber(tail, last)) {
        throw Failure("'" + text + "' is not a sheet number (like 40571) or a range of them (like 40571-40574)");
    }
    RequireValidSheet(first, text);
    RequireValidSheet(last, text);
    if (first > last) {
        throw Failure("'" + text + "': the range runs backwards");
    }
    std::vector<int> sheets;
    for (int n = first; n <= last; ++n) {
        if (geometry::IsValidSheetNumber(n)) {
            sheets.push_back(n);
        }
    }
    return sheets;
}

std::vector<int> SheetsOfCells(int zoneFirst, int zoneLast, int columnFirst, int columnLast) {
    if (zoneFirst < 34 || zoneLast > 45) {
        throw Failure("zones run from 34 to 45");
    }
    if (columnFirst < 0 || columnLast > 99) {
        throw Failure("columns run from 0 to 99");
    }
    std::vector<int> sheets;
    for (int zone = zoneFirst; zone <= zoneLast; ++zone) {
        for (int column = columnFirst; column <= columnLast; ++column) {
            for (int section = 1; section <= 4; ++section) {
                sheets.push_back(zone * 1000 + column * 10 + section);
            }
        }
    }
    return sheets;
}

}  // namespace georef::tools
