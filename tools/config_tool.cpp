#include "tools/config_tool.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <utility>

#include "geometry/sheet_geometry.hpp"
#include "platform/arguments.hpp"
#include "platform/failure.hpp"
#include "platform/file_system.hpp"
#include "platform/program_info.hpp"
#include "projection/proj_transformer.hpp"
#include "projection/sheet_record.hpp"
#include "transform/transformation_file.hpp"
#include "transform/transformation_file_writer.hpp"

namespace georef::tools {

namespace {

using projection::BuildSheetRecord;
using projection::ProjSettings;
using projection::ProjTransformer;
using platform::UsageError;

// Which sheets the command line asks for. "A" or "A-B", both whole decimal
// numbers of at most nine digits and nothing else: (A, A) or (A, B).
std::optional<std::pair<int, int>> ParseRange(const std::string& text) {
    const std::size_t dash = text.find('-');
    const std::optional<int> first = platform::ParseDigits(text.substr(0, dash));
    const std::optional<int> last = dash == std::string::npos ? first : platform::ParseDigits(text.substr(dash + 1));
    if (!first || !last) {
        return std::nullopt;
    }
    return std::make_pair(*first, *last);
}

void RequireValidSheet(int sheet, const std::string& argument) {
    if (!geometry::IsValidSheetNumber(sheet)) {
        throw Failure("'" + argument + "': " + std::to_string(sheet) +
                      " is not a valid sheet number (zone 34-45, column 00-99, section 1-4)");
    }
}

}  // namespace

void ParseIntegerRange(const std::string& text, const char* what, int& first, int& last) {
    const std::optional<std::pair<int, int>> range = ParseRange(text);
    if (!range || range->first > range->second) {
        throw Failure(std::string("'") + text + "' is not a " + what + " or a range of them (like 40-41)");
    }
    first = range->first;
    last = range->second;
}

std::vector<int> ParseSheetArgument(const std::string& text) {
    const std::optional<std::pair<int, int>> range = ParseRange(text);
    if (!range) {
        throw Failure("'" + text + "' is not a sheet number (like 40571) or a range of them (like 40571-40574)");
    }
    const auto [first, last] = *range;
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

namespace {

constexpr const char* kProgram = "georef-config";

const char* const kUsage =
    "usage: georef-config [options] SHEET...\n"
    "       georef-config [options] --zones A[-B] --columns C[-D]\n"
    "       georef-config --list FILE\n"
    "Writes config.bin, georef's transformation file, for the given sheets.\n"
    "  SHEET              a sheet number (40571) or a range of them (40571-40574)\n"
    "  --zones, --columns every sheet of the cells in these zones and columns\n"
    "  -o, --output FILE  the file to write (default config.bin)\n"
    "  --cell METRES      grid cell size in whole metres (default 500)\n"
    "  --graticule CRS    CRS of the sheet graticule (default EPSG:4805, MGI Ferro)\n"
    "  --target CRS       CRS of the tiles (default EPSG:5514, S-JTSK Krovak East North)\n"
    "  --pipeline STRING  PROJ operation from (lon, lat) degrees to (easting, northing)\n"
    "                     metres, used instead of the one PROJ picks between the CRS\n"
    "  --list FILE        print and check the sheets of a transformation file\n"
    "  -h, --help         print this text\n"
    "  --version          print the version\n";

// Above this a boundary vertex is not on the sheet's graticule, metres.
constexpr double kGraticuleTolerance = 10.0;
constexpr double kMetresPerDegree = 111320.0;

struct Options {
    std::vector<int> sheets;
    std::string output = "config.bin";
    std::int32_t cellSize = 500;
    ProjSettings proj;
    std::string list;
    std::string zones;
    std::string columns;
};

Options ParseOptions(int argc, const char* const* argv) {
    Options options;
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        std::string arg = argv[k];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
        }
        const auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            return platform::OptionValue(argc, argv, k);
        };
        if (arg == "-o" || arg == "--output") {
            options.output = value();
        } else if (arg == "--cell") {
            const std::string text = value();
            const std::optional<int> cell = platform::ParsePositiveWhole(text);
            if (!cell || *cell > 1000000) {
                throw UsageError("--cell takes a whole number of metres from 1 to 1000000, not '" + text + "'");
            }
            options.cellSize = static_cast<std::int32_t>(*cell);
        } else if (arg == "--graticule") {
            options.proj.graticuleCrs = value();
        } else if (arg == "--target") {
            options.proj.targetCrs = value();
        } else if (arg == "--pipeline") {
            options.proj.pipeline = value();
        } else if (arg == "--list") {
            options.list = value();
        } else if (arg == "--zones") {
            options.zones = value();
        } else if (arg == "--columns") {
            options.columns = value();
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (!options.list.empty()) {
        if (!positional.empty() || !options.zones.empty() || !options.columns.empty()) {
            throw UsageError("--list takes no sheets");
        }
        return options;
    }
    if (options.zones.empty() != options.columns.empty()) {
        throw UsageError("--zones and --columns go together");
    }
    if (positional.empty() && options.zones.empty()) {
        throw UsageError("no sheet given");
    }
    for (const std::string& arg : positional) {
        const std::vector<int> sheets = ParseSheetArgument(arg);
        options.sheets.insert(options.sheets.end(), sheets.begin(), sheets.end());
    }
    if (!options.zones.empty()) {
        int zoneFirst = 0, zoneLast = 0, columnFirst = 0, columnLast = 0;
        ParseIntegerRange(options.zones, "zone", zoneFirst, zoneLast);
        ParseIntegerRange(options.columns, "column", columnFirst, columnLast);
        const std::vector<int> sheets = SheetsOfCells(zoneFirst, zoneLast, columnFirst, columnLast);
        options.sheets.insert(options.sheets.end(), sheets.begin(), sheets.end());
    }
    std::sort(options.sheets.begin(), options.sheets.end());
    options.sheets.erase(std::unique(options.sheets.begin(), options.sheets.end()), options.sheets.end());
    return options;
}

// What was built must pass the same checks --list makes, or georef would
// refuse it (or worse, follow a boundary off its graticule): a coarse grid
// interpolates the graticule too roughly between its nodes.
void RequireUsableRecord(const transform::SheetRecord& record, std::int32_t cellSize) {
    const transform::SheetBoundary boundary{record.boundary, transform::BoundingBoxOf(record.boundary)};
    const std::vector<std::string> problems = CheckSheetContent(record.sheetNumber, boundary, record.grid);
    if (!problems.empty()) {
        std::string message = "sheet " + std::to_string(record.sheetNumber) + ": with a grid cell of " +
                              std::to_string(cellSize) + " m, " + problems.front();
        for (std::size_t k = 1; k < problems.size(); ++k) {
            message += "; " + problems[k];
        }
        throw Failure(message + "; choose a smaller --cell");
    }
}

int WriteConfig(const Options& options, std::ostream& out) {
    ProjTransformer proj(options.proj);
    std::vector<transform::SheetRecord> records;
    records.reserve(options.sheets.size());
    std::size_t vertices = 0;
    for (const int sheet : options.sheets) {
        try {
            records.push_back(BuildSheetRecord(sheet, options.cellSize, proj));
        } catch (const Failure& e) {
            throw Failure("sheet " + std::to_string(sheet) + ": " + e.what(), e.Status());
        }
        RequireUsableRecord(records.back(), options.cellSize);
        vertices += records.back().boundary.size();
    }
    try {
        transform::WriteTransformationFile(options.output, records);
    } catch (const std::length_error&) {
        throw Failure("too many sheets for one file: its offsets would pass 2 GiB; split the sheets");
    } catch (const std::exception& e) {
        throw Failure("cannot write " + options.output + ": " + e.what());
    }
    out << "wrote " << options.output << ": " << records.size() << (records.size() == 1 ? " sheet" : " sheets")
        << ", " << vertices << " boundary vertices, grid cell " << options.cellSize << " m\n"
        << "transformation: " << proj.OperationName() << "\n";
    return 0;
}

// Sheet numbers of the index entries, in file order.
std::vector<std::int32_t> ReadIndexNumbers(const std::string& path) {
    std::optional<transform::TransformationFile> file = transform::TransformationFile::Open(path);
    if (!file) {
        throw Failure("cannot open " + path);
    }
    std::vector<std::int32_t> numbers;
    try {
        for (const transform::SheetIndexEntry& entry : file->ReadIndex()) {
            numbers.push_back(entry.sheetNumber);
        }
    } catch (const transform::DamagedFile& damage) {
        throw Failure(path + " is damaged: " + damage.what());
    }
    return numbers;
}

// How far a graticule point lies from the outline of the sheet's graticule
// rectangle, in metres on the ground (roughly: a sphere of 111.32 km per
// degree is close enough for a plausibility check).
double MetresOffOutline(const geometry::SheetGraticule& g, const transform::GraticulePoint& p) {
    const double metresPerLon = kMetresPerDegree * std::cos(p.lat * M_PI / 180.0);
    const double outsideLon = std::max({g.lonWest - p.lon, p.lon - g.lonEast, 0.0}) * metresPerLon;
    const double outsideLat = std::max({g.latSouth - p.lat, p.lat - g.latNorth, 0.0}) * kMetresPerDegree;
    if (outsideLon > 0.0 || outsideLat > 0.0) {
        return std::hypot(outsideLon, outsideLat);
    }
    return std::min({(p.lon - g.lonWest) * metresPerLon, (g.lonEast - p.lon) * metresPerLon,
                     (p.lat - g.latSouth) * kMetresPerDegree, (g.latNorth - p.lat) * kMetresPerDegree});
}

std::string Fixed(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

}  // namespace

std::vector<std::string> CheckSheetContent(int sheetNumber, const transform::SheetBoundary& boundary,
                                           const transform::TransformGrid& grid) {
    std::vector<std::string> problems;
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        problems.push_back("not a valid sheet number");
    }
    if (boundary.vertices.size() < 3) {
        problems.push_back("the boundary has " + std::to_string(boundary.vertices.size()) +
                           " vertices, fewer than a polygon needs");
    }
    if (grid.OriginX() < 0 || grid.OriginY() < 0) {
        problems.push_back("the grid origin lies below 0, where the cell fractions are wrong");
    }
    const double endX = grid.EndX();
    const double endY = grid.EndY();
    const transform::BoundingBox& box = boundary.box;
    if (!boundary.vertices.empty() && !grid.Covers(box)) {
        problems.push_back("the grid (X " + Fixed(grid.OriginX(), 0) + ".." + Fixed(endX, 0) + ", Y " +
                           Fixed(grid.OriginY(), 0) + ".." + Fixed(endY, 0) +
                           ") does not cover the boundary (X " + Fixed(box.minX, 1) + ".." + Fixed(box.maxX, 1) +
                           ", Y " + Fixed(box.minY, 1) + ".." + Fixed(box.maxY, 1) + ")");
    }
    const auto& nodes = grid.Nodes();
    if (std::any_of(nodes.begin(), nodes.end(), [](const transform::GraticulePoint& p) {
            return !std::isfinite(p.lon) || !std::isfinite(p.lat);
        })) {
        problems.push_back("the grid holds values that are not finite numbers");
    }
    if (problems.empty()) {
        const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheetNumber);
        double worst = 0.0;
        for (const transform::OutputPoint& v : boundary.vertices) {
            const std::optional<transform::GraticulePoint> p = grid.Lookup(v.X, v.Y);
            worst = std::max(worst, p ? MetresOffOutline(g, *p) : INFINITY);
        }
        if (worst > kGraticuleTolerance) {
            problems.push_back("the boundary does not follow the sheet's graticule (a vertex lies " +
                               Fixed(worst, 1) + " m off it)");
        }
    }
    return problems;
}

int ListTransformationFile(const std::string& path, std::ostream& out, std::ostream& err) {
    try {
        const std::vector<std::int32_t> numbers = ReadIndexNumbers(path);
        std::optional<transform::TransformationFile> file = transform::TransformationFile::Open(path);
        if (!file) {
            throw Failure("cannot open " + path);
        }
        out << path << ": " << numbers.size() << (numbers.size() == 1 ? " sheet\n" : " sheets\n");
        int bad = 0;
        std::vector<std::int32_t> seen;
        for (const std::int32_t sheet : numbers) {
            if (std::find(seen.begin(), seen.end(), sheet) != seen.end()) {
                out << sheet << "  repeated entry: georef uses the first one only\n";
                ++bad;
                continue;
            }
            seen.push_back(sheet);
            const std::optional<transform::SheetIndexEntry> entry = file->FindSheet(sheet);
            const transform::SheetBoundary boundary = file->ReadBoundary(*entry);
            const transform::TransformGrid grid = file->ReadGrid(*entry);
            const transform::BoundingBox& box = boundary.box;
            out << sheet << "  " << boundary.vertices.size() << " vertices, X " << Fixed(box.minX, 1) << ".."
                << Fixed(box.maxX, 1) << ", Y " << Fixed(box.minY, 1) << ".." << Fixed(box.maxY, 1) << "; grid "
                << grid.CellSize() << " m, " << grid.NodesPerRow() << " x " << grid.RowCount() << " nodes from X "
                << grid.OriginX() << ", Y " << grid.OriginY();
            const std::vector<std::string> problems = CheckSheetContent(sheet, boundary, grid);
            if (problems.empty()) {
                out << "  ok\n";
            } else {
                out << "  BAD\n";
                for (const std::string& problem : problems) {
                    err << kProgram << ": " << path << ", sheet " << sheet << ": " << problem << "\n";
                }
                ++bad;
            }
        }
        if (bad > 0) {
            err << kProgram << ": " << path << ": " << bad << " of " << numbers.size()
                << " entries are not usable\n";
            return 1;
        }
        return 0;
    } catch (const transform::DamagedFile& e) {
        err << kProgram << ": " << path << " is damaged: " << e.what() << "\n";
    } catch (const Failure& e) {
        err << kProgram << ": " << e.what() << "\n";
    } catch (const std::exception& e) {
        err << kProgram << ": " << path << ": " << e.what() << "\n";
    }
    return 1;
}

int RunConfigTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const Options options = ParseOptions(argc, argv);
        if (!options.list.empty()) {
            return ListTransformationFile(options.list, out, err);
        }
        return WriteConfig(options, out);
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
