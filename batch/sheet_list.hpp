#pragma once
// The sheets of an area: which scans a batch takes, from a scan directory or
// a list file, in which order they are started and which share of them a
// shard runs.

#include <stdexcept>
#include <string>
#include <vector>

namespace georef::batch {

// The batch cannot start: a missing directory, an unreadable list file, a
// wrong line in it. what() is the whole message.
class BatchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SheetInput {
    int sheet = 0;           // five-digit sheet number zzccs
    std::string sheetText;   // as written (file name or list), five digits
    std::string scan;        // path of the scan
    std::string cornerFile;  // path given by a list file; empty: look for one
    std::string problem;     // when not empty the sheet is not run: why
};

// Every regular file under directory, in its subfolders too, whose name
// starts with five digits not followed by a sixth (40571.jpg,
// 1880/40571_scan.tif), other than the usual companions of a scan (.txt
// corner files, world files, .aux.xml, .ovr, logs). Folders whose names start
// with '.' and the folders of skip (an output directory inside the scans)
// are not entered; a file or folder whose path relative to directory, or
// whose name, matches one of the shell patterns of exclude is left out. A file whose
// number is no valid sheet number is listed with that problem. Two or more
// scans of one sheet are listed once, with a problem naming them all, so
// that none runs. Sorted by sheet number. Throws BatchError when the
// directory cannot be read.
std::vector<SheetInput> ListScanDirectory(const std::string& directory, const std::vector<std::string>& skip = {},
                                          const std::vector<std::string>& exclude = {});

// A list file: one sheet per line, "SHEET SCAN [CORNERFILE]". Fields are
// separated by blanks or tabs, and a field may be quoted as in CSV ("my
// scans/a.jpg", a doubled quote standing for a quote). Empty lines
// and lines starting with '#' are skipped. Relative paths start at the list
// file's directory. Throws BatchError for a line that is not of that form or
// a sheet listed twice.
std::vector<SheetInput> ReadListFile(const std::string& path);

// Position of a sheet in the grid of all sheets: row southward, column
// eastward, one step per sheet. Sheets whose rows and columns both differ by
// at most one are neighbours and may share tiles.
struct GridPosition {
    int row = 0;
    int column = 0;
};
GridPosition GridPositionOf(int sheet) noexcept;
bool AreNeighbours(int sheetA, int sheetB) noexcept;

// The K-th (1-based) of N disjoint shares of sheets, which together hold each
// sheet once: consecutive runs of the list in grid order (row, then column),
// so that two shards meet only along one border. Throws
// std::invalid_argument unless 1 <= k <= n.
std::vector<SheetInput> ShareOf(std::vector<SheetInput> sheets, int k, int n);

// The order in which workers start sheets: the four classes of (row parity,
// column parity) one after another, each in grid order. Within a class no two
// sheets are neighbours, so the sheets running at the same time rarely wait
// for each other's tiles.
std::vector<SheetInput> LockFriendlyOrder(std::vector<SheetInput> sheets);

}  // namespace georef::batch
