#include "batch/sheet_list.hpp"

#include <fnmatch.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "geometry/sheet_geometry.hpp"
#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

namespace fs = std::filesystem;

// Files that accompany a scan in the same directory and are no scan.
constexpr std::array<const char*, 13> kCompanionEndings = {
    ".txt", ".jgw", ".tfw", ".wld", ".prj", ".aux.xml", ".xml", ".ovr", ".log", ".csv", ".md5", ".vrt", ".key"};

bool EndsWith(const std::string& text, const std::string& ending) {
    if (text.size() < ending.size()) {
        return false;
    }
    return std::equal(ending.rbegin(), ending.rend(), text.rbegin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

bool StartsWithSheetNumber(const std::string& name) {
    for (std::size_t i = 0; i < 5; ++i) {
        if (i >= name.size() || !std::isdigit(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return name.size() == 5 || !std::isdigit(static_cast<unsigned char>(name[5]));
}

bool GridOrder(const SheetInput& a, const SheetInput& b) {
    const GridPosition pa = GridPositionOf(a.sheet);
    const GridPosition pb = GridPositionOf(b.sheet);
    if (pa.row != pb.row) {
        return pa.row < pb.row;
    }
    if (pa.column != pb.column) {
        return pa.column < pb.column;
    }
    return a.scan < b.scan;
}

// Keeps one entry per sheet: a sheet with more than one scan keeps the
// first, with a problem naming every scan.
std::vector<SheetInput> OnePerSheet(std::vector<SheetInput> sheets) {
    std::map<int, std::vector<std::size_t>> bySheet;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        bySheet[sheets[i].sheet].push_back(i);
    }
    std::vector<SheetInput> kept;
    for (const auto& [sheet, indices] : bySheet) {
        SheetInput input = sheets[indices.front()];
        if (indices.size() > 1) {
            std::string names;
            for (std::size_t k = 0; k < indices.size(); ++k) {
                names += (k == 0 ? "" : k + 1 == indices.size() ? " and " : ", ") + sheets[indices[k]].scan;
            }
            input.problem = std::to_string(indices.size()) + " scans of sheet " + input.sheetText + ": " + names +
                            "; leave all but one out with --exclude";
        }
        kept.push_back(std::move(input));
    }
    return kept;
}

bool IsCompanion(const std::string& name) {
    return std::any_of(kCompanionEndings.begin(), kCompanionEndings.end(),
                       [&](const char* ending) { return EndsWith(name, ending); });
}

bool Excluded(const std::vector<std::string>& patterns, const std::string& relative, const std::string& name) {
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return ::fnmatch(pattern.c_str(), relative.c_str(), 0) == 0 || ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
    });
}

// The fields of a list file's line (see ReadListFile); a problem when a
// quote is not closed.
std::vector<std::string> SplitListLine(std::string line, std::string& problem) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    std::vector<std::string> fields;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t i = 0;
    while (i < line.size()) {
        if (blank(line[i])) {
            ++i;
            continue;
        }
        std::string field;
        if (line[i] == '"') {
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        ++i;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                field += line[i];
            }
            if (!closed) {
                problem = "a quote is not closed";
                return {};
            }
            if (i < line.size() && !blank(line[i])) {
                problem = "a quoted name is followed by more than a blank";
                return {};
            }
        } else {
            while (i < line.size() && !blank(line[i])) {
                field += line[i++];
            }
        }
        fields.push_back(std::move(field));
    }
    return fields;
}

}  // namespace

std::vector<SheetInput> ListScanDirectory(const std::string& directory, const std::vector<std::string>& skip,
                                          const std::vector<std::string>& exclude) {
    std::error_code error;
    fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, error);
    if (error) {
        throw BatchError("cannot read the scan directory " + directory + ": " + error.message());
    }
    const auto skipped = [&skip](const fs::path& folder) {
        std::error_code ignored;
        return std::any_of(skip.begin(), skip.end(),
                           [&](const std::string& other) { return fs::equivalent(folder, other, ignored); });
    };
    std::vector<SheetInput> sheets;
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            if (name.empty() || name[0] == '.' || skipped(path) ||
                Excluded(exclude, path.lexically_relative(directory).string(), name)) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (!StartsWithSheetNumber(name) || !it->is_regular_file(typeError) || IsCompanion(name)) {
            continue;
        }
        const std::string relative = path.lexically_relative(directory).string();
        if (Excluded(exclude, relative, name)) {
            continue;
        }
        SheetInput input;
        input.sheetText = name.substr(0, 5);
        input.sheet = std::atoi(input.sheetText.c_str());
        input.scan = platform::JoinPath(directory, relative);
        if (!geometry::IsValidSheetNumber(input.sheet)) {
            input.problem = input.sheetText + " is no valid sheet number (zone 34 to 45, section 1 to 4): " + input.scan;
        }
        sheets.push_back(std::move(input));
    }
    if (error) {
        throw BatchError("cannot read the scan directory " + directory + ": " + error.message());
    }
    // Directory order is the file system's: the scans of a sheet in path order.
    std::sort(sheets.begin(), sheets.end(), [](const SheetInput& a, const SheetInput& b) { return a.scan < b.scan; });
    sheets = OnePerSheet(std::move(sheets));
    std::sort(sheets.begin(), sheets.end(), GridOrder);
    return sheets;
}

std::vector<SheetInput> ReadListFile(const std::string& path) {
    std::ifstream in(path);
    if (!in.is_open()) {
        throw BatchError("cannot open the list file " + path);
    }
    const std::string base = fs::path(path).parent_path().string();
    const auto resolve = [&](const std::string& name) {
        return fs::path(name).is_absolute() || base.empty() ? name : platform::JoinPath(base, name);
    };
    std::vector<SheetInput> sheets;
    std::map<int, int> lineOfSheet;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + " line " + std::to_string(number) + ": ";
        std::string problem;
        const std::vector<std::string> fields = SplitListLine(line, problem);
        if (!problem.empty()) {
            throw BatchError(where + problem);
        }
        if (fields.empty() || fields[0].empty() || fields[0][0] == '#') {
            continue;
        }
        const std::string& sheetText = fields[0];
        if (sheetText.size() != 5 || !StartsWithSheetNumber(sheetText) || fields.size() < 2 || fields[1].empty()) {
            throw BatchError(where + "expected SHEET SCAN [CORNERFILE], a five-digit sheet number first");
        }
        if (fields.size() > 3) {
            throw BatchError(where + "more than three fields (SHEET SCAN [CORNERFILE]); quote a name with blanks "
                                     "(\"my scans/40571.jpg\") or separate the fields by tabs");
        }
        SheetInput input;
        input.sheetText = sheetText;
        input.sheet = std::atoi(sheetText.c_str());
        input.scan = resolve(fields[1]);
        input.cornerFile = fields.size() == 3 && !fields[2].empty() ? resolve(fields[2]) : std::string();
        if (!geometry::IsValidSheetNumber(input.sheet)) {
            input.problem = sheetText + " is no valid sheet number (zone 34 to 45, section 1 to 4)";
        }
        const auto [previous, inserted] = lineOfSheet.emplace(input.sheet, number);
        if (!inserted) {
            throw BatchError(where + "sheet " + sheetText + " is already listed on line " +
                             std::to_string(previous->second));
        }
        sheets.push_back(std::move(input));
    }
    std::sort(sheets.begin(), sheets.end(), GridOrder);
    return sheets;
}

GridPosition GridPositionOf(int sheet) noexcept {
    const int zone = sheet / 1000;
    const int column = sheet / 10 % 100;
    const int section = sheet % 10;  // 1 NW, 2 NE, 3 SW, 4 SE
    return GridPosition{zone * 2 + (section >= 3 ? 1 : 0), column * 2 + (section % 2 == 0 ? 1 : 0)};
}

bool AreNeighbours(int sheetA, int sheetB) noexcept {
    const GridPosition a = GridPositionOf(sheetA);
    const GridPosition b = GridPositionOf(sheetB);
    return std::abs(a.row - b.row) <= 1 && std::abs(a.column - b.column) <= 1;
}

std::vector<SheetInput> ShareOf(std::vector<SheetInput> sheets, int k, int n) {
    if (n < 1 || k < 1 || k > n) {
        throw std::invalid_argument("a share K/N needs 1 <= K <= N");
    }
    std::stable_sort(sheets.begin(), sheets.end(), GridOrder);
    const std::size_t total = sheets.size();
    const std::size_t first = total * static_cast<std::size_t>(k - 1) / static_cast<std::size_t>(n);
    const std::size_t last = total * static_cast<std::size_t>(k) / static_cast<std::size_t>(n);
    return std::vector<SheetInput>(sheets.begin() + static_cast<std::ptrdiff_t>(first),
                                   sheets.begin() + static_cast<std::ptrdiff_t>(last));
}

std::vector<SheetInput> LockFriendlyOrder(std::vector<SheetInput> sheets) {
    const auto parityClass = [](const SheetInput& input) {
        const GridPosition p = GridPositionOf(input.sheet);
        return (p.row & 1) * 2 + (p.column & 1);
    };
    std::stable_sort(sheets.begin(), sheets.end(), [&](const SheetInput& a, const SheetInput& b) {
        const int ca = parityClass(a);
        const int cb = parityClass(b);
        return ca != cb ? ca < cb : GridOrder(a, b);
    });
    return sheets;
}

}  // namespace georef::batch
