// georef-trust-bench BUILDDIR WORKDIR [--twelve] [--no-varied] [--rounds N]
//
// The batch's trust targets on four neighbouring sheets (40571 to 40574)
// drawn as realistic 300-dpi scans with their exact corner files:
//
//  1. CPU seconds per sheet, --jobs 1, measured in one run: georef alone
//     with the exact corner files; georef-corners alone; georef-batch with the
//     corner files; georef-batch without them (the corner finder, the corner
//     pictures and the review page). Target: batch without corner files at
//     most 1.25 x georef alone. The four run one after another in each of
//     N rounds (--rounds, 3 unless told), and the median of each is compared.
//  2. The same batch again after the scan folder was renamed: every sheet
//     skipped; seconds per sheet (target under 0.05).
//  3. Sheets marked done with wrong pixels over a varied set: a corner file
//     with y from the top, one with one corner from the top, a rescan with an
//     older date than the scan it replaces, the renamed folder, a list file
//     with quoted names, a subfolder, a damaged scan; and a control of
//     correct sheets that must all be done. A done sheet is wrong when its
//     tiles differ from georef's with the exact corners (a tile is wrong when
//     more than 1 % of its pixels differ by more than 24 levels).
//  4. With --twelve: twelve neighbouring sheets by georef-batch --jobs 2
//     (corners found) against georef-corners and georef run per sheet one
//     after another; target at most 0.8 x the wall time.
//
// --no-varied leaves out 3. The machine is shared: read the ratios within
// one run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_area.hpp"
#include "geometry/corner_file.hpp"
#include "synthesis/realistic_scan.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::vector<std::string> kCell = {"40571", "40572", "40573", "40574"};
const std::vector<std::string> kTwelve = {"40571", "40572", "40581", "40582", "40573", "40574",
                                          "40583", "40584", "41571", "41572", "41581", "41582"};
constexpr double kScanDpi = 300.0;
constexpr int kTileDpi = 300;
constexpr int kCheckDpi = 100;  // tiles of the varied set: smaller, the same questions
constexpr int kDifferentLevels = 24;
constexpr double kWrongShare = 0.01;

std::string g_build;
std::string g_work;

// Runs program in the work directory, output discarded; the exit status.
int Run(const std::string& program, const std::vector<std::string>& args) {
    return georef::bench::WaitProgram(georef::bench::StartProgram(g_build + "/" + program, args, g_work));
}

// Wall and CPU seconds of what f runs.
struct Cost {
    double wall = 0.0;
    double cpu = 0.0;
};
template <typename F>
Cost Measure(F f) {
    const double cpu = georef::bench::ChildrenCpuSeconds();
    const Clock::time_point start = Clock::now();
    f();
    return Cost{std::chrono::duration<double>(Clock::now() - start).count(), georef::bench::ChildrenCpuSeconds() - cpu};
}

std::string W(const std::string& name) { return g_work + "/" + name; }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2.0;
}

void Fresh(const std::string& directory) {
    fs::remove_all(directory);
    fs::create_directories(directory);
}

// Whether the tiles of directory equal those of reference (every tile of
// reference present, none with more than kWrongShare of its pixels off).
bool SameTiles(const std::string& reference, const std::string& directory) {
    for (const auto& entry : fs::directory_iterator(reference)) {
        if (entry.path().extension() != ".jpg") {
            continue;
        }
        const std::string other = directory + "/" + entry.path().filename().string();
        if (!fs::exists(other)) {
            return false;
        }
        const std::optional<double> off =
            georef::bench::ShareOfPixelsOff(entry.path().string(), other, kDifferentLevels);
        if (!off || *off > kWrongShare) {
            return false;
        }
    }
    return true;
}

georef::geometry::CornerPoints Corners(const std::string& path) {
    std::ifstream in(path);
    return *georef::geometry::ReadCornerPoints(in);
}

// A realistic scan of the sheet with its exact corner file beside it, drawn once.
georef::synthesis::RealisticScan Draw(const std::string& sheet, const std::string& directory, std::uint64_t seed,
                                      double rotation = 0.8) {
    fs::create_directories(directory);
    georef::synthesis::RealisticScanOptions options = georef::synthesis::VariedRealisticOptions(seed);
    options.dpi = kScanDpi;
    options.rotationDegrees = rotation;
    return georef::bench::DrawSheet(std::stoi(sheet), directory + "/" + sheet + ".jpg", directory + "/" + sheet + ".txt",
                                    options);
}

// Copies the scans (and, with corners, the corner files) of sheets into directory.
void CopyScans(const std::vector<std::string>& sheets, const std::string& directory, bool corners) {
    Fresh(directory);
    for (const std::string& sheet : sheets) {
        fs::copy_file(W("drawn/" + sheet + ".jpg"), directory + "/" + sheet + ".jpg");
        if (corners) {
            fs::copy_file(W("drawn/" + sheet + ".txt"), directory + "/" + sheet + ".txt");
        }
    }
}

std::vector<std::string> BatchArgs(const std::string& scans, const std::string& out, int dpi, int jobs) {
    return {scans, out, std::to_string(dpi), "--jobs", std::to_string(jobs)};
}

// The reference of one sheet: georef with its exact corners, alone in a directory.
std::string Reference(const std::string& sheet, const std::string& directory, int dpi) {
    const std::string out = W("reference-" + sheet + "-" + fs::path(directory).filename().string());
    Fresh(out);
    Run("georef", {sheet, directory + "/" + sheet + ".txt", directory + "/" + sheet + ".jpg", out,
                   std::to_string(dpi)});
    return out;
}

struct Tally {
    int done = 0;
    int wrongDone = 0;
    int refused = 0;
    int controlsFailed = 0;
};

// Checks the sheet of a scenario: done only with right pixels.
void Judge(Tally& tally, const std::string& scenario, const std::string& out, const std::string& sheet,
           const std::string& reference, bool mustBeDone) {
    const std::string status = georef::bench::SummaryStatuses(out)[sheet];
    const bool done = status == "done" || status == "skipped";
    const bool right = done && SameTiles(reference, out);
    tally.done += done ? 1 : 0;
    tally.wrongDone += done && !right ? 1 : 0;
    tally.refused += done ? 0 : 1;
    tally.controlsFailed += mustBeDone && !right ? 1 : 0;
    std::cout << "  " << scenario << ": " << sheet << ' ' << status << (done ? (right ? ", right" : ", WRONG") : "")
              << (mustBeDone && !right ? "  (a control that should be done)" : "") << std::endl;
}

void VariedSet() {
    std::cout << "varied set (tiles at " << kCheckDpi << " dpi):" << std::endl;
    Tally tally;
    const std::string dpi = std::to_string(kCheckDpi);
    // Controls: the four sheets with their corner files, and found by the finder.
    for (const bool corners : {true, false}) {
        const std::string scans = W(corners ? "v-control-files" : "v-control-found");
        CopyScans(kCell, scans, corners);
        const std::string out = W(corners ? "v-out-files" : "v-out-found");
        Fresh(out);
        Run("georef-batch", BatchArgs(scans, out, kCheckDpi, 2));
        for (const std::string& sheet : kCell) {
            const std::string reference = Reference(sheet, W("drawn"), kCheckDpi);
            const std::string alone = W("v-alone-" + sheet);
            Fresh(alone);
            // The batch's tiles hold the neighbours too: compare a batch of the one sheet.
            CopyScans({sheet}, alone + "-scans", corners);
            Run("georef-batch", BatchArgs(alone + "-scans", alone, kCheckDpi, 1));
            Judge(tally, corners ? "control, corner files" : "control, corners found", alone, sheet, reference, true);
        }
    }
    const auto one = [&](const std::string& scenario, const std::string& sheet, auto prepare,
                         std::vector<std::string> extra = {}) {
        const std::string scans = W("v-" + sheet + "-scans");
        const std::string out = W("v-" + sheet + "-out");
        Fresh(out);
        CopyScans({sheet}, scans, true);
        const std::string reference = prepare(scans, out);
        std::vector<std::string> args = BatchArgs(scans, out, kCheckDpi, 1);
        args.insert(args.end(), extra.begin(), extra.end());
        Run("georef-batch", args);
        Judge(tally, scenario, out, sheet, reference, false);
    };
    one("y counted from the top", "40571", [&](const std::string& scans, const std::string&) {
        int w = 0, h = 0;
        georef::bench::DecodeJpeg(scans + "/40571.jpg", w, h);
        georef::geometry::CornerPoints c = Corners(scans + "/40571.txt");
        for (auto& p : c) {
            p.y = h - 2.0 - p.y;
        }
        georef::geometry::WriteCornerFile(scans + "/40571.txt", c, georef::geometry::CornerPrecision::exact);
        return Reference("40571", W("drawn"), kCheckDpi);
    });
    one("one corner from the top", "40572", [&](const std::string& scans, const std::string&) {
        int w = 0, h = 0;
        georef::bench::DecodeJpeg(scans + "/40572.jpg", w, h);
        georef::geometry::CornerPoints c = Corners(scans + "/40572.txt");
        c[1].y = h - 2.0 - c[1].y;
        georef::geometry::WriteCornerFile(scans + "/40572.txt", c, georef::geometry::CornerPrecision::exact);
        return Reference("40572", W("drawn"), kCheckDpi);
    });
    one("damaged scan", "40574", [&](const std::string& scans, const std::string&) {
        const std::string path = scans + "/40574.jpg";
        fs::resize_file(path, fs::file_size(path) * 2 / 3);
        return Reference("40574", W("drawn"), kCheckDpi);
    });
    // A rescan dated before the first: the corners found on the first must not be used.
    {
        const std::string scans = W("v-rescan-scans");
        const std::string out = W("v-rescan-out");
        Fresh(out);
        CopyScans({"40573"}, scans, false);
        Run("georef-batch", BatchArgs(scans, out, kCheckDpi, 1));
        const fs::file_time_type first = fs::last_write_time(scans + "/40573.jpg");
        fs::copy_file(W("rescan/40573.jpg"), scans + "/40573.jpg", fs::copy_options::overwrite_existing);
        fs::last_write_time(scans + "/40573.jpg", first - std::chrono::hours(48));
        Run("georef-batch", BatchArgs(scans, out, kCheckDpi, 1));
        Judge(tally, "rescan with an older date", out, "40573", Reference("40573", W("rescan"), kCheckDpi), false);
        // The folder renamed, then a list file with quoted names, then a subfolder.
        fs::remove_all(W("v-rescan-scans 2023"));
        fs::rename(scans, W("v-rescan-scans 2023"));
        Run("georef-batch", BatchArgs(W("v-rescan-scans 2023"), out, kCheckDpi, 1));
        Judge(tally, "renamed folder", out, "40573", Reference("40573", W("rescan"), kCheckDpi), false);
        std::ofstream(W("list.txt")) << "40573 \"v-rescan-scans 2023/40573.jpg\"\n";
        Run("georef-batch", {"--list", W("list.txt"), out, dpi, "--jobs", "1", "--force"});
        Judge(tally, "list file, quoted name", out, "40573", Reference("40573", W("rescan"), kCheckDpi), false);
    }
    {
        const std::string scans = W("v-sub-scans");
        const std::string out = W("v-sub-out");
        Fresh(out);
        CopyScans({}, scans, false);
        fs::create_directories(scans + "/1880/north");
        fs::copy_file(W("drawn/40574.jpg"), scans + "/1880/north/40574.jpg");
        Run("georef-batch", BatchArgs(scans, out, kCheckDpi, 1));
        Judge(tally, "subfolder", out, "40574", Reference("40574", W("drawn"), kCheckDpi), false);
    }
    std::cout << "varied set: " << tally.done << " done or skipped, " << tally.refused << " refused; done with wrong pixels: "
              << tally.wrongDone << "; controls not done right: " << tally.controlsFailed << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: georef-trust-bench BUILDDIR WORKDIR [--twelve] [--no-varied] [--rounds N]\n";
        return 2;
    }
    g_build = fs::absolute(argv[1]).string();
    g_work = fs::absolute(argv[2]).string();
    bool twelve = false;
    bool varied = true;
    int rounds = 3;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        twelve = twelve || arg == "--twelve";
        varied = varied && arg != "--no-varied";
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        }
    }
    fs::create_directories(g_work);
    const std::vector<std::string>& sheets = twelve ? kTwelve : kCell;
    if (!fs::exists(W("drawn/complete"))) {
        Fresh(W("drawn"));
        std::uint64_t seed = 3;
        for (const std::string& sheet : kTwelve) {
            Draw(sheet, W("drawn"), seed++);
        }
        Draw("40573", W("rescan"), 41, 2.5);
        georef::bench::WriteAreaConfig(kTwelve, W("config.bin"));
        std::ofstream(W("drawn/complete")) << "\n";
    }

    // 1. CPU per sheet, --jobs 1: the four sides one after another in each
    // round, the median of the rounds for each side, so that a burst of load
    // from elsewhere falls on one round rather than on one side.
    const std::string tiles = std::to_string(kTileDpi);
    const double n = static_cast<double>(kCell.size());
    std::vector<double> alone, corners, withFiles, found;
    for (int round = 0; round < rounds; ++round) {
        Fresh(W("alone"));
        alone.push_back(Measure([&] {
                            for (const std::string& sheet : kCell) {
                                Run("georef", {sheet, "drawn/" + sheet + ".txt", "drawn/" + sheet + ".jpg",
                                               W("alone"), tiles});
                            }
                        }).cpu / n);
        corners.push_back(Measure([&] {
                              for (const std::string& sheet : kCell) {
                                  Run("georef-corners", {sheet, "drawn/" + sheet + ".jpg", W("corners-" + sheet + ".txt")});
                              }
                          }).cpu / n);
        CopyScans(kCell, W("with-files"), true);
        Fresh(W("batch-files"));
        withFiles.push_back(
            Measure([&] { Run("georef-batch", BatchArgs(W("with-files"), W("batch-files"), kTileDpi, 1)); }).cpu / n);
        CopyScans(kCell, W("archive"), false);
        Fresh(W("batch-found"));
        found.push_back(
            Measure([&] { Run("georef-batch", BatchArgs(W("archive"), W("batch-found"), kTileDpi, 1)); }).cpu / n);
        std::printf("round %d: CPU s per sheet: georef alone %.2f, georef-corners alone %.2f, batch with corner files "
                    "%.2f, batch finding corners %.2f (%.2f x)\n",
                    round + 1, alone.back(), corners.back(), withFiles.back(), found.back(), found.back() / alone.back());
    }
    std::printf("CPU s per sheet (--jobs 1, median of %d rounds): georef alone %.2f, georef-corners alone %.2f, batch "
                "with corner files %.2f (%.2f x), batch finding corners %.2f\n",
                rounds, Median(alone), Median(corners), Median(withFiles), Median(withFiles) / Median(alone),
                Median(found));
    std::printf("batch finding corners / georef alone: %.2f x (target 1.25)\n", Median(found) / Median(alone));
    // Load from elsewhere only ever adds CPU, so the least of the rounds is
    // each side's own cost; the ratio of the rounds' medians can swing with
    // one side's outliers, these two cannot as much.
    std::vector<double> ratios;
    for (std::size_t i = 0; i < found.size(); ++i) ratios.push_back(found[i] / alone[i]);
    std::printf("the same from the least CPU of the rounds: %.2f x; median of the rounds' ratios: %.2f x\n",
                *std::min_element(found.begin(), found.end()) / *std::min_element(alone.begin(), alone.end()),
                Median(ratios));

    // 2. The scan folder renamed: every sheet skipped.
    fs::remove_all(W("archive-2023"));
    fs::rename(W("archive"), W("archive-2023"));
    const Cost renamed = Measure([&] { Run("georef-batch", BatchArgs(W("archive-2023"), W("batch-found"), kTileDpi, 1)); });
    int skipped = 0;
    for (const auto& [sheet, status] : georef::bench::SummaryStatuses(W("batch-found"))) {
        skipped += status == "skipped" ? 1 : 0;
    }
    std::printf("renamed folder: %d of %zu skipped, %.3f s per sheet (target under 0.05)\n", skipped, kCell.size(),
                renamed.wall / n);

    // 3. The varied set.
    if (varied) {
        VariedSet();
    }

    // 4. Twelve sheets, --jobs 2, against the two programs one after another.
    if (twelve) {
        Fresh(W("twelve-sequential"));
        const Cost sequential = Measure([&] {
            for (const std::string& sheet : sheets) {
                Run("georef-corners", {sheet, "drawn/" + sheet + ".jpg", W("twelve-" + sheet + ".txt")});
                Run("georef", {sheet, W("twelve-" + sheet + ".txt"), "drawn/" + sheet + ".jpg", W("twelve-sequential"), tiles});
            }
        });
        CopyScans(sheets, W("twelve-scans"), false);
        Fresh(W("twelve-batch"));
        const Cost batch = Measure([&] { Run("georef-batch", BatchArgs(W("twelve-scans"), W("twelve-batch"), kTileDpi, 2)); });
        std::printf("twelve sheets: batch --jobs 2 %.1f s, georef-corners + georef one after another %.1f s: %.2f x "
                    "(target 0.8)\n",
                    batch.wall, sequential.wall, batch.wall / sequential.wall);
    }
    return 0;
}
