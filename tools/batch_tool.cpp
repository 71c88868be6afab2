#include "tools/batch_tool.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_run.hpp"
#include "batch/content_key.hpp"
#include "batch/journal.hpp"
#include "batch/sheet_list.hpp"
#include "geometry/map_scale.hpp"
#include "platform/arguments.hpp"
#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"
#include "platform/file_system.hpp"
#include "platform/program_info.hpp"
#include "platform/temporary_files.hpp"
#include "review/review_page.hpp"
#include "seams/area_seams.hpp"

namespace georef::tools {

namespace {

using batch::BatchOptions;
using batch::BatchReport;
using batch::SheetResult;
using batch::SheetStatus;
using platform::UsageError;

const char* const kProgram = "georef-batch";
const char* const kUsage =
    "usage: georef-batch SCANDIR OUTDIR DPI [options]\n"
    "       georef-batch --list FILE OUTDIR DPI [options]\n"
    "Runs every sheet of SCANDIR and its subfolders (files named SHEET*.ext, e.g. 40571.jpg,\n"
    "40571_scan.tif) or of the list file (lines SHEET SCAN [CORNERFILE], names with blanks\n"
    "quoted or fields separated by tabs) into the tiles in OUTDIR. Every sheet's corners are\n"
    "checked before it is painted; OUTDIR/summary.csv and OUTDIR/review/index.html show\n"
    "every sheet run into OUTDIR with its latest result.\n"
    "options:\n"
    "  --jobs N        sheets run at once (default: one per core)\n"
    "  --corners DIR   corner files SHEET.txt in DIR (default: SHEET.txt next to the scan,\n"
    "                  else the corner finder's, kept in OUTDIR/corners/)\n"
    "  --exclude PATTERN  leave out the scans of SCANDIR whose path (from SCANDIR) or name\n"
    "                  matches the shell pattern, e.g. to choose between two scans of a sheet\n"
    "  --config FILE   the transformation file (default: ./config.bin)\n"
    "  --force         run every sheet again, also those finished from the same inputs,\n"
    "                  and find again the corners the corner finder found before\n"
    "  --accept-mirrored  paint scans whose corners make a mirrored fit (film scanned\n"
    "                  from its back); without it such a sheet fails\n"
    "  --shard K/N     run only the K-th of N disjoint shares of the sheets (K from 1 to N;\n"
    "                  0 names the N-th, for job arrays numbered from 0)\n"
    "  --seam-threshold METRES  a larger offset at a sheet's edge makes the seam suspect (default: 25)\n"
    "  -h, --help      print this text\n"
    "  --version       print the version\n";

// The review page's view of the batch: every sheet's result, the outlines
// from config.bin and the mosaic.
review::ReviewInput ReviewInputOf(const BatchOptions& options, const BatchReport& report,
                                  const std::vector<seams::SeamMeasurement>& seamTable) {
    review::ReviewInput input;
    input.configPath = options.configFile;
    input.outputDirectory = options.outputDirectory;
    input.mosaicPath = report.mosaicProblem.empty() && report.mosaicTiles > 0
                           ? platform::JoinPath(options.outputDirectory, "mosaic.vrt")
                           : "";
    input.title = "Review of the batch in " + options.outputDirectory;
    input.sheets = report.area;
    input.seamThresholdMetres = options.seamThresholdMetres;
    input.seams = seams::PageFigures(seamTable);
    return input;
}

// Measures the seams of the sheets this batch painted against every
// neighbour in the mosaic, keeps the other seams of an earlier seams.csv,
// marks each sheet with what its seams say and writes summary.csv again with
// that. Nothing for a shard (the mosaic is not whole yet). Returns the table
// of all seams; false in `written` (with the reason on err) when seams.csv
// cannot be written.
std::vector<seams::SeamMeasurement> MeasureSeams(const BatchOptions& options, BatchReport& report, bool& written,
                                                 std::ostream& out, std::ostream& err) {
    written = true;
    if (options.shardCount > 1) {
        out << "seams: not measured for a shard; run the batch once more without --shard to measure them\n";
        return {};
    }
    if (!report.mosaicProblem.empty()) {
        return {};
    }
    const auto start = std::chrono::steady_clock::now();
    seams::AreaSeamsRequest request;
    request.outputDirectory = options.outputDirectory;
    request.configPath = options.configFile;
    request.options.thresholdMetres = options.seamThresholdMetres;
    request.summaryCsv = report.summaryCsv;
    request.painted.emplace();
    for (const SheetResult& result : report.results) {
        if (result.status == SheetStatus::done) {
            request.painted->insert(std::atoi(result.sheet.c_str()));
        }
    }
    seams::AreaSeams measured;
    try {
        measured = seams::MeasureAreaSeams(request, report.area);
        seams::MarkSheets(measured.table, report.results);
    } catch (const std::exception& error) {
        err << kProgram << ": cannot measure the seams: " << error.what() << "\n";
        written = false;
        return measured.table;
    }
    if (measured.measured) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        out << '\n';
        seams::WriteSeamsReport(measured.table, out);
        out << "seams: " << measured.csvPath << " (measured in " << std::fixed << std::setprecision(1) << seconds
            << " s)\n"
            << std::defaultfloat;
    }
    return measured.table;
}

// What the review page is drawn from, as one digest: every sheet's record,
// its corner picture's and config.bin's file facts, the mosaic and the
// tiles' names, sizes and times. Equal digests draw equal pages.
std::string PageKey(const BatchOptions& options, const BatchReport& report, const std::string& mosaicPath,
                    const std::vector<seams::SeamMeasurement>& seamTable) {
    std::ostringstream text;
    text.precision(17);
    for (const SheetResult& r : report.area) {
        text << r.sheet << '|' << batch::StatusName(r.status) << '|' << r.message << '|' << r.earlier << '|'
             << r.tilesWritten << '|' << r.seconds << '|' << r.cornerPicture << '|'
             << batch::ScanFileStat(r.cornerPicture) << '|' << r.seams << '|';
        if (r.corners) {
            text << r.corners->rmsMetres << '|' << r.corners->worstMetres << '|' << r.corners->dpi << '|'
                 << r.corners->rotationDegrees;
        }
        text << '\n';
    }
    text << "config " << batch::ScanFileStat(options.configFile) << '\n';
    text << "seams " << options.seamThresholdMetres << '\n';
    for (const seams::SeamMeasurement& s : seamTable) {
        text << s.sheet << '|' << s.neighbour << '|' << s.alongMetres.value_or(NAN) << '|'
             << s.acrossMetres.value_or(NAN) << '|' << s.features << '|' << seams::SeamStatusName(s.status) << '\n';
    }
    text << "mosaic " << mosaicPath << ' ' << (mosaicPath.empty() ? "" : batch::ContentDigest(mosaicPath)) << '\n';
    std::vector<std::string> tiles;
    std::error_code error;
    for (std::filesystem::directory_iterator it(options.outputDirectory, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".jpg") {
            tiles.push_back(it->path().filename().string() + ' ' + batch::ScanFileStat(it->path().string()));
        }
    }
    std::sort(tiles.begin(), tiles.end());
    for (const std::string& tile : tiles) {
        text << tile << '\n';
    }
    return batch::BytesDigest(text.str());
}

// Writes the review page, unless the page in place was drawn from the same
// state; false (with the reason on err) when it cannot.
bool WriteReview(const BatchOptions& options, const BatchReport& report,
                 const std::vector<seams::SeamMeasurement>& seamTable, std::ostream& out, std::ostream& err) {
    if (options.shardCount > 1) {
        // Shards finish at different times; each would show only its share.
        out << "review: not written for a shard; run the batch once more without --shard (finished sheets "
               "are skipped) to write it\n";
        return true;
    }
    try {
        const review::ReviewInput input = ReviewInputOf(options, report, seamTable);
        const std::string reviewDirectory = platform::JoinPath(options.outputDirectory, "review");
        const std::string keyFile = platform::JoinPath(reviewDirectory, ".page-key");
        const std::string index = platform::JoinPath(reviewDirectory, "index.html");
        const std::string key = PageKey(options, report, input.mosaicPath, seamTable);
        // The key file: the key, then the warnings the page was drawn with.
        std::ifstream previous(keyFile);
        std::string previousKey;
        if (std::getline(previous, previousKey) && previousKey == key && platform::Exists(index)) {
            for (std::string warning; std::getline(previous, warning);) {
                err << kProgram << ": review page: " << warning << "\n";
            }
            out << "review: " << index << " (unchanged)\n";
            return true;
        }
        const review::ReviewPage page = review::WriteReviewPage(input);
        std::string keyText = key + "\n";
        for (const std::string& warning : page.warnings) {
            err << kProgram << ": review page: " << warning << "\n";
            keyText += warning + "\n";
        }
        try {
            platform::AtomicFile file(keyFile);
            std::fwrite(keyText.data(), 1, keyText.size(), file.Stream());
            file.Commit();
        } catch (const std::exception&) {
            // Without it the next batch draws the page again.
        }
        out << "review: " << page.indexPath << "\n";
        return true;
    } catch (const std::exception& error) {
        err << kProgram << ": cannot write the review page: " << error.what() << "\n";
        return false;
    }
}

// What page writers killed midway left in the output directory: the page's
// new or moved-aside directory (under the page writers' lock) and the page
// key's temporary (its writer takes no lock: only one older than this run).
void RemoveLeftoverPages(const std::string& outputDirectory, std::ostream& out) {
    platform::RemoveStaleTemporaries(platform::JoinPath(platform::JoinPath(outputDirectory, "review"), ".page-key"));
    if (const int removed = review::RemoveLeftoverPages(outputDirectory); removed > 0) {
        out << "removed " << removed << " unfinished review page" << (removed == 1 ? "" : "s")
            << " that killed runs left in " << outputDirectory << std::endl;
    }
}

// --shard K/N. K counts from 1 or from 0: 0/N is the same share as N/N, so
// a job array numbered 0..N-1 and one numbered 1..N both cover every share
// once, and a task given its own array index again runs the same share.
void ParseShard(const std::string& text, BatchOptions& options) {
    const std::string::size_type slash = text.find('/');
    const std::optional<int> shard = platform::ParseDigits(text.substr(0, slash));
    const std::optional<int> count =
        slash == std::string::npos ? std::nullopt : platform::ParsePositiveWhole(text.substr(slash + 1));
    if (!shard || !count || *shard > *count) {
        throw UsageError("--shard needs K/N with 0 <= K <= N (0 and N name the same share), not '" + text + "'");
    }
    options.shard = *shard == 0 ? *count : *shard;
    options.shardCount = *count;
}

BatchOptions ParseCommandLine(int argc, const char* const* argv, bool liveProgress) {
    BatchOptions options;
    options.liveProgress = liveProgress;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return platform::OptionValue(argc, argv, i); };
        if (arg == "--jobs") {
            const std::string text = value();
            const std::optional<int> jobs = platform::ParsePositiveWhole(text);
            if (!jobs) {
                throw UsageError("--jobs needs a whole number of at least 1, not '" + text + "'");
            }
            options.jobs = *jobs;
        } else if (arg == "--corners") {
            options.cornersDirectory = value();
        } else if (arg == "--config") {
            options.configFile = value();
        } else if (arg == "--list") {
            options.listFile = value();
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--exclude") {
            options.exclude.push_back(value());
        } else if (arg == "--accept-mirrored") {
            options.acceptMirrored = true;
        } else if (arg == "--shard") {
            ParseShard(value(), options);
        } else if (arg == "--seam-threshold") {
            const std::string text = value();
            const std::optional<double> metres = platform::ParseFiniteNumber(text);
            if (!metres || *metres <= 0.0) {
                throw UsageError("--seam-threshold needs a number of metres above 0, not '" + text + "'");
            }
            options.seamThresholdMetres = *metres;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    const std::size_t expected = options.listFile.empty() ? 3 : 2;
    if (positional.size() != expected) {
        throw UsageError(options.listFile.empty() ? "expected SCANDIR OUTDIR DPI"
                                                  : "expected OUTDIR DPI after --list FILE");
    }
    if (options.listFile.empty()) {
        options.scanDirectory = positional[0];
    }
    options.outputDirectory = positional[expected - 2];
    const std::string& dpi = positional[expected - 1];
    const std::optional<int> dpiValue = platform::ParsePositiveWhole(dpi);
    if (!dpiValue || *dpiValue > geometry::kLargestDpi) {
        throw UsageError("DPI must be a whole number from 1 to " + std::to_string(geometry::kLargestDpi) + ", not '" +
                         dpi + "'");
    }
    options.dpi = *dpiValue;
    return options;
}

}  // namespace

int RunBatchTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                 bool liveProgress) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const BatchOptions options = ParseCommandLine(argc, argv, liveProgress);
        RemoveLeftoverPages(options.outputDirectory, out);
        BatchReport report = batch::RunBatch(options, out);
        out << '\n';
        batch::WriteSummaryTable(report.results, out);
        batch::WriteAreaTotals(report.area, options.outputDirectory, out);
        if (report.mosaicProblem.empty() && report.mosaicTiles == 0) {
            out << "mosaic: none, no sheet has painted a tile into " << options.outputDirectory << " yet\n";
        } else if (report.mosaicProblem.empty()) {
            out << "mosaic: " << report.mosaicTiles << " tiles in " << options.outputDirectory << "/mosaic.vrt\n";
        } else {
            err << kProgram << ": cannot write the mosaic: " << report.mosaicProblem << "\n";
        }
        out << "summary: " << report.summaryCsv << std::endl;
        bool seamsWritten = true;
        const std::vector<seams::SeamMeasurement> seamTable = MeasureSeams(options, report, seamsWritten, out, err);
        const bool reviewWritten = WriteReview(options, report, seamTable, out, err);
        const int failed = batch::CountArea(report.area).failed;
        if (failed > 0 && options.shardCount == 1) {
            out << "to fix the " << failed << " failed sheets: georef-review " << options.outputDirectory
                << (options.configFile == "config.bin" ? std::string() : " --config " + options.configFile) << "\n";
        }
        out.flush();
        return static_cast<int>(report.AllSucceeded() && seamsWritten && reviewWritten ? ExitStatus::okay
                                                                                        : ExitStatus::failure);
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
