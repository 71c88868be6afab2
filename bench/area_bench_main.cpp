// georef-area-bench BUILDDIR WORKDIR [ROUNDS KILLS]
//
// The batch's three targets on an area of twelve neighbouring sheets (three
// rows of four: 40571 40572 40581 40582 / 40573 40574 40583 40584 / 41571
// 41572 41581 41582), scans drawn at 286 dpi (about 8500 x 6650 pixels, as
// bench/run-sheet), tiles at 300 dpi:
//
//  1. the twelve sheets run one after another by georef, and by georef-batch
//     --jobs 2, twice in turn (A B A B); wall times, their ratio, and how far
//     the batch's tiles are from georef's;
//  2. ROUNDS rounds (default 20) of the four sheets of cell 4057 run as four
//     separate georef processes at once, each round compared with the same
//     four run one after another: a round loses a sheet when a tile is
//     missing or more than 1 % of a tile's pixels differ by more than 24
//     levels (re-encoding in another order moves far fewer);
//  3. KILLS batches (default 5) killed with SIGKILL at a random moment,
//     restarted, killed again at a random moment, and completed; each
//     restart must skip every sheet the journal held at the kill, and the
//     final tiles must equal an uninterrupted batch's.
//
// Timings on a shared machine are noisy: read the ratios within one run.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/journal.hpp"
#include "bench/bench_area.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::vector<std::string> kArea = {"40571", "40572", "40581", "40582", "40573", "40574",
                                        "40583", "40584", "41571", "41572", "41581", "41582"};
const std::vector<std::string> kCell = {"40571", "40572", "40573", "40574"};
constexpr double kScanDpi = 286.0;
constexpr int kTileDpi = 300;
constexpr int kDifferentLevels = 24;
constexpr double kLostSheetShare = 0.01;

std::string g_build;
std::string g_work;

pid_t Start(const std::string& program, const std::vector<std::string>& args) {
    return georef::bench::StartProgram(program, args, g_work);
}

int Wait(pid_t pid) { return georef::bench::WaitProgram(pid); }

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Georef() { return g_build + "/georef"; }
std::string Batch() { return g_build + "/georef-batch"; }

void Fresh(const std::string& directory) {
    fs::remove_all(directory);
    fs::create_directories(directory);
}

int RunGeoref(const std::string& sheet, const std::string& out) {
    return Wait(Start(Georef(), {sheet, "scans/" + sheet + ".txt", "scans/" + sheet + ".jpg", out,
                                 std::to_string(kTileDpi)}));
}

std::vector<std::string> BatchArgs(const std::string& scans, const std::string& out) {
    return {scans, out, std::to_string(kTileDpi), "--jobs", "2"};
}

struct Comparison {
    int missing = 0;
    double worstShare = 0.0;
    bool Lost() const { return missing > 0 || worstShare > kLostSheetShare; }
};

Comparison Compare(const std::string& a, const std::string& b) {
    Comparison comparison;
    std::vector<std::string> namesA;
    std::vector<std::string> namesB;
    for (const auto& [dir, names] : {std::pair<std::string, std::vector<std::string>*>{a, &namesA}, {b, &namesB}}) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".jpg") {
                names->push_back(entry.path().filename().string());
            }
        }
        std::sort(names->begin(), names->end());
    }
    if (namesA != namesB) {
        comparison.missing = static_cast<int>(std::max(namesA.size(), namesB.size()) -
                                              std::min(namesA.size(), namesB.size())) + 1;
    }
    for (const std::string& name : namesA) {
        if (!fs::exists(b + "/" + name)) {
            continue;
        }
        const std::optional<double> off = georef::bench::ShareOfPixelsOff(a + "/" + name, b + "/" + name, kDifferentLevels);
        if (!off) {
            ++comparison.missing;
            continue;
        }
        comparison.worstShare = std::max(comparison.worstShare, *off);
    }
    return comparison;
}

void MakeArea() {
    fs::create_directories(g_work + "/scans");
    std::vector<std::string> missing;
    for (const std::string& sheet : kArea) {
        if (!fs::exists(g_work + "/scans/" + sheet + ".txt")) {
            missing.push_back(sheet);
        }
    }
    std::cout << "drawing " << missing.size() << " scans at " << kScanDpi << " dpi" << std::endl;
    std::vector<std::thread> painters;
    for (int part = 0; part < 2; ++part) {
        painters.emplace_back([&, part] {
            for (std::size_t i = static_cast<std::size_t>(part); i < missing.size(); i += 2) {
                georef::synthesis::DemoScanOptions options;
                options.dpi = kScanDpi;
                options.rotationDegrees = (i % 3 == 0) ? 0.4 : -0.3;
                const std::string base = g_work + "/scans/" + missing[i];
                georef::bench::DrawSheet(std::stoi(missing[i]), base + ".jpg", base + ".txt", options);
            }
        });
    }
    for (std::thread& painter : painters) {
        painter.join();
    }
    georef::bench::WriteAreaConfig(kArea, g_work + "/config.bin");
}

void BatchAgainstSequential() {
    std::cout << "\n== 1. twelve sheets: georef one after another vs georef-batch --jobs 2 ==" << std::endl;
    std::vector<double> ratios;
    for (int pair = 1; pair <= 2; ++pair) {
        Fresh(g_work + "/sequential");
        const double cpuBefore = georef::bench::ChildrenCpuSeconds();
        const Clock::time_point a = Clock::now();
        for (const std::string& sheet : kArea) {
            if (RunGeoref(sheet, "sequential") != 0) {
                throw std::runtime_error("georef failed on " + sheet);
            }
        }
        const double sequential = Seconds(a);
        const double sequentialCpu = georef::bench::ChildrenCpuSeconds() - cpuBefore;
        Fresh(g_work + "/batch");
        const Clock::time_point b = Clock::now();
        const int status = Wait(Start(Batch(), BatchArgs("scans", "batch")));
        const double batch = Seconds(b);
        const double batchCpu = georef::bench::ChildrenCpuSeconds() - cpuBefore - sequentialCpu;
        const Comparison comparison = Compare(g_work + "/sequential", g_work + "/batch");
        ratios.push_back(batch / sequential);
        std::printf("pair %d: sequential %.2f s, batch %.2f s (status %d), batch/sequential %.3f; "
                    "tiles missing %d, worst tile %.4f %% of pixels off by > %d levels\n",
                    pair, sequential, batch, status, batch / sequential, comparison.missing,
                    comparison.worstShare * 100.0, kDifferentLevels);
        // Cores kept busy: CPU seconds over wall seconds (at most 2 here).
        std::printf("cpu: sequential %.2f s (%.2f cores busy), batch %.2f s (%.2f cores busy)\n", sequentialCpu,
                    sequentialCpu / sequential, batchCpu, batchCpu / batch);
        std::printf("throughput: sequential %.2f sheets/min on 2 cores, batch %.2f sheets/min (%.2f per core)\n",
                    kArea.size() * 60.0 / sequential, kArea.size() * 60.0 / batch, kArea.size() * 30.0 / batch);
    }
    std::printf("batch_vs_sequential=%.3f,%.3f (target <= 0.8)\n", ratios[0], ratios[1]);
}

void RoundsOfFour(int rounds) {
    std::cout << "\n== 2. " << rounds << " rounds of four neighbouring georef processes at once ==" << std::endl;
    Fresh(g_work + "/cell-sequential");
    for (const std::string& sheet : kCell) {
        RunGeoref(sheet, "cell-sequential");
    }
    int lostRounds = 0;
    double worst = 0.0;
    for (int round = 1; round <= rounds; ++round) {
        Fresh(g_work + "/cell-round");
        std::vector<pid_t> runs;
        for (const std::string& sheet : kCell) {
            runs.push_back(Start(Georef(), {sheet, "scans/" + sheet + ".txt", "scans/" + sheet + ".jpg",
                                            "cell-round", std::to_string(kTileDpi)}));
        }
        int failures = 0;
        for (pid_t run : runs) {
            failures += Wait(run) != 0 ? 1 : 0;
        }
        const Comparison comparison = Compare(g_work + "/cell-sequential", g_work + "/cell-round");
        worst = std::max(worst, comparison.worstShare);
        if (comparison.Lost() || failures > 0) {
            ++lostRounds;
            std::printf("round %d: LOST (missing %d, worst %.4f %%, failed runs %d)\n", round, comparison.missing,
                        comparison.worstShare * 100.0, failures);
        }
    }
    std::printf("rounds_losing_a_sheet=%d of %d (worst tile %.4f %% of pixels off by > %d levels; target 0)\n",
                lostRounds, rounds, worst * 100.0, kDifferentLevels);
}

// Modification time of each journaled sheet's log: a sheet that runs again
// rewrites its log.
std::map<std::string, fs::file_time_type> JournaledLogs(const std::string& out) {
    const georef::batch::Journal journal = georef::batch::Journal::Load(out);
    std::map<std::string, fs::file_time_type> logs;
    for (const std::string& sheet : kArea) {
        if (journal.Find(std::stoi(sheet)) != nullptr) {
            logs[sheet] = fs::last_write_time(out + "/logs/" + sheet + ".log");
        }
    }
    return logs;
}

int RunAgain(const std::map<std::string, fs::file_time_type>& before, const std::string& out) {
    int again = 0;
    for (const auto& [sheet, time] : before) {
        again += fs::last_write_time(out + "/logs/" + sheet + ".log") != time ? 1 : 0;
    }
    return again;
}

void KillAndResume(int kills, double batchSeconds) {
    std::cout << "\n== 3. " << kills << " batches killed twice at random moments and resumed ==" << std::endl;
    Fresh(g_work + "/uninterrupted");
    Wait(Start(Batch(), BatchArgs("scans", "uninterrupted")));
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> moment(0.05, batchSeconds);
    const std::string out = g_work + "/killed";
    int rerun = 0;
    int wrongTiles = 0;
    for (int trial = 1; trial <= kills; ++trial) {
        Fresh(out);
        std::ostringstream line;
        line << "trial " << trial << ":";
        for (int kill = 0; kill < 2; ++kill) {
            const double after = moment(random);
            const std::map<std::string, fs::file_time_type> before = JournaledLogs(out);
            const pid_t batch = Start(Batch(), BatchArgs("scans", "killed"));
            std::this_thread::sleep_for(std::chrono::duration<double>(after));
            ::kill(batch, SIGKILL);
            Wait(batch);
            rerun += RunAgain(before, out);
            line << " killed at " << std::fixed << std::setprecision(2) << after << " s with "
                 << georef::batch::Journal::Load(out).Size() << " sheets finished;";
        }
        const std::map<std::string, fs::file_time_type> before = JournaledLogs(out);
        const int status = Wait(Start(Batch(), BatchArgs("scans", "killed")));
        rerun += RunAgain(before, out);
        int skipped = 0;
        for (const auto& [sheet, state] : georef::bench::SummaryStatuses(out)) {
            skipped += state == "skipped" ? 1 : 0;
        }
        const Comparison comparison = Compare(g_work + "/uninterrupted", out);
        wrongTiles += comparison.Lost() || status != 0 ? 1 : 0;
        std::printf("%s completed with status %d, %d sheets skipped; final tiles: missing %d, worst %.4f %%\n",
                    line.str().c_str(), status, skipped, comparison.missing, comparison.worstShare * 100.0);
    }
    std::printf("finished_sheets_run_twice=%d trials_with_wrong_tiles=%d of %d (targets 0, 0)\n", rerun, wrongTiles,
                kills);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: georef-area-bench BUILDDIR WORKDIR [ROUNDS KILLS]\n";
        return 2;
    }
    g_build = fs::absolute(argv[1]).string();
    g_work = fs::absolute(argv[2]).string();
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 20;
    const int kills = argc > 4 ? std::atoi(argv[4]) : 5;
    try {
        MakeArea();
        // A first batch warms the page cache and gives the span of the kill moments.
        const Clock::time_point start = Clock::now();
        Fresh(g_work + "/probe");
        Wait(Start(Batch(), BatchArgs("scans", "probe")));
        const double batchSeconds = Seconds(start);
        BatchAgainstSequential();
        if (rounds > 0) {
            RoundsOfFour(rounds);
        }
        if (kills > 0) {
            KillAndResume(kills, batchSeconds);
        }
    } catch (const std::exception& error) {
        std::cerr << "georef-area-bench: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
