// A batch keeps the reduction of every tile it writes for its review page,
// made while the tile is painted, without changing a byte of the tile.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "area.hpp"
#include "driver/run.hpp"
#include "review/tile_reduction.hpp"
#include "support/in_process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "tools/batch_tool.hpp"

namespace georef::batch {
namespace {

namespace fs = std::filesystem;

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    return tools::RunBatchTool(argc, argv, out, err, false);
}

// One sheet of the area by the run, with or without a reducer watching.
std::map<std::string, std::string> RunSheet(const std::string& sheet, const std::string& out,
                                            review::TileReducer* reducer) {
    const Area& area = Area::Get();
    fs::create_directories(out);
    driver::SheetRequest request;
    request.sheet = sheet;
    request.cornerFile = area.ScanDir() + "/" + sheet + ".txt";
    request.scan = area.ScanDir() + "/" + sheet + ".jpg";
    request.outputDirectory = out;
    request.dpi = std::to_string(kOutputDpi);
    request.configFile = area.Config();
    request.renderThreads = 3;  // the rows are told by three threads at once
    request.tileWatcher = reducer;
    std::ostringstream messages;
    EXPECT_EQ(driver::RunSheet(request, messages, messages).exitStatus, 0) << messages.str();
    return TileBytes(out);
}

TEST(TileReductionBatch, EveryTileWrittenHasItsReductionAndTheTilesAreThoseOfTheRunAlone) {
    const test::TempDir dir;
    // The tiles do not depend on being watched, over a tile that existed
    // (decoded, painted over) and new ones.
    review::TileReducer reducer;
    RunSheet("40571", dir.File("watched"), &reducer);
    RunSheet("40571", dir.File("alone"), nullptr);
    const std::map<std::string, std::string> watched = RunSheet("40572", dir.File("watched"), &reducer);
    const std::map<std::string, std::string> alone = RunSheet("40572", dir.File("alone"), nullptr);
    EXPECT_EQ(watched, alone);
    EXPECT_GT(reducer.Kept(), static_cast<int>(watched.size()));  // the shared tiles twice
    EXPECT_FALSE(fs::exists(dir.File("alone/reduced")));

    // A batch of the four sheets, two at a time: each tile's reduction is
    // kept, for the tile as it finally is, and shows what the tile shows.
    Area::Get().CopyScansTo(dir.File("scans"));
    const test::ToolResult batch =
        test::RunInProcess(BatchMain, {"georef-batch", dir.File("scans"), dir.File("out"), std::to_string(kOutputDpi),
                                       "--jobs", "2", "--config", Area::Get().Config()});
    ASSERT_EQ(batch.status, 0) << batch.out << batch.err;
    const std::map<std::string, std::string> tiles = TileBytes(dir.File("out"));
    ASSERT_GT(tiles.size(), 4u);
    for (const auto& [name, bytes] : tiles) {
        const std::string tile = dir.File("out/" + name);
        const test::JpegImage image = test::ReadJpeg(tile);
        const std::optional<review::ReducedTile> kept = review::ReadKeptReduction(tile, image.width, image.height);
        ASSERT_TRUE(kept) << name;
        ASSERT_EQ(kept->width, (image.width + 7) / 8);
        // The kept means against the decoded tile's.
        double difference = 0.0;
        const auto mean = [&](int bx, int by, int channel) {
            double sum = 0.0;
            int n = 0;
            for (int r = by * 8; r < std::min(image.height, by * 8 + 8); ++r) {
                for (int c = bx * 8; c < std::min(image.width, bx * 8 + 8); ++c, ++n) {
                    const test::Rgb p = image.At(c, r);
                    sum += channel == 0 ? p.r : channel == 1 ? p.g : p.b;
                }
            }
            return sum / n;
        };
        for (int by = 0; by < kept->height; ++by) {
            for (int bx = 0; bx < kept->width; ++bx) {
                const std::uint8_t* k = &kept->rgb[(static_cast<std::size_t>(by) * kept->width + bx) * 3];
                for (int channel = 0; channel < 3; ++channel) {
                    difference += std::fabs(mean(bx, by, channel) - k[channel]);
                }
            }
        }
        // The tile's own JPEG loss and the kept copy's, averaged over blocks.
        EXPECT_LT(difference / (kept->width * kept->height * 3.0), 4.0) << name;
    }
}

}  // namespace
}  // namespace georef::batch
