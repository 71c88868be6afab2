// Neighbouring sheets run by separate georef processes at the same time share
// tiles; the tile locks must make the result the same as one run after
// another, round after round.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "area.hpp"

namespace georef::batch {
namespace {

TEST(ParallelRuns, NeighbouringSheetsAtOnceLoseNoSheet) {
    const Area& area = Area::Get();
    const test::TempDir dir;
    const std::string sequential = dir.File("sequential");
    RunSequentially(sequential);

    for (int round = 0; round < 2; ++round) {
        const std::string together = dir.File("together-" + std::to_string(round));
        std::filesystem::create_directory(together);
        std::vector<pid_t> runs;
        for (const std::string& sheet : kSheets) {
            runs.push_back(test::StartProcess(test::GeorefExe(),
                                        {sheet, area.ScanDir() + "/" + sheet + ".txt",
                                         area.ScanDir() + "/" + sheet + ".jpg", together,
                                         std::to_string(kOutputDpi)},
                                        area.Dir()));
        }
        for (pid_t run : runs) {
            EXPECT_EQ(test::WaitForProcess(run), 0) << "round " << round;
        }
        const TileComparison comparison = CompareTiles(sequential, together);
        EXPECT_TRUE(comparison.onlyInOne.empty()) << "round " << round;
        EXPECT_LT(comparison.worstShare, kLostSheetShare) << "round " << round << ", tile " << comparison.worstTile;
    }
}

}  // namespace
}  // namespace georef::batch
