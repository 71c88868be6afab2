#include "tools/publish_tool.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "batch/journal.hpp"
#include "platform/failure.hpp"
#include "platform/program_info.hpp"
#include "publish/area_footprint.hpp"
#include "publish/cog.hpp"
#include "publish/iiif_annotation.hpp"
#include "publish/publish_error.hpp"
#include "publish/published_sheets.hpp"
#include "publish/source_area.hpp"
#include "publish/viewer_page.hpp"
#include "publish/xyz_pyramid.hpp"

namespace georef::tools {

namespace {

constexpr const char* kProgram = "georef-publish";

const char* const kUsage =
    "usage: georef-publish OUTDIR [--cog FILE] [--xyz DIR] [--iiif DIR --iiif-base URL] [--quality Q] [--jobs N] "
    "[--config FILE] [--full]\n"
    "Publishes the tiles of OUTDIR (georef's or georef-batch's output directory):\n"
    "  --cog FILE       the mosaic as one Cloud Optimized GeoTIFF (EPSG:5514)\n"
    "  --xyz DIR        web map tiles (Z/X/Y, Web Mercator) with DIR/index.html, an\n"
    "                   offline viewer, and DIR/tiles.json; a second run redoes only\n"
    "                   the web tiles whose source tiles changed (--full: all of them)\n"
    "  --iiif DIR       IIIF Georeference Annotations of the journal's sheets, their\n"
    "                   scans served at --iiif-base URL/SCANFILE\n"
    "  --quality Q      JPEG quality of the COG and the web tiles, 1-100 (default 75)\n"
    "  --jobs N         worker threads (default: the number of processors)\n"
    "  --config FILE    the transformation file, for the sheet outlines (default ./config.bin)\n"
    "  -h, --help       print this text\n"
    "  --version        print the version\n";

struct Arguments {
    std::string outputDirectory;
    std::string cog;
    std::string xyz;
    std::string iiif;
    std::string iiifBase;
    std::string config = "config.bin";
    int quality = 75;
    int jobs = 1;
    bool full = false;
};

int WholeNumber(const std::string& option, const std::string& value, int low, int high) {
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number < low || number > high) {
        throw Failure(option + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                          ", not '" + value + "'",
                      ExitStatus::usage);
    }
    return static_cast<int>(number);
}

Arguments ParseArguments(int argc, const char* const* argv) {
    Arguments args;
    args.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    int positional = 0;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const auto value = [&]() -> std::string {
            if (k + 1 >= argc) {
                throw Failure(arg + " needs a value", ExitStatus::usage);
            }
            return argv[++k];
        };
        if (arg == "--cog") {
            args.cog = value();
        } else if (arg == "--xyz") {
            args.xyz = value();
        } else if (arg == "--iiif") {
            args.iiif = value();
        } else if (arg == "--iiif-base") {
            args.iiifBase = value();
        } else if (arg == "--config") {
            args.config = value();
        } else if (arg == "--quality") {
            args.quality = WholeNumber(arg, value(), 1, 100);
        } else if (arg == "--jobs") {
            args.jobs = WholeNumber(arg, value(), 1, 256);
        } else if (arg == "--full") {
            args.full = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Failure("unknown option " + arg, ExitStatus::usage);
        } else if (positional++ == 0) {
            args.outputDirectory = arg;
        } else {
            throw Failure("too many arguments: only one OUTDIR", ExitStatus::usage);
        }
    }
    if (args.outputDirectory.empty()) {
        throw Failure("expected the output directory OUTDIR", ExitStatus::usage);
    }
    if (args.cog.empty() && args.xyz.empty() && args.iiif.empty()) {
        throw Failure("nothing to publish: give --cog, --xyz or --iiif", ExitStatus::usage);
    }
    if (args.iiif.empty() != args.iiifBase.empty()) {
        throw Failure("--iiif and --iiif-base go together", ExitStatus::usage);
    }
    return args;
}

// "step  42%" rewritten in place on a terminal; nothing otherwise.
class ProgressLine {
public:
    ProgressLine(std::ostream& out, bool terminal) : m_out(out), m_terminal(terminal) {}

    publish::Progress Callback() {
        if (!m_terminal) {
            return {};
        }
        return [this](const std::string& step, double done) {
            std::lock_guard<std::mutex> lock(m_guard);
            const int percent = static_cast<int>(done * 100.0);
            if (step != m_step || percent != m_percent) {
                m_step = step;
                m_percent = percent;
                m_out << '\r' << step << ' ' << std::setw(3) << percent << '%' << std::flush;
            }
        };
    }

    void Clear() {
        if (m_terminal && !m_step.empty()) {
            m_out << "\r\033[K" << std::flush;
            m_step.clear();
        }
    }

private:
    std::ostream& m_out;
    bool m_terminal;
    std::mutex m_guard;
    std::string m_step;
    int m_percent = -1;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int RunPublishTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool terminal) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const Arguments args = ParseArguments(argc, argv);
        ProgressLine progress(out, terminal);
        int warnings = 0;
        const auto warn = [&](const std::string& text) {
            progress.Clear();
            err << kProgram << ": " << text << "\n";
            ++warnings;
        };
        try {
            const publish::SourceArea area = publish::OpenSourceArea(args.outputDirectory);
            out << area.tiles.size() << " tiles of " << area.tileSize << " pixels (" << std::fixed
                << std::setprecision(2) << area.PixelMetres() << " m) in " << args.outputDirectory << "\n";
            if (!args.cog.empty()) {
                const auto start = std::chrono::steady_clock::now();
                publish::WriteCog(area, args.cog, publish::CogOptions{args.quality, args.jobs}, progress.Callback());
                progress.Clear();
                out << "COG: " << args.cog << " (" << std::setprecision(1) << SecondsSince(start) << " s)\n";
            }
            if (!args.xyz.empty()) {
                const auto start = std::chrono::steady_clock::now();
                const publish::AreaFootprint footprint = publish::FootprintOf(area);
                publish::XyzOptions options;
                options.quality = args.quality;
                options.jobs = args.jobs;
                options.incremental = !args.full;
                const publish::XyzReport tiles =
                    publish::WriteWebTiles(area, footprint, args.xyz, options, progress.Callback());
                progress.Clear();
                publish::ViewerInput viewer;
                viewer.directory = args.xyz;
                viewer.configPath = args.config;
                const batch::Journal journal = batch::Journal::Load(args.outputDirectory);
                for (const auto& [sheet, entry] : journal.Entries()) {
                    if (entry.status == batch::SheetStatus::done) {
                        viewer.published.push_back(sheet);
                    }
                }
                const publish::ViewerReport page = publish::WriteViewer(viewer, tiles, footprint);
                for (const std::string& warning : page.warnings) {
                    err << kProgram << ": " << warning << "\n";
                }
                out << "web tiles: zooms " << tiles.zooms.min << "-" << tiles.zooms.max << ", " << tiles.tilesWritten
                    << " written, " << tiles.tilesRemoved << " removed";
                if (tiles.incremental) {
                    out << " (" << tiles.changedSourceTiles << " source tiles changed since the last run)";
                }
                out << " (" << std::setprecision(1) << SecondsSince(start) << " s)\n";
                out << "viewer: " << page.indexPath << " (" << page.outlines << " sheet outlines)\n";
            }
            if (!args.iiif.empty()) {
                const std::vector<publish::PublishedSheet> sheets =
                    publish::ReadPublishedSheets(args.outputDirectory);
                const publish::IiifReport iiif =
                    publish::WriteIiifAnnotations(sheets, args.iiif, args.iiifBase, progress.Callback());
                progress.Clear();
                for (const std::string& warning : iiif.warnings) {
                    warn(warning);
                }
                out << "IIIF: " << iiif.annotations << " annotations, page " << iiif.pagePath << "\n";
            }
        } catch (const publish::PublishError& error) {
            progress.Clear();
            throw Failure(error.what());
        }
        if (warnings > 0) {
            err << kProgram << ": " << warnings << " sheet(s) could not be annotated\n";
            return static_cast<int>(ExitStatus::failure);
        }
        return 0;
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
