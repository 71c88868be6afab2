#include "batch/sheet_list.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "platform/file_system.hpp"

namespace georef::batch {

namespace {

namespace fs = std::filesystem;

// Files that accompany a scan in the same directory and are no scan.
constexpr std::array<const char*, 12> kCompanionEndings = {
    ".txt", ".jgw", ".tfw", ".wld", ".prj", ".aux.xml", ".xml", ".ovr", ".log", ".csv", ".md5", ".vrt"};

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

// Marks every sheet that appears more than once.
void MarkDuplicates(std::vector<SheetInput>& sheets) {
    std::map<int, std::vector<std::size_t>> bySheet;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        bySheet[sheets[i].sheet].push_back(i);
    }
    for (const auto& [sheet, indices] : bySheet) {
        if (indices.size() < 2) {
            continue;
        }
        std::string names;
        for (std::size_t i : indices) {
            names += (names.empty() ? "" : ", ") + sheets[i].scan;
        }
        for (std::size_t i : indices) {
            sheets[i].problem = "more than one scan of sheet " + sheets[i].sheetText + ": " + names;
        }
    }
}

}  // namespace

std::vector<SheetInput> ListScanDirectory(const std::string& directory) {
    std::error_code error;
    fs::directory_iterator it(directory, error);
    if (error) {
        throw BatchError("cannot read the scan directory " + directory + ": " + error.message());
    }
    std::vector<SheetInput> sheets;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!StartsWithSheetNumber(name) || !it->is_regular_file(error)) {
            continue;
        }
        if (std::any_of(kCompanionEndings.begin(), kCompanionEndings.end(),
                        [&](const char* ending) { return EndsWith(name, ending); })) {
            continue;
        }
        SheetInput input;
        input.sheetText = name.substr(0, 5);
        input.sheet = std::atoi(input.sheetText.c_str());
        input.scan = platform::JoinPath(directory, name);
        sheets.push_back(std::move(input));
    }
    if (error) {
        throw BatchError("cannot read the scan directory " + directory + ": " + error.message());
    }
    MarkDuplicates(sheets);
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
        std::istringstream fields(line);
        std::string sheetText;
        if (!(fields >> sheetText) || sheetText[0] == '#') {
            continue;
        }
        const std::string where = path + " line " + std::to_string(number) + ": ";
        SheetInput input;
        std::string corners;
        std::string extra;
        if (sheetText.size() != 5 || !StartsWithSheetNumber(sheetText) || !(fields >> input.scan)) {
            throw BatchError(where + "expected SHEET SCAN [CORNERFILE], a five-digit sheet number first");
        }
        if (fields >> corners && fields >> extra) {
            throw BatchError(where + "more than three fields (SHEET SCAN [CORNERFILE])");
        }
        input.sheetText = sheetText;
        input.sheet = std::atoi(sheetText.c_str());
        input.scan = resolve(input.scan);
        input.cornerFile = corners.empty() ? std::string() : resolve(corners);
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
