// Neighbouring sheets run by separate georef processes at the same time share
// tiles; the tile locks must make the result the same as one run after
// another, round after round.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
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
        std::vector<std::unique_ptr<test::ChildProcess>> runs;
        for (const std::string& sheet : kSheets) {
            const std::vector<std::string> args = {sheet, area.ScanDir() + "/" + sheet + ".txt",
                                                   area.ScanDir() + "/" + sheet + ".jpg", together,
                                                   std::to_string(kOutputDpi)};
            runs.push_back(std::make_unique<test::ChildProcess>(test::GeorefExe(), args, area.Dir()));
        }
        for (const std::unique_ptr<test::ChildProcess>& run : runs) {
            EXPECT_EQ(run->Wait().exitStatus, 0) << "round " << round;
        }
        const TileComparison comparison = CompareTiles(sequential, together);
        EXPECT_TRUE(comparison.onlyInOne.empty()) << "round " << round;
        EXPECT_LT(comparison.worstShare, kLostSheetShare) << "round " << round << ", tile " << comparison.worstTile;
    }
}

}  // namespace
}  // namespace georef::batch
