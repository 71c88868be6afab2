// The corner finder on turned and misnamed scans: which way is up, and is
// this the named sheet.
//
//   georef-corners-identity [--count N] [--dpi D] [--first SEED] [--all-labels]
//
// Turned: N seeds, each drawn clean and worn (every condition from the
// seed), each turned by 0, 90, 180 and 270 degrees; a scan counts as right
// when it is found, its turn is the one drawn and every corner lies within
// 1.5 px of the exact one. Identity: N correctly named scans and N misnamed
// ones (a scan of a neighbouring sheet named as the one beside, above or
// across), in the four letterings; a correctly named scan refused for its
// identity is a false refusal, a misnamed one accepted whose title or
// labels were legible is a miss. Prints one line per scan and the figures:
// how often the title and each corner label were read. The labels are read
// as the programs read them, only where the title does not name the sheet;
// --all-labels reads every label, to tell how legible each one is.

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "corners/find_corners.hpp"
#include "corners/sheet_identity.hpp"
#include "corners/sheet_reading.hpp"
#include "synthesis/realistic_scan.hpp"

namespace {

using georef::synthesis::Lettering;
using georef::synthesis::RealisticScanOptions;

constexpr double kRightWithin = 1.5;  // pixels

double Worst(const georef::geometry::CornerPoints& a, const georef::geometry::CornerPoints& b) {
    double worst = 0.0;
    for (int k = 0; k < 4; ++k) {
        worst = std::max(worst, std::hypot(a[k].x - b[k].x, a[k].y - b[k].y));
    }
    return worst;
}

RealisticScanOptions Clean() {
    RealisticScanOptions o;
    o.grain = 0.0;
    o.stains = 0;
    o.folds = 0;
    o.lighting = 0.0;
    o.bowPixels = 0.0;
    o.rotationDegrees = 0.3;
    return o;
}

struct ReadCounts {
    int scans = 0;
    int title = 0;
    std::array<int, 4> longitude{};
    std::array<int, 4> latitude{};
    int anything = 0;
    int skipped = 0;  // the title named the sheet: labels not read

    void Add(const georef::corners::FindResult& found) {
        if (!found.reading.attempted) {
            return;
        }
        ++scans;
        title += found.reading.titleSheet.has_value();
        bool any = found.reading.titleSheet.has_value();
        for (std::size_t k = 0; k < 4; ++k) {
            longitude[k] += found.reading.longitude[k].has_value();
            latitude[k] += found.reading.latitude[k].has_value();
            any = any || found.reading.longitude[k] || found.reading.latitude[k];
        }
        anything += any;
        skipped += found.reading.labelsSkipped;
    }
    void Print(const char* what) const {
        const auto pc = [this](int n) { return scans > 0 ? 100.0 * n / scans : 0.0; };
        std::printf("%s: %d scans read; title %.0f %%; longitude LD %.0f LH %.0f PH %.0f PD %.0f %%; latitude LD %.0f "
                    "LH %.0f PH %.0f PD %.0f %%; something legible %.0f %%; labels not needed %.0f %%\n",
                    what, scans, pc(title), pc(longitude[0]), pc(longitude[1]), pc(longitude[2]), pc(longitude[3]),
                    pc(latitude[0]), pc(latitude[1]), pc(latitude[2]), pc(latitude[3]), pc(anything), pc(skipped));
    }
};

}  // namespace

int main(int argc, char** argv) {
    int count = 6;
    double dpi = 200.0;
    int first = 1;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--all-labels") {
            georef::corners::SetLabelReading(georef::corners::LabelReading::always);
            continue;
        }
        if (k + 1 >= argc) {
            break;
        }
        ++k;
        if (arg == "--count") {
            count = std::atoi(argv[k]);
        } else if (arg == "--dpi") {
            dpi = std::atof(argv[k]);
        } else if (arg == "--first") {
            first = std::atoi(argv[k]);
        }
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("georef-corners-identity-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "scan.jpg").string();
    const int sheets[4] = {40571, 40572, 40573, 40574};
    const Lettering styles[4] = {Lettering::plain, Lettering::serif, Lettering::italic, Lettering::smallCaps};
    int failures = 0;
    try {
        // Which way is up.
        std::array<std::array<int, 4>, 2> right{};  // [clean, worn][turn]
        std::array<std::array<int, 4>, 2> tried{};
        for (int seed = first; seed < first + count; ++seed) {
            for (int worn = 0; worn < 2; ++worn) {
                for (int t = 0; t < 4; ++t) {
                    RealisticScanOptions o =
                        worn ? georef::synthesis::VariedRealisticOptions(static_cast<std::uint64_t>(seed)) : Clean();
                    o.seed = static_cast<std::uint64_t>(seed);
                    o.dpi = dpi;
                    o.turnDegrees = 90 * t;
                    const int sheet = sheets[seed % 4];
                    const georef::synthesis::RealisticScan truth = georef::synthesis::WriteRealisticScan(sheet, path, o);
                    const georef::corners::FindResult found = georef::corners::FindCorners(sheet, path);
                    const bool ok = found.Found() && found.turnDegrees == o.turnDegrees &&
                                    Worst(*found.corners, truth.corners) <= kRightWithin;
                    const bool wrongFile = found.Found() && !ok;
                    ++tried[worn][t];
                    right[worn][t] += ok;
                    failures += wrongFile;
                    std::printf("turned %3d %s seed %3d sheet %d  %s%s\n", o.turnDegrees, worn ? "worn " : "clean", seed,
                                sheet, ok ? "right" : wrongFile ? "WRONG FILE" : "refused: ",
                                ok || wrongFile ? "" : found.refusal.c_str());
                    std::fflush(stdout);
                }
            }
        }
        // Is this the named sheet?
        ReadCounts named, misnamed;
        int falseRefusals = 0, namedCount = 0, misnamedCount = 0, caught = 0, legibleMissed = 0, otherRefusals = 0;
        for (int seed = first; seed < first + count; ++seed) {
            for (int wrong = 0; wrong < 2; ++wrong) {
                RealisticScanOptions o = georef::synthesis::VariedRealisticOptions(static_cast<std::uint64_t>(1000 + seed));
                o.dpi = dpi;
                o.lettering = styles[seed % 4];
                o.turnDegrees = seed % 3 == 0 ? 180 : 0;
                const int drawn = sheets[seed % 4];
                // The neighbour beside (same row), above or below (same
                // column) or across, by turns.
                const int quarter = drawn % 10;
                const int neighbour[3][4] = {{2, 1, 4, 3}, {3, 4, 1, 2}, {4, 3, 2, 1}};
                const int named_as = wrong ? drawn - quarter + neighbour[seed % 3][quarter - 1] : drawn;
                georef::synthesis::WriteRealisticScan(drawn, path, o);
                const georef::corners::FindResult found = georef::corners::FindCorners(named_as, path);
                const std::string lettering[4] = {"plain", "serif", "italic", "small caps"};
                const bool legible = found.reading.titleSheet.has_value() || found.identity.labelsRead >= 2;
                if (wrong) {
                    ++misnamedCount;
                    misnamed.Add(found);
                    caught += found.identity.contradicted;
                    legibleMissed += !found.identity.contradicted && legible;
                    failures += !found.identity.contradicted && legible;
                } else {
                    ++namedCount;
                    named.Add(found);
                    falseRefusals += found.identity.contradicted;
                    failures += found.identity.contradicted;
                    otherRefusals += !found.Found() && !found.identity.contradicted;
                }
                std::printf("%-9s %d as %d %-10s turn %3d  %s  %s\n", wrong ? "misnamed" : "named", drawn, named_as,
                            lettering[seed % 4].c_str(), o.turnDegrees,
                            found.Found() ? "accepted" : found.identity.contradicted ? "REFUSED (identity)" : "refused",
                            found.Found() ? georef::corners::DescribeReading(found.reading).c_str()
                                          : found.refusal.c_str());
                std::fflush(stdout);
            }
        }
        std::printf("\nturned scans at %.0f dpi, found and labelled right:\n", dpi);
        for (int worn = 0; worn < 2; ++worn) {
            std::printf("  %s: 0 deg %d/%d, 90 deg %d/%d, 180 deg %d/%d, 270 deg %d/%d\n", worn ? "worn " : "clean",
                        right[worn][0], tried[worn][0], right[worn][1], tried[worn][1], right[worn][2], tried[worn][2],
                        right[worn][3], tried[worn][3]);
        }
        std::printf("identity: misnamed %d, refused for identity %d, legible but accepted %d; correctly named %d, "
                    "false refusals %d, refused for other reasons %d\n",
                    misnamedCount, caught, legibleMissed, namedCount, falseRefusals, otherRefusals);
        named.Print("correctly named");
        misnamed.Print("misnamed");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "georef-corners-identity: %s\n", e.what());
        failures = 1;
    }
    std::filesystem::remove_all(dir);
    return failures == 0 ? 0 : 1;
}
