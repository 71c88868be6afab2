#include "driver/run.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/run_parameters.hpp"
#include "geometry/corner_fit.hpp"
#include "geometry/corner_fit_report.hpp"
#include "geometry/matrix.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/failure.hpp"
#include "platform/file_system.hpp"
#include "raster/source_raster.hpp"
#include "raster/tile_image.hpp"
#include "tiling/run_context.hpp"
#include "tiling/tile_loop.hpp"
#include "transform/transformation_file.hpp"

namespace georef::driver {

namespace {

// The console texts of the run. Each ends where its value (if any) follows.
const std::array<const char*, 7> kUsage = {
    "program pro georeferencovani listu 3. vojenskeho mapovani  v meritku 1:25 000",
    "syntaxe : cislo_listu soubor_s_rohy_mapoveho_listu jmeno_transformovaneho_listu_img cesta_out dpi",
    "cislo_listu - ve formatu ccccc ",
    "soubor_s_rohy_mapoveho_listu - v poradi bodu LD LH PH PD, kazdy radek obsahuje cb x y v pixlech, "
    "orientace os x - vlevo y - nahoru",
    "jmeno_transformovaneho_listu_img - jpg nebo tif",
    "out cesta - jmeno  existujiciho adresare kam se ukladaji georeferencovane dlazdice",
    "dpi - rozliseni vystupu ",
};
// "chyba nelze otevřít " in the Windows-1250 code page: r-caron is F8, i-acute is ED.
const char* const kCannotOpen = "chyba nelze otev\xF8\xEDt ";
const char* const kNoConfig = "nenalezen soubor s transformacni matici config.bin";
const char* const kDamagedConfig = "poskozeny soubor s transformacni matici config.bin";
const char* const kSheetNotInIndex = "transformacni matice bohuzel neumoznuje transormovat list c ";
const char* const kBadImageName = "chyba vystupniho souboru ";
const char* const kOpening = "otviram ";
const char* const kDone = "program dobehl do konce";
const char* const kBadDpi = "chybne rozliseni dpi ";
const char* const kBadSheetNumber = "chybne cislo listu ";
const char* const kBadCornerFile = "chybny soubor s rohy mapoveho listu ";
const char* const kSingularFit = "chyba nelze spocitat transformaci z rohu mapoveho listu ";
const char* const kUnreadableImage = "chyba nelze nacist obraz ";
const char* const kOutOfMemory = "chyba nedostatek pameti";

// The parameters of one run, as the command line gives them.
struct CommandLine {
    std::int32_t sheetNumber = 0;
    std::string cornerFile;
    std::string imageName;
    std::string outputDirectory;
    int tileSize = 0;        // pixels per tile edge
    float pixelSize = 0.0f;  // metres per pixel edge
};

CommandLine ParseCommandLine(const SheetRequest& request) {
    CommandLine line;
    const long dpi = ParseDecimal(request.dpi.c_str());
    const std::optional<int> tileSize = CheckedTileSize(dpi);
    if (!tileSize) {
        throw Failure(std::string(kBadDpi) + request.dpi, ExitStatus::usage);
    }
    line.tileSize = *tileSize;
    line.pixelSize = PixelSizeFromTileSize(line.tileSize);
    line.sheetNumber = geometry::SheetNumberFromArgument(request.sheet.c_str());
    line.cornerFile = request.cornerFile;
    line.imageName = request.scan;
    line.outputDirectory = request.outputDirectory;
    return line;
}

geometry::CornerPoints ReadCorners(const std::string& name) {
    std::ifstream in(name);
    if (!in.is_open()) {
        throw Failure(kCannotOpen + name);
    }
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    if (!corners) {
        throw Failure(kBadCornerFile + name);
    }
    return *corners;
}

// The sheet's data from config.bin in the working directory.
struct SheetData {
    transform::SheetBoundary boundary;
    transform::TransformGrid grid;
};

transform::SheetIndexEntry FindSheet(transform::TransformationFile& file, std::int32_t sheetNumber) {
    try {
        const std::optional<transform::SheetIndexEntry> entry = file.FindSheet(sheetNumber);
        if (!entry) {
            throw Failure(kSheetNotInIndex + std::to_string(sheetNumber));
        }
        return *entry;
    } catch (const transform::DamagedFile&) {
        throw Failure(kDamagedConfig);
    }
}

SheetData ReadSheetData(transform::TransformationFile& file, const transform::SheetIndexEntry& entry) {
    try {
        transform::SheetBoundary boundary = file.ReadBoundary(entry);
        transform::TransformGrid grid = file.ReadGrid(entry);
        if (!grid.Covers(boundary.box)) {
            throw Failure(kDamagedConfig);
        }
        return SheetData{std::move(boundary), std::move(grid)};
    } catch (const transform::DamagedFile&) {
        throw Failure(kDamagedConfig);
    }
}

// The lines a run printed about why it did not complete, in order, and
// whether it had got to the tiles.
struct Problems {
    std::vector<std::string> lines;
    std::vector<std::string> englishLines;  // those of lines printed on err
    bool amongTiles = false;
};

// Says on err, in English like the other warnings, when the corner fit
// mirrors the scan or leaves a corner beyond georef-check's threshold: the
// run goes on as it always has, but the tiles will be wrong unless the scan
// really is mirrored or the threshold too strict for it.
void WarnOfDoubtfulFit(const geometry::CornerPoints& corners, std::int32_t sheetNumber, const std::string& cornerFile,
                       std::ostream& err) {
    const geometry::CornerFitReport fit = geometry::AnalyseCornerFit(corners, sheetNumber);
    char figures[200];
    std::snprintf(figures, sizeof figures, "fit RMS %.1f m, worst corner %.1f m, rotation %.1f degrees", fit.rmsMetres,
                  fit.WorstMetres(), fit.rotationDegrees);
    if (fit.Mirrored()) {
        err << "warning: " << cornerFile << ": the corners make a mirrored fit (y counted from the top?); "
            << figures << "; the tiles are painted mirrored" << std::endl;
    }
    if (!(fit.WorstMetres() <= geometry::kDefaultThreshold)) {
        char limit[80];
        std::snprintf(limit, sizeof limit, "; %.1f m allowed", geometry::kDefaultThreshold);
        err << "warning: " << cornerFile << ": a corner lies off the fit of the four (" << figures << limit
            << "); the tiles are painted distorted" << std::endl;
    }
}

// Loads the scan. Why a scan is refused, and that a scan is meant to be
// shown turned, goes to err, in English like the JPEG library's messages.
void LoadImage(raster::SourceRaster& source, const std::string& name, std::ostream& out, std::ostream& err,
               Problems& problems, const raster::SourceRaster* decoded) {
    if (!platform::Exists(name) || platform::IsDirectory(name)) {
        throw Failure(kBadImageName + name);
    }
    out << kOpening << name << std::endl;
    if (decoded == nullptr) {
        try {
            source.Open(name);
            source.ReadBands();
        } catch (const raster::RasterError& error) {
            problems.lines.push_back(name + ": " + error.what());
            problems.englishLines.push_back(problems.lines.back());
            err << problems.lines.back() << std::endl;
            throw Failure(kUnreadableImage + name);
        }
    }
    const int orientation = (decoded != nullptr ? *decoded : source).StoredOrientation();
    if (orientation > 1) {
        err << "warning: " << name << " states orientation " << orientation
            << " (to be shown flipped or turned); it is read as stored, so its corners must be measured "
               "in the stored orientation"
            << std::endl;
    }
}

// The run sequence: each step either completes or throws the Failure that
// ends the run. Returns the status of a run that got to its end.
ExitStatus RunSteps(const SheetRequest& request, std::ostream& out, std::ostream& err, tiling::TileTally& tally,
                    Problems& problems) {
    const CommandLine line = ParseCommandLine(request);

    // The corner fit: nominal = A * image + T. The sizes are the fit's to set.
    geometry::Matrix A(6, 6);
    geometry::Matrix T(6, 6);
    const geometry::CornerPoints corners = ReadCorners(line.cornerFile);
    if (!geometry::IsValidSheetNumber(line.sheetNumber)) {
        throw Failure(kBadSheetNumber + std::to_string(line.sheetNumber), ExitStatus::usage);
    }
    try {
        if (!geometry::FitCorners(corners, line.sheetNumber, A, T)) {
            return ExitStatus::failure;
        }
    } catch (const math::matrix_error&) {
        throw Failure(kSingularFit + line.cornerFile);
    }
    WarnOfDoubtfulFit(corners, line.sheetNumber, line.cornerFile, err);

    std::optional<transform::TransformationFile> config = transform::TransformationFile::Open(request.configFile);
    if (!config) {
        throw Failure(kNoConfig);
    }
    const transform::SheetIndexEntry entry = FindSheet(*config, line.sheetNumber);
    raster::SourceRaster source;
    const SheetData sheet = ReadSheetData(*config, entry);
    config.reset();

    LoadImage(source, line.imageName, out, err, problems, request.decodedScan);

    tiling::RunContext run;
    run.tileSize = line.tileSize;
    run.pixelSize = line.pixelSize;
    run.sheetNumber = line.sheetNumber;
    run.boundary = &sheet.boundary;
    run.grid = &sheet.grid;
    run.A = &A;
    run.T = &T;
    run.source = request.decodedScan != nullptr ? request.decodedScan : &source;
    run.threads = request.renderThreads;
    run.watcher = request.tileWatcher;
    problems.amongTiles = true;
    const bool allWritten = tiling::TileLoop(line.outputDirectory, run, out, err, &tally);

    source.Close();
    source.FreePlanes();
    out << kDone << std::endl;
    return allWritten ? ExitStatus::okay : ExitStatus::failure;
}

}  // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    if (argc != 6) {
        try {
            for (const char* usageLine : kUsage) {
                out << usageLine << std::endl;
            }
        } catch (...) {
        }
        return static_cast<int>(ExitStatus::usage);
    }
    try {
        SheetRequest request;
        request.sheet = argv[1];
        request.cornerFile = argv[2];
        request.scan = argv[3];
        request.outputDirectory = argv[4];
        request.dpi = argv[5];
        return RunSheet(request, out, err).exitStatus;
    } catch (const std::bad_alloc&) {
        out << kOutOfMemory << std::endl;
        return static_cast<int>(ExitStatus::failure);
    } catch (...) {
        return static_cast<int>(ExitStatus::failure);
    }
}

SheetOutcome RunSheet(const SheetRequest& request, std::ostream& out, std::ostream& err) noexcept {
    SheetOutcome outcome;
    tiling::TileTally tally;
    Problems problems;
    // The line the run stops on, printed on out (or on err for the JPEG library's).
    std::optional<std::string> last;
    const auto keep = [&last](const std::string& first, const char* second = "") noexcept {
        try {
            last = first + second;
        } catch (...) {  // memory ran out: the line was printed, the status says the rest
        }
    };
    try {
        outcome.exitStatus = static_cast<int>(RunSteps(request, out, err, tally, problems));
        outcome.kind = outcome.exitStatus == 0 ? OutcomeKind::completed : OutcomeKind::tiles;
    } catch (const Failure& failure) {
        out << failure.what() << std::endl;
        keep(failure.what());
        outcome.exitStatus = static_cast<int>(failure.Status());
        outcome.kind = failure.Status() == ExitStatus::usage ? OutcomeKind::commandLine : OutcomeKind::input;
    } catch (const raster::JpegError& error) {
        // The JPEG library's own message, where the library itself would print it.
        err << error.what() << std::endl;
        keep(error.what());
        try {
            problems.englishLines.push_back(error.what());
        } catch (...) {
        }
        outcome.exitStatus = static_cast<int>(ExitStatus::failure);
    } catch (const std::bad_alloc&) {
        out << kOutOfMemory << std::endl;
        keep(kOutOfMemory);
        outcome.exitStatus = static_cast<int>(ExitStatus::failure);
    } catch (const std::exception& error) {
        out << "chyba " << error.what() << std::endl;
        keep("chyba ", error.what());
        outcome.exitStatus = static_cast<int>(ExitStatus::failure);
    } catch (...) {
        keep("stopped on an unknown error");  // not printed: nothing says more
        outcome.exitStatus = static_cast<int>(ExitStatus::failure);
    }
    if (outcome.exitStatus != 0 && outcome.kind == OutcomeKind::stopped && !problems.amongTiles) {
        outcome.kind = OutcomeKind::input;
    }
    outcome.tilesWritten = tally.written;
    outcome.tilesFailed = tally.failed;
    try {
        std::vector<std::string>& lines = problems.lines;
        lines.insert(lines.end(), tally.problems.begin(), tally.problems.end());
        if (last) {
            lines.push_back(*last);
        }
        for (const std::string& line : lines) {
            outcome.message += (outcome.message.empty() ? "" : "; ") + line;
        }
        for (const std::string& line : problems.englishLines) {
            outcome.reason += (outcome.reason.empty() ? "" : "; ") + line;
        }
    } catch (...) {
        outcome.message.clear();  // memory ran out; the status still says the run failed
        outcome.reason.clear();
    }
    return outcome;
}

}  // namespace georef::driver
