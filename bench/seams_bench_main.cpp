// georef-seams-bench BUILDDIR WORKDIR DPI [EARLIER_SEAMS]
//
// The seam measurement on twelve neighbouring sheets (three rows of four:
// 40571 40572 40581 40582 / 40573 40574 40583 40584 / 41571 41572 41581
// 41582) drawn from one continuous landscape at DPI, every condition of
// paper and scanner varied from each sheet's seed, tiles at the same DPI.
//
//  1. correct: exact corner files. Every seam must be measured, within one
//     scan pixel, and none suspect.
//  2. faults, in one batch, no two faulty sheets neighbours:
//       40574 drawn 5 scan pixels east of where it belongs;
//       41582 with a corner file one pixel row off (every y one higher);
//       40571 painted from 41581's scan and corners (a misnamed scan);
//       40582 turned upside down and painted with corners as if upright.
//     Each faulty sheet's seams are compared with its true shift (the
//     displaced and the row-off sheet) or must be suspect (the misnamed and
//     the turned one). The batch may refuse the misnamed and the turned
//     scan before painting them (it reads the title, and checks how the
//     corners fit): the bench says so, then paints them with georef alone
//     and records them as finished in the journal, as an earlier batch that
//     let them through would have, so that their seams are measured.
//  3. time: georef-seams over the whole directory against georef-batch's
//     time for the area (which includes its own measurement of the seams),
//     wall and CPU; the target is on CPU time, which a busy machine
//     disturbs less. With EARLIER_SEAMS (a georef-seams program of an
//     earlier build), that program measures the same directories right
//     after, for its time in the same run, and must write the same seams.csv.
//
// Prints one line per seam and the figures; exits 1 when a target is missed.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gdal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "batch/journal.hpp"
#include "batch/mosaic.hpp"
#include "raster/jpeg_window.hpp"
#include "seams/seam_survey.hpp"
#include "tools/config_tool.hpp"
#include "geometry/corner_file.hpp"
#include "synthesis/realistic_scan.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using georef::seams::SeamMeasurement;
using georef::seams::SeamStatus;

const std::vector<int> kArea = {40571, 40572, 40581, 40582, 40573, 40574, 40583, 40584, 41571, 41572, 41581, 41582};
constexpr std::uint64_t kLandscape = 7;
constexpr int kDisplaced = 40574;
constexpr int kRowOff = 41582;
constexpr int kMisnamed = 40571;
constexpr int kMisnamedFrom = 41581;
constexpr int kTurned = 40582;

std::string g_build;
std::string g_earlier;  // an earlier build's georef-seams, or empty

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

georef::synthesis::RealisticScanOptions Options(int sheet, double dpi) {
    georef::synthesis::RealisticScanOptions o = georef::synthesis::VariedRealisticOptions(static_cast<std::uint64_t>(sheet));
    o.dpi = dpi;
    o.landscape = kLandscape;
    o.decoy = std::nullopt;
    // A bowed sheet's content lies off its corners by up to the bow in the
    // middle of a side: the seams would measure that, truly, but it is no
    // fault of the placement these targets are about.
    o.bowPixels = 0.0;
    return o;
}

// The scan turned half round, written as JPEG, and the corner file a finder
// that believes it upright would give: the image's lower left corner as LD.
void WriteTurned(const std::string& tif, const std::string& jpg, const std::string& cornerFile,
                 const georef::synthesis::RealisticScan& scan) {
    GDALDatasetH in = GDALOpen(tif.c_str(), GA_ReadOnly);
    const int w = GDALGetRasterXSize(in), h = GDALGetRasterYSize(in);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    if (GDALDatasetRasterIO(in, GF_Read, 0, 0, w, h, rgb.data(), w, h, GDT_Byte, 3, nullptr, 3, 3 * w, 1) != CE_None) {
        throw std::runtime_error("cannot read " + tif);
    }
    GDALClose(in);
    const std::size_t n = static_cast<std::size_t>(w) * h;
    for (std::size_t k = 0; k < n / 2; ++k) {
        for (int c = 0; c < 3; ++c) {
            std::swap(rgb[3 * k + c], rgb[3 * (n - 1 - k) + c]);
        }
    }
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", w, h, 3, GDT_Byte, nullptr);
    if (GDALDatasetRasterIO(mem, GF_Write, 0, 0, w, h, rgb.data(), w, h, GDT_Byte, 3, nullptr, 3, 3 * w, 1) != CE_None) {
        throw std::runtime_error("cannot hold the turned scan");
    }
    GDALClose(GDALCreateCopy(GDALGetDriverByName("JPEG"), jpg.c_str(), mem, FALSE, nullptr, nullptr, nullptr));
    GDALClose(mem);
    fs::remove(tif);
    // (x, y) -> (w - 2 - x, h - 2 - y); LD takes PH's place and so on round.
    georef::geometry::CornerPoints turned{};
    for (int k = 0; k < 4; ++k) {
        const georef::geometry::CornerPoint& from = scan.corners[(k + 2) % 4];
        turned[k] = {k + 1, w - 2.0 - from.x, h - 2.0 - from.y};
    }
    georef::geometry::WriteCornerFile(cornerFile, turned, georef::geometry::CornerPrecision::exact);
}

void DrawArea(const std::string& dir, double dpi, bool faults) {
    fs::create_directories(dir);
    const double metresPerPixel = 635.0 / dpi;
    for (const int sheet : kArea) {
        const std::string base = dir + "/" + std::to_string(sheet);
        georef::synthesis::RealisticScanOptions o = Options(sheet, dpi);
        if (faults && sheet == kDisplaced) {
            o.shiftEastMetres = 5.0 * metresPerPixel;
        }
        if (faults && sheet == kMisnamed) {
            o = Options(kMisnamedFrom, dpi);
            o.seed = kMisnamedFrom;
        }
        const int drawn = faults && sheet == kMisnamed ? kMisnamedFrom : sheet;
        if (faults && sheet == kTurned) {
            const georef::synthesis::RealisticScan scan = georef::synthesis::WriteRealisticScan(drawn, base + ".tif", o);
            WriteTurned(base + ".tif", base + ".jpg", base + ".txt", scan);
            continue;
        }
        georef::synthesis::RealisticScan scan = georef::synthesis::WriteRealisticScan(drawn, base + ".jpg", o);
        if (faults && sheet == kRowOff) {
            for (georef::geometry::CornerPoint& c : scan.corners) {
                c.y += 1.0;
            }
        }
        georef::geometry::WriteCornerFile(base + ".txt", scan.corners, georef::geometry::CornerPrecision::exact);
    }
}

// The true offset of a seam (neighbour's content from where the sheet's
// continues, metres along and across), from the shifts of both sheets in the
// nominal frame (east, north).
std::pair<double, double> TrueOffset(const SeamMeasurement& s, const std::map<int, std::pair<double, double>>& shift) {
    const auto of = [&](int sheet) {
        const auto found = shift.find(sheet);
        return found == shift.end() ? std::pair<double, double>{0.0, 0.0} : found->second;
    };
    const double de = of(s.neighbour).first - of(s.sheet).first;
    const double dn = of(s.neighbour).second - of(s.sheet).second;
    // Along a meridian is north, across it east; along a parallel east, across it south.
    return s.meridian ? std::pair<double, double>{dn, de} : std::pair<double, double>{de, -dn};
}

// CPU seconds (user + system) of all children waited for so far.
double ChildrenCpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The misnamed and the turned sheet, when the batch refused them, painted
// by georef alone and recorded as finished.
void PaintRefused(const std::string& dir, const std::string& tiles, int dpi) {
    bool painted = false;
    for (const int sheet : {kMisnamed, kTurned}) {
        const georef::batch::Journal journal = georef::batch::Journal::Load(tiles);
        const georef::batch::JournalEntry* entry = journal.Find(sheet);
        if (entry == nullptr || entry->status != georef::batch::SheetStatus::failed) {
            continue;
        }
        std::cout << "  the batch refused " << sheet << ": " << entry->message << "\n  painted with georef alone\n";
        const std::string base = dir + "/scans/" + std::to_string(sheet);
        if (Run("cd " + dir + " && " + g_build + "/georef " + std::to_string(sheet) + " " + base + ".txt " + base +
                ".jpg " + tiles + " " + std::to_string(dpi) + " > " + dir + "/georef-" + std::to_string(sheet) +
                ".txt 2>&1") != 0) {
            throw std::runtime_error("georef could not paint " + std::to_string(sheet));
        }
        georef::batch::JournalEntry done;
        done.status = georef::batch::SheetStatus::done;
        done.fingerprint = "painted by the bench";
        georef::batch::Journal::Record(tiles, dpi, sheet, done);
        painted = true;
    }
    if (painted) {
        const std::vector<georef::batch::TileName> names = georef::batch::ListTiles(tiles);
        georef::batch::WriteMosaic(tiles, georef::raster::ReadJpegSize(tiles + "/" + names.front().file).width);
    }
}

struct Outcome {
    double batchSeconds = 0.0;
    double seamsSeconds = 0.0;
    double batchCpu = 0.0;
    double seamsCpu = 0.0;
    double earlierCpu = 0.0;     // the earlier georef-seams on the same directory
    bool earlierSame = true;     // and its seams.csv the same bytes
    std::vector<SeamMeasurement> seams;
};

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

Outcome RunArea(const std::string& work, const std::string& name, double dpi, bool faults) {
    const std::string dir = work + "/" + name;
    fs::remove_all(dir);
    const std::string scans = dir + "/scans";
    std::cout << "drawing " << name << " at " << dpi << " dpi" << std::endl;
    DrawArea(scans, dpi, faults);
    std::vector<std::string> args = {"georef-config"};
    for (const int sheet : kArea) {
        args.push_back(std::to_string(sheet));
    }
    args.push_back("-o");
    args.push_back(dir + "/config.bin");
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream quiet;
    if (georef::tools::RunConfigTool(static_cast<int>(argv.size()), argv.data(), quiet, std::cerr) != 0) {
        throw std::runtime_error("georef-config failed");
    }
    const std::string tiles = dir + "/tiles";
    const std::string dpiText = std::to_string(static_cast<int>(dpi));
    Outcome outcome;
    double cpu = ChildrenCpuSeconds();
    Clock::time_point start = Clock::now();
    Run(g_build + "/georef-batch " + scans + " " + tiles + " " + dpiText + " --config " + dir + "/config.bin > " + dir +
        "/batch.txt 2>&1");
    outcome.batchSeconds = Seconds(start);
    outcome.batchCpu = ChildrenCpuSeconds() - cpu;
    if (faults) {
        PaintRefused(dir, tiles, static_cast<int>(dpi));
    }
    cpu = ChildrenCpuSeconds();
    start = Clock::now();
    if (Run(g_build + "/georef-seams " + tiles + " --config " + dir + "/config.bin > " + dir + "/seams.txt 2>&1") != 0) {
        throw std::runtime_error("georef-seams failed, see " + dir + "/seams.txt");
    }
    outcome.seamsSeconds = Seconds(start);
    outcome.seamsCpu = ChildrenCpuSeconds() - cpu;
    outcome.seams = georef::seams::ReadSeamsCsv(tiles + "/seams.csv");
    if (!g_earlier.empty()) {
        const std::string ours = FileBytes(tiles + "/seams.csv");
        cpu = ChildrenCpuSeconds();
        if (Run(g_earlier + " " + tiles + " --config " + dir + "/config.bin > " + dir + "/seams-earlier.txt 2>&1") != 0) {
            throw std::runtime_error("the earlier georef-seams failed, see " + dir + "/seams-earlier.txt");
        }
        outcome.earlierCpu = ChildrenCpuSeconds() - cpu;
        outcome.earlierSame = FileBytes(tiles + "/seams.csv") == ours;
    }
    return outcome;
}

std::string Figure(const std::optional<double>& v) {
    char text[32];
    std::snprintf(text, sizeof(text), "%7.2f", v.value_or(NAN));
    return v ? text : "      -";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::cerr << "usage: georef-seams-bench BUILDDIR WORKDIR DPI [EARLIER_SEAMS]\n";
        return 2;
    }
    if (argc == 5) {
        g_earlier = fs::absolute(argv[4]).string();
    }
    g_build = fs::absolute(argv[1]).string();
    const std::string work = fs::absolute(argv[2]).string();
    const double dpi = std::atof(argv[3]);
    const double pixel = 635.0 / dpi;
    GDALAllRegister();
    bool missed = false;

    // 1. Correct sheets.
    const Outcome correct = RunArea(work, "correct-" + std::string(argv[3]), dpi, false);
    int measured = 0, suspect = 0;
    double worst = 0.0, sumSquares = 0.0;
    std::cout << "correct sheets, " << pixel << " m per scan pixel\n  seam          along  across   features status\n";
    for (const SeamMeasurement& s : correct.seams) {
        std::cout << "  " << s.sheet << "|" << s.neighbour << "  " << Figure(s.alongMetres) << " "
                  << Figure(s.acrossMetres) << "  " << s.features << "  " << georef::seams::SeamStatusName(s.status)
                  << "\n";
        if (s.status != SeamStatus::unmeasured) {
            ++measured;
        }
        suspect += s.status == SeamStatus::suspect;
        if (const std::optional<double> off = s.OffsetMetres()) {
            worst = std::max(worst, *off);
            sumSquares += *off * *off;
        }
    }
    std::printf("  %d seams, %d measured, %d suspect; largest offset %.2f m = %.2f px, RMS %.2f m\n",
                static_cast<int>(correct.seams.size()), measured, suspect, worst, worst / pixel,
                std::sqrt(sumSquares / std::max(1, measured)));
    missed |= measured != static_cast<int>(correct.seams.size()) || suspect != 0 || worst > pixel;
    std::printf("  time: batch %.1f s wall, %.1f s CPU; georef-seams %.2f s wall, %.2f s CPU: %.1f %% of the batch's "
                "wall time, %.1f %% of its CPU time\n",
                correct.batchSeconds, correct.batchCpu, correct.seamsSeconds, correct.seamsCpu,
                100.0 * correct.seamsSeconds / correct.batchSeconds, 100.0 * correct.seamsCpu / correct.batchCpu);
    missed |= correct.seamsCpu > 0.1 * correct.batchCpu;
    if (!g_earlier.empty()) {
        std::printf("  the earlier georef-seams on the same tiles: %.2f s CPU = %.1f %% of the batch's CPU time; this "
                    "one takes %.2f of its time; seams.csv %s\n",
                    correct.earlierCpu, 100.0 * correct.earlierCpu / correct.batchCpu,
                    correct.seamsCpu / correct.earlierCpu, correct.earlierSame ? "the same" : "DIFFERENT");
    }

    // 2. Faults.
    const Outcome faults = RunArea(work, "faults-" + std::string(argv[3]), dpi, true);
    const std::map<int, std::pair<double, double>> shifts = {{kDisplaced, {5.0 * pixel, 0.0}}, {kRowOff, {0.0, -pixel}}};
    std::cout << "faulty sheets\n  seam          along  across   (true along across)  features status\n";
    for (const SeamMeasurement& s : faults.seams) {
        const auto involves = [&](int sheet) { return s.sheet == sheet || s.neighbour == sheet; };
        const std::pair<double, double> truth = TrueOffset(s, shifts);
        std::string verdict;
        if (involves(kMisnamed) || involves(kTurned)) {
            verdict = s.status == SeamStatus::suspect ? "flagged" : "MISSED: not suspect";
        } else {
            const double alongError = s.alongMetres ? std::fabs(*s.alongMetres - truth.first) : INFINITY;
            const double acrossError = s.acrossMetres ? std::fabs(*s.acrossMetres - truth.second) : 0.0;
            const bool shiftBeyond = std::hypot(truth.first, truth.second) > 25.0;
            const bool flagged = s.status == SeamStatus::suspect;
            const bool good = std::max(alongError, acrossError) <= pixel && flagged == shiftBeyond;
            verdict = good ? "within 1 px" : "MISSED";
            char text[96];
            std::snprintf(text, sizeof(text), " (errors %.2f %.2f px)", alongError / pixel, acrossError / pixel);
            verdict += text;
        }
        missed |= verdict.rfind("MISSED", 0) == 0;
        std::printf("  %d|%d  %s %s  (%7.2f %7.2f)  %3d  %-10s %s\n", s.sheet, s.neighbour,
                    Figure(s.alongMetres).c_str(), Figure(s.acrossMetres).c_str(), truth.first, truth.second,
                    s.features, georef::seams::SeamStatusName(s.status), verdict.c_str());
    }
    if (!g_earlier.empty()) {
        std::printf("  the earlier georef-seams on the faulty sheets: %.2f s CPU against %.2f s; seams.csv %s\n",
                    faults.earlierCpu, faults.seamsCpu, faults.earlierSame ? "the same" : "DIFFERENT");
    }
    std::cout << (missed ? "some target missed\n" : "every target met\n");
    return missed ? 1 : 0;
}
