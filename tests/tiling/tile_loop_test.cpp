#include "tiling/tile_loop.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <iterator>
#include <utility>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"
#include "tiling/tile_lock.hpp"
#include "tiling/world_file.hpp"
#include "tiling_scene.hpp"

namespace georef::tiling {
namespace {

transform::BoundingBox Box(double minX, double maxX, double minY, double maxY) {
    transform::BoundingBox box;
    box.minX = minX;
    box.maxX = maxX;
    box.minY = minY;
    box.maxY = maxY;
    return box;
}

TEST(TileRange, RoundsDownToTheTenKilometreGridWithInclusiveBounds) {
    const struct {
        transform::BoundingBox box;
        int firstTileX, lastTileX, firstTileY, lastTileY;
    } cases[] = {
        // Five rows of tiles, the last only touched by the box.
        {Box(1043210.5, 1080000.0, 520000.0, 529999.0), 1040000, 1080000, 520000, 520000},
        // Inside one square: one tile.
        {Box(1041000.0, 1049999.9, 512345.0, 519000.0), 1040000, 1040000, 510000, 510000},
        // Reaching below zero keeps the strip there.
        {Box(-2500.0, 4000.0, -10000.0, -0.5), -10000, 0, -10000, -10000},
        // Clamped to the last tiles a 32-bit coordinate can name.
        {Box(2147000000.0, 1e300, -1e300, -2147000000.0), 2147000000, 2147470000, -2147480000, -2147000000},
    };
    for (const auto& c : cases) {
        const TileRange range = TileRangeOf(c.box);
        EXPECT_EQ(range.firstTileX, c.firstTileX);
        EXPECT_EQ(range.lastTileX, c.lastTileX);
        EXPECT_EQ(range.firstTileY, c.firstTileY);
        EXPECT_EQ(range.lastTileY, c.lastTileY);
        EXPECT_FALSE(range.Empty());
    }
}

TEST(TileRange, EmptyForABoundaryWithoutVerticesOrBeyondNameableTiles) {
    EXPECT_TRUE(TileRangeOf(transform::BoundingBox{}).Empty());
    EXPECT_TRUE(TileRangeOf(Box(3e9, 4e9, 0.0, 1.0)).Empty());
}

// The scene's sheet with a slanted boundary over four tiles of 40 pixels
// (250 m): tileX 1 040 000 and 1 050 000, tileY 510 000 and 520 000.
class TileLoopTest : public ::testing::Test {
protected:
    static constexpr int kTileSize = 40;

    TileLoopTest()
        : m_boundary(test::MakeBoundary(
              {{1043500.0, 513000.0}, {1044000.0, 529000.0}, {1056000.0, 528500.0}, {1055500.0, 513500.0}})),
          m_out(m_scene.Directory().File("out")) {
        std::filesystem::create_directory(m_out);
    }

    std::string Tile(int tileX, int tileY, const char* extension) const {
        return TileFileName(m_out, tileX, tileY, extension);
    }

    bool Run(std::ostream& log) const {
        return TileLoop(m_out, m_scene.Context(kTileSize, m_boundary), log, log);
    }

    static bool NearlyWhite(const test::Rgb& c) { return c.r >= 245 && c.g >= 245 && c.b >= 245; }

    test::TilingScene m_scene;
    transform::SheetBoundary m_boundary;
    std::string m_out;
    const std::vector<std::pair<int, int>> m_tiles{
        {1040000, 510000}, {1040000, 520000}, {1050000, 510000}, {1050000, 520000}};
};

// Another run holding the second tile: this run writes the first tile,
// then waits before it even writes the second tile's world file, and
// finishes once the lock is released.
TEST_F(TileLoopTest, WaitsForATileThatAnotherRunHoldsFromItsWorldFileOn) {
    std::optional<platform::RegionLock> held = LockTile(m_out, 1040000, 520000);
    ASSERT_TRUE(held.has_value());
    std::ostringstream log;
    std::atomic<bool> finished{false};
    std::thread run([&] {
        Run(log);
        finished = true;
    });
    for (int i = 0; i < 500 && !std::filesystem::exists(Tile(1040000, 510000, ".jpg")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(std::filesystem::exists(Tile(1040000, 510000, ".jpg")));
    EXPECT_FALSE(std::filesystem::exists(Tile(1040000, 520000, ".jgw")));
    EXPECT_FALSE(finished);

    held.reset();
    run.join();
    EXPECT_TRUE(std::filesystem::exists(Tile(1050000, 520000, ".jpg")));
    // Other tiles' locks are free again; the lock file stays.
    EXPECT_TRUE(LockTile(m_out, 1050000, 520000).has_value());
}

TEST_F(TileLoopTest, WritesEveryTileAndWorldFileOfTheBoundingBox) {
    std::ostringstream log;
    EXPECT_TRUE(Run(log));

    std::string expectedLog;
    for (const auto& [tileX, tileY] : m_tiles) {
        expectedLog += "zapisuji " + Tile(tileX, tileY, ".jpg") + "\n\n";
        for (int row = 0; row < kTileSize; ++row) {
            expectedLog += std::to_string(row) + "/40\r";
        }
        EXPECT_EQ(test::ReadFileBytes(Tile(tileX, tileY, ".jgw")), WorldFileText(250.0f, tileX, tileY));
        const test::JpegImage image = test::ReadJpeg(Tile(tileX, tileY, ".jpg"));
        EXPECT_EQ(image.width, kTileSize);
        EXPECT_EQ(image.height, kTileSize);
        EXPECT_EQ(image.luminance, test::LuminanceTableForQuality(70));
    }
    EXPECT_EQ(log.str(), expectedLog);
    // Four tiles, four world files and the tile lock file, which no run removes.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_out), std::filesystem::directory_iterator()), 9);
    EXPECT_TRUE(std::filesystem::is_regular_file(m_out + "/" + kTileLockFile));

    // South of the boundary (X > 1 056 000) a new tile stays white; inside it
    // the scan is painted.
    const test::JpegImage south = test::ReadJpeg(Tile(1050000, 510000, ".jpg"));
    EXPECT_TRUE(NearlyWhite(south.At(5, 36)));
    EXPECT_FALSE(NearlyWhite(south.At(20, 20)));
}

TEST_F(TileLoopTest, ReportsAWorldFileItCannotWriteAndStillWritesTheTile) {
    const std::string blocked = Tile(1040000, 520000, ".jgw");
    std::filesystem::create_directory(blocked);
    std::ostringstream log;
    EXPECT_FALSE(Run(log));

    const std::string image = Tile(1040000, 520000, ".jpg");
    EXPECT_NE(log.str().find("chyba vystupniho souboru " + blocked + "\nzapisuji " + image + "\n\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    EXPECT_EQ(test::ReadJpeg(image).width, kTileSize);
    EXPECT_EQ(test::ReadFileBytes(Tile(1050000, 520000, ".jgw")), WorldFileText(250.0f, 1050000, 520000));
}

TEST_F(TileLoopTest, ReportsATileItCannotWriteAndGoesOnWithTheNext) {
    const std::string blocked = Tile(1040000, 510000, ".jpg");
    std::filesystem::create_directory(blocked);
    std::ostringstream log;
    EXPECT_FALSE(Run(log));

    EXPECT_NE(log.str().find("zapisuji " + blocked + "\nchyba zapisu dlazdice " + blocked + "\nzapisuji " +
                             Tile(1040000, 520000, ".jpg") + "\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    for (const auto& [tileX, tileY] : m_tiles) {
        if (tileX == 1040000 && tileY == 510000) {
            continue;
        }
        EXPECT_EQ(test::ReadJpeg(Tile(tileX, tileY, ".jpg")).width, kTileSize);
    }
}

TEST_F(TileLoopTest, EmptyBoundaryVisitsNoTile) {
    const transform::SheetBoundary empty;
    std::ostringstream log;
    EXPECT_TRUE(TileLoop(m_out, m_scene.Context(kTileSize, empty), log, log));
    EXPECT_EQ(log.str(), "");
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}

TEST_F(TileLoopTest, RefusesAnUnusableTileSizeBeforeTouchingAnyFile) {
    for (const int tileSize : {0, -1, 26755}) {
        RunContext run = m_scene.Context(kTileSize, m_boundary);
        run.tileSize = tileSize;
        std::ostringstream log;
        EXPECT_THROW(TileLoop(m_out, run, log, log), std::invalid_argument);
        EXPECT_EQ(log.str(), "");
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}

}  // namespace
}  // namespace georef::tiling
