// The corner finder's accuracy over varied realistic scans, and its
// refusals of the impossible ones.
//
//   georef-corners-sweep [--count N] [--dpi D] [--first SEED] [--hard N] [--kind TEXT] [--hard-dpi D]
//                        [--keep DIR]
//
// With --keep the scans and their exact corner files stay in DIR, and a
// later run with the same DIR reuses them instead of drawing them again.
//
// Draws N scans of sheets around 40571 (every condition drawn from the seed:
// rotation, line and border, bed, grain, stains, folds, light, blur, JPEG
// quality, bowing, torn corners, a decoy road), finds their corners and
// compares each with the exact corner; then draws the scans a finder must
// refuse (each side cut off, a sheet drawn 4 % too small and too large, a
// blank page, a page of text). Prints one line per scan and a summary:
// median and worst corner error, the shares within 0.5 and 1.5 px, wrong
// files (a corner off by more than 4 px, accepted), refusals, time per scan.
// Then, with --hard N (default 5, 0 for none), N scans of each kind of hard
// sheet (a corner torn off over a lid and over a dark bed, within a tenth of
// the sides and up to about a third of them, a worn neat line,
// dense hatching at the corners with a road along a side, 150 dpi with the
// border merged, 120 dpi) and a summary line for each kind; --kind TEXT
// sweeps only the kinds whose name contains TEXT; --hard-dpi D (default 300)
// draws them at D dpi, but for the kinds of a resolution of their own.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <string>
#include <vector>

#include "corners/find_corners.hpp"
#include "synthesis/realistic_scan.hpp"

namespace {

using georef::synthesis::RealisticScanOptions;

struct Outcome {
    bool found = false;
    double worst = 0.0;  // px, when found
    double seconds = 0.0;
    std::string refusal;
};

Outcome Run(int sheet, const std::string& path, const RealisticScanOptions& options) {
    georef::synthesis::RealisticScan truth;
    const std::string exact = path + ".exact.txt";
    if (std::filesystem::exists(path) && std::filesystem::exists(exact)) {
        // Kept from an earlier run (--keep): the scan is not drawn again.
        std::ifstream in(exact);
        truth.corners = georef::geometry::ReadCornerPoints(in).value_or(georef::geometry::CornerPoints{});
    } else {
        truth = georef::synthesis::WriteRealisticScan(sheet, path, options);
        georef::geometry::WriteCornerFile(exact, truth.corners, georef::geometry::CornerPrecision::measured);
    }
    const auto start = std::chrono::steady_clock::now();
    const georef::corners::FindResult found = georef::corners::FindCorners(sheet, path);
    Outcome outcome;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.found = found.Found();
    outcome.refusal = found.refusal;
    if (found.Found()) {
        for (int k = 0; k < 4; ++k) {
            outcome.worst = std::max(outcome.worst, std::hypot((*found.corners)[k].x - truth.corners[k].x,
                                                               (*found.corners)[k].y - truth.corners[k].y));
        }
    }
    return outcome;
}

// The hard sheets, by kind: what each changes in the varied options.
struct HardKind {
    const char* name;
    void (*change)(RealisticScanOptions&, int seed);
};

const HardKind kHardKinds[] = {
    {"torn over lid",
     [](RealisticScanOptions& o, int seed) {
         o.bedMillimetres = 0.0;
         o.tornCorner = static_cast<georef::synthesis::SheetCorner>(1 + seed % 4);
         o.tearReach = 0.05 + 0.0175 * (seed % 5);
     }},
    {"torn over bed",
     [](RealisticScanOptions& o, int seed) {
         o.bedMillimetres = 8.0;
         o.tornCorner = static_cast<georef::synthesis::SheetCorner>(1 + seed % 4);
         o.tearReach = 0.05 + 0.0175 * (seed % 5);
     }},
    {"large tear lid",
     [](RealisticScanOptions& o, int seed) {
         o.bedMillimetres = 0.0;
         o.tornCorner = static_cast<georef::synthesis::SheetCorner>(1 + seed % 4);
         o.tearReach = 0.15 + 0.0375 * (seed % 5);
     }},
    {"large tear bed",
     [](RealisticScanOptions& o, int seed) {
         o.bedMillimetres = 8.0;
         o.tornCorner = static_cast<georef::synthesis::SheetCorner>(1 + seed % 4);
         o.tearReach = 0.15 + 0.0375 * (seed % 5);
     }},
    {"worn line", [](RealisticScanOptions& o, int) { o.wornShare = 0.2; }},
    {"hatched corners",
     [](RealisticScanOptions& o, int seed) {
         o.hatchedCorners = 2;
         o.decoy = static_cast<georef::geometry::Side>(seed % 4);
     }},
    {"150 dpi", [](RealisticScanOptions& o, int) { o.dpi = 150.0; }},
    {"120 dpi default", [](RealisticScanOptions& o, int seed) {
         o = RealisticScanOptions{};
         o.seed = static_cast<std::uint64_t>(seed);
         o.dpi = 120.0;
     }},
};

// Sweeps `count` scans of every hard kind; prints a line per scan and per
// kind. Returns the wrong corner files.
int SweepHardKinds(int count, const std::string& only, double dpi, const std::filesystem::path& dir,
                   bool removeScans) {
    const int sheets[4] = {40571, 40572, 40573, 40574};
    int wrongAll = 0;
    std::vector<std::string> summaries;
    for (const HardKind& kind : kHardKinds) {
        if (std::string(kind.name).find(only) == std::string::npos) {
            continue;
        }
        int found = 0, wrong = 0;
        double worst = 0.0;
        std::vector<double> errors;
        for (int n = 0; n < count; ++n) {
            const int seed = 200 + n;
            RealisticScanOptions options = georef::synthesis::VariedRealisticOptions(static_cast<std::uint64_t>(seed));
            options.dpi = dpi;
            kind.change(options, seed);
            std::string file = std::string(kind.name) + "-" + std::to_string(seed) + "-" +
                               std::to_string(static_cast<int>(options.dpi)) + ".jpg";
            std::replace(file.begin(), file.end(), ' ', '-');
            const std::string path = (dir / file).string();
            const Outcome o = Run(sheets[seed % 4], path, options);
            // The drawing's line, gap to the outer frame and border style, scan pixels.
            char drawn[120];
            const double toScan = options.dpi / 300.0;
            std::snprintf(drawn, sizeof drawn, "[line %.1f, gap %.1f, blur %.1f, %s]", options.neatLineWidth * toScan,
                          options.frameGap * toScan, options.blurPixels,
                          options.border == georef::synthesis::BorderStyle::filledMinutes ? "filled" : "ticks");
            if (o.found) {
                ++found;
                wrong += o.worst > 4.0;
                worst = std::max(worst, o.worst);
                errors.push_back(o.worst);
                std::printf("%-16s seed %3d %s found   worst corner %.3f px  %.2f s\n", kind.name, seed, drawn,
                            o.worst, o.seconds);
            } else {
                std::printf("%-16s seed %3d %s REFUSED %s  %.2f s\n", kind.name, seed, drawn, o.refusal.c_str(),
                            o.seconds);
            }
            std::fflush(stdout);
            if (removeScans) {
                std::filesystem::remove(path);
                std::filesystem::remove(path + ".exact.txt");
            }
        }
        std::sort(errors.begin(), errors.end());
        char line[200];
        std::snprintf(line, sizeof line, "%-16s found %d of %d, wrong %d, median %.3f px, worst %.3f px", kind.name,
                      found, count, wrong, errors.empty() ? 0.0 : errors[errors.size() / 2], worst);
        summaries.push_back(line);
        wrongAll += wrong;
    }
    std::printf("\n");
    for (const std::string& s : summaries) {
        std::printf("%s\n", s.c_str());
    }
    return wrongAll;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 30;
    double dpi = 300.0;
    int first = 1;
    int hard = 5;
    std::string keep;
    std::string only;
    double hardDpi = 300.0;
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string arg = argv[k];
        if (arg == "--count") {
            count = std::atoi(argv[k + 1]);
        } else if (arg == "--dpi") {
            dpi = std::atof(argv[k + 1]);
        } else if (arg == "--first") {
            first = std::atoi(argv[k + 1]);
        } else if (arg == "--hard") {
            hard = std::atoi(argv[k + 1]);
        } else if (arg == "--kind") {
            only = argv[k + 1];
        } else if (arg == "--hard-dpi") {
            hardDpi = std::atof(argv[k + 1]);
        } else if (arg == "--keep") {
            keep = argv[k + 1];
        }
    }
    const std::filesystem::path dir =
        keep.empty() ? std::filesystem::temp_directory_path() / ("georef-corners-sweep-" + std::to_string(::getpid()))
                     : std::filesystem::path(keep);
    std::filesystem::create_directories(dir);
    const int sheets[4] = {40571, 40572, 40573, 40574};
    std::vector<double> errors;  // worst corner per found scan
    std::vector<double> seconds;
    int refused = 0, wrong = 0;
    try {
        for (int seed = first; seed < first + count; ++seed) {
            RealisticScanOptions options = georef::synthesis::VariedRealisticOptions(static_cast<std::uint64_t>(seed));
            options.dpi = dpi;
            const int sheet = sheets[seed % 4];
            const std::string path = (dir / ("scan-" + std::to_string(seed) + ".jpg")).string();
            const Outcome o = Run(sheet, path, options);
            seconds.push_back(o.seconds);
            if (o.found) {
                errors.push_back(o.worst);
                wrong += o.worst > 4.0;
                std::printf("seed %3d sheet %d  found   worst corner %.3f px  %.2f s\n", seed, sheet, o.worst, o.seconds);
            } else {
                ++refused;
                std::printf("seed %3d sheet %d  REFUSED %s  %.2f s\n", seed, sheet, o.refusal.c_str(), o.seconds);
            }
            std::fflush(stdout);
            if (keep.empty()) {
                std::filesystem::remove(path);
                std::filesystem::remove(path + ".exact.txt");
            }
        }
        // The impossible scans.
        struct Impossible {
            const char* name;
            RealisticScanOptions options;
        };
        std::vector<Impossible> impossible;
        const char* sides[4] = {"west", "north", "east", "south"};
        for (int s = 0; s < 4; ++s) {
            RealisticScanOptions o = georef::synthesis::VariedRealisticOptions(100 + s);
            o.dpi = dpi;
            o.crop = static_cast<georef::geometry::Side>(s);
            impossible.push_back({sides[s], o});
        }
        for (const double scale : {0.96, 1.04}) {
            RealisticScanOptions o = georef::synthesis::VariedRealisticOptions(110);
            o.dpi = dpi;
            o.scale = scale;
            impossible.push_back({scale < 1.0 ? "drawn 4 % small" : "drawn 4 % large", o});
        }
        for (const auto page : {georef::synthesis::PageContent::blank, georef::synthesis::PageContent::text}) {
            RealisticScanOptions o = georef::synthesis::VariedRealisticOptions(120);
            o.dpi = dpi;
            o.page = page;
            impossible.push_back({page == georef::synthesis::PageContent::blank ? "blank page" : "page of text", o});
        }
        int impossibleAccepted = 0;
        for (std::size_t k = 0; k < impossible.size(); ++k) {
            const std::string path = (dir / ("impossible-" + std::to_string(k) + ".jpg")).string();
            const Outcome o = Run(40571, path, impossible[k].options);
            impossibleAccepted += o.found;
            std::printf("%-16s %s %s\n", impossible[k].name, o.found ? "ACCEPTED" : "refused:", o.refusal.c_str());
            std::fflush(stdout);
            if (keep.empty()) {
                std::filesystem::remove(path);
                std::filesystem::remove(path + ".exact.txt");
            }
        }
        std::sort(errors.begin(), errors.end());
        std::sort(seconds.begin(), seconds.end());
        const auto share = [&errors, count](double limit) {
            return 100.0 * static_cast<double>(std::count_if(errors.begin(), errors.end(),
                                                             [limit](double e) { return e <= limit; })) /
                   count;
        };
        std::printf("\nscans %d at %.0f dpi: found %zu, refused %d, wrong files %d\n", count, dpi, errors.size(), refused,
                    wrong);
        if (!errors.empty()) {
            std::printf("worst corner per scan: median %.3f px, worst %.3f px; within 0.5 px %.0f %%, within 1.5 px %.0f %%\n",
                        errors[errors.size() / 2], errors.back(), share(0.5), share(1.5));
        }
        if (!seconds.empty()) {
            std::printf("time per scan: median %.2f s, slowest %.2f s\n", seconds[seconds.size() / 2], seconds.back());
        }
        std::printf("impossible scans: %zu, accepted %d\n", impossible.size(), impossibleAccepted);
        const int hardWrong = SweepHardKinds(hard, only, hardDpi, dir, keep.empty());
        if (keep.empty()) {
            std::filesystem::remove_all(dir);
        }
        return wrong == 0 && hardWrong == 0 && impossibleAccepted == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "georef-corners-sweep: %s\n", e.what());
        return 1;
    }
}
