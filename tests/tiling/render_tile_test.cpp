#include "tiling/render_tile.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"
#include "tiling/span_kernel.hpp"
#include "tiling_scene.hpp"
#include "support/file_size_limit.hpp"

namespace georef::tiling {
namespace {

using transform::OutputPoint;
using Spans = std::vector<std::pair<int, int>>;

// Tile of 100 columns of 100 m whose column 0 lies at Y = 10 000.
constexpr int kTileSize = 100;
constexpr float kPixelSize = 100.0f;
constexpr int kYmax = 10000;

// The spans a row X paints, in painting order.
Spans PaintedSpans(const std::vector<OutputPoint>& vertices, double X) {
    std::vector<int> crossings;
    FindRowCrossings(vertices, X, kYmax, kPixelSize, crossings);
    SortCrossings(crossings);
    Spans spans;
    ForEachSpan(crossings, kTileSize, [&](int start, int end) { spans.emplace_back(start, end); });
    return spans;
}

// Axis-parallel rectangle in the output frame.
std::vector<OutputPoint> Rectangle(double minX, double maxX, double minY, double maxY) {
    return {{minX, minY}, {minX, maxY}, {maxX, maxY}, {maxX, minY}};
}

TEST(TilePixelPositions, AreSinglePrecisionAt300Dpi) {
    const float pixelSize = static_cast<float>(10000.0 / 4724);
    EXPECT_EQ(static_cast<double>(pixelSize), 2.1168501377105713);
    EXPECT_EQ(RowX(0, pixelSize, 1100000), 1100000.0);
    EXPECT_EQ(RowX(1, pixelSize, 1100000), 1100002.125);
    EXPECT_EQ(RowX(1000, pixelSize, 1100000), 1102116.875);
    EXPECT_EQ(ColumnY(1, pixelSize, 540000 + 10000), 549997.875);
}

TEST(RowCrossings, RowThroughTheTopVertexCrossesNothingAndTheBottomRowCrossesTwice) {
    const std::vector<OutputPoint> square = Rectangle(100.0, 500.0, 2000.0, 8000.0);
    std::vector<int> crossings{1, 2, 3};  // left over from an earlier row
    FindRowCrossings(square, 100.0, kYmax, kPixelSize, crossings);
    EXPECT_TRUE(crossings.empty());
    EXPECT_EQ(PaintedSpans(square, 500.0), (Spans{{20, 80}}));
}

TEST(RowCrossings, HorizontalEdgesAndARepeatedFirstVertexAddNoCrossing) {
    std::vector<OutputPoint> square = Rectangle(100.0, 500.0, 2000.0, 8000.0);
    std::vector<int> crossings;
    // In edge order: edge 0 is the closing edge from the last vertex.
    FindRowCrossings(square, 300.0, kYmax, kPixelSize, crossings);
    EXPECT_EQ(crossings, (std::vector<int>{80, 20}));

    square.push_back(square.front());
    FindRowCrossings(square, 300.0, kYmax, kPixelSize, crossings);
    EXPECT_EQ(crossings, (std::vector<int>{20, 80}));
    FindRowCrossings(square, 100.0, kYmax, kPixelSize, crossings);
    EXPECT_TRUE(crossings.empty());
}

TEST(RowCrossings, SlantedEdgeIsInterpolatedAndTruncatedTowardZero) {
    // Edge from (0, 9000) to (1000, 4000): at X = 250, Yc = 7750, column 22.5.
    const std::vector<OutputPoint> triangle = {{0.0, 9000.0}, {1000.0, 4000.0}, {1000.0, 9500.0}};
    std::vector<int> crossings;
    FindRowCrossings(triangle, 250.0, kYmax, kPixelSize, crossings);
    SortCrossings(crossings);
    // (10000 - 9125) / 100 = 8.75 on the other edge.
    EXPECT_EQ(crossings, (std::vector<int>{8, 22}));
}

TEST(RowSpans, ConcaveBoundaryPaintsSeveralSpansLeftToRight) {
    // A U open toward small X: row 300 crosses both arms, row 700 the base.
    const std::vector<OutputPoint> u = {{800.0, 9000.0}, {800.0, 1000.0}, {200.0, 1000.0}, {200.0, 3000.0},
                                        {600.0, 3000.0}, {600.0, 7000.0}, {200.0, 7000.0}, {200.0, 9000.0}};
    EXPECT_EQ(PaintedSpans(u, 300.0), (Spans{{10, 30}, {70, 90}}));
    EXPECT_EQ(PaintedSpans(u, 700.0), (Spans{{10, 90}}));
}

TEST(RowSpans, CrossingsInOneColumnPaintNothing) {
    // Y 5060 and 5010 give columns 49.4 and 49.9, both 49.
    EXPECT_TRUE(PaintedSpans(Rectangle(0.0, 1000.0, 5010.0, 5060.0), 500.0).empty());
    // One column wider, one pixel is painted.
    EXPECT_EQ(PaintedSpans(Rectangle(0.0, 1000.0, 4990.0, 5060.0), 500.0), (Spans{{49, 50}}));
}

TEST(RowSpans, SpansReachingPastTheTileAreClipped) {
    // Left of the tile (Y beyond Ymax): starts at column 0.
    EXPECT_EQ(PaintedSpans(Rectangle(0.0, 1000.0, 3000.0, 12000.0), 500.0), (Spans{{0, 70}}));
    // A crossing less than one column left of the tile truncates to column 0.
    EXPECT_EQ(PaintedSpans(Rectangle(0.0, 1000.0, 3000.0, 10050.0), 500.0), (Spans{{0, 70}}));
    // Wholly left of the tile: skipped.
    EXPECT_TRUE(PaintedSpans(Rectangle(0.0, 1000.0, 10000.0, 12000.0), 500.0).empty());
    // Through the right edge: ends at the tile's last column.
    EXPECT_EQ(PaintedSpans(Rectangle(0.0, 1000.0, -5000.0, 4000.0), 500.0), (Spans{{60, 100}}));
    // Wholly right of the tile.
    EXPECT_TRUE(PaintedSpans(Rectangle(0.0, 1000.0, -5000.0, 0.0), 500.0).empty());
}

TEST(RowSpans, PairStartingAtTheRightEdgeEndsTheRow) {
    Spans spans;
    ForEachSpan(std::vector<int>{-30, -10, 5, 20, 100, 130, 140, 150}, kTileSize,
                [&](int start, int end) { spans.emplace_back(start, end); });
    EXPECT_EQ(spans, (Spans{{5, 20}}));
}

TEST(RowSpans, CrossingsFarOutsideTheIntRangeActLikeColumnsBeyondTheTile) {
    EXPECT_EQ(CrossingColumn(-1e300, kYmax, kPixelSize), INT_MAX);
    EXPECT_EQ(CrossingColumn(1e300, kYmax, kPixelSize), INT_MIN);
    EXPECT_EQ(PaintedSpans(Rectangle(0.0, 1000.0, -1e300, 4000.0), 500.0), (Spans{{60, 100}}));
    EXPECT_EQ(PaintedSpans(Rectangle(0.0, 1000.0, 3000.0, 1e300), 500.0), (Spans{{0, 70}}));
}

TEST(RowSpans, MoreThanTwentyCrossingsInOneRowAreAllKept) {
    // A comb of 15 teeth pointing toward small X: row 300 crosses 30 edges,
    // met in descending column order, so the sort reverses the whole list.
    std::vector<OutputPoint> comb = {{500.0, 9500.0}, {500.0, 500.0}};
    for (int k = 0; k < 15; ++k) {
        const double y0 = 500.0 + 600.0 * k;
        comb.push_back({400.0, y0});
        comb.push_back({200.0, y0});
        comb.push_back({200.0, y0 + 300.0});
        comb.push_back({400.0, y0 + 300.0});
    }
    comb.push_back({400.0, 9500.0});

    std::vector<int> crossings;
    FindRowCrossings(comb, 300.0, kYmax, kPixelSize, crossings);
    EXPECT_EQ(crossings.size(), 30u);

    Spans expected;
    for (int k = 14; k >= 0; --k) {
        expected.emplace_back(92 - 6 * k, 95 - 6 * k);
    }
    EXPECT_EQ(PaintedSpans(comb, 300.0), expected);
}

class TileRendererTest : public ::testing::Test {
protected:
    // The literal chain must meet the grid's far edge, the scan's edge and
    // the boundary's edges inside the rendered tiles: the grid stops short of
    // the sheet in the north (X < 1 041 000) and south (X >= 1 056 500), and
    // the concave boundary reaches beyond the scan in the north and west.
    static transform::BoundingBox GridBox() {
        transform::BoundingBox box;
        box.minX = 1041000.0;
        box.maxX = 1056000.0;
        box.minY = 505000.0;
        box.maxY = 532000.0;
        return box;
    }

    TileRendererTest()
        : m_scene(GridBox()),
          m_boundary(test::MakeBoundary({{1040500.0, 529000.0},
                                         {1046000.0, 531500.0},
                                         {1057500.0, 526000.0},
                                         {1057000.0, 508000.0},
                                         {1049000.0, 515000.0},
                                         {1041500.0, 509000.0},
                                         {1040500.0, 529000.0}})) {}

    static void MakeWhite(raster::TileImage& tile, int tileSize) {
        tile.AllocateBuffer(tileSize);
        tile.ClearWhite();
    }

    test::TilingScene m_scene;
    transform::SheetBoundary m_boundary;
};

TEST_F(TileRendererTest, ProgressIsAnEmptyLineThenOneRecordPerRow) {
    const int tileSize = 5;
    const RunContext run = m_scene.Context(tileSize, m_boundary);
    TileRenderer renderer(run);
    raster::TileImage tile;
    tile.AllocateBuffer(tileSize);
    std::ostringstream out;
    renderer.RenderTile(tile, 2000000, 0, out);  // far from the sheet: rows skipped
    EXPECT_EQ(out.str(), "\n0/5\r1/5\r2/5\r3/5\r4/5\r");

    std::ostringstream covered;
    renderer.RenderTile(tile, 1050000, 520000, covered);  // rows painted
    EXPECT_EQ(covered.str(), "\n0/5\r1/5\r2/5\r3/5\r4/5\r");
}

TEST_F(TileRendererTest, NoRowWithoutATileEdge) {
    for (const int tileSize : {0, -3}) {
        RunContext run = m_scene.Context(1, m_boundary);
        run.tileSize = tileSize;
        TileRenderer renderer(run);
        raster::TileImage tile;
        std::ostringstream out;
        renderer.RenderTile(tile, 1050000, 520000, out);
        EXPECT_EQ(out.str(), "\n");
    }
}

TEST_F(TileRendererTest, EveryKernelAndThreadCountPaintsTheBytesOfTheLiteralChain) {
    // The tiles meet the grid's far edges, the scan's edges and the
    // boundary's edges. An odd tile edge leaves partial vector steps at the
    // end of spans; more threads than cores still give the same bytes and
    // the same progress text.
    for (const int tileSize : {97, 251}) {
        RunContext run = m_scene.Context(tileSize, m_boundary);
        const std::size_t bytes = static_cast<std::size_t>(tileSize) * tileSize * 3;
        for (const NamedSpanKernel& kernel : AvailableSpanKernels()) {
            for (const int threads : {1, 2, 3}) {
                run.threads = threads;
                TileRenderer renderer(run, kernel.kernel);
                for (const int tileX : {1040000, 1050000}) {
                    for (const int tileY : {500000, 510000, 520000, 530000}) {
                        SCOPED_TRACE(testing::Message() << kernel.name << ", " << threads << " threads, tile "
                                                        << tileSize << " at " << tileX << ", " << tileY);
                        raster::TileImage fast;
                        raster::TileImage literal;
                        MakeWhite(fast, tileSize);
                        MakeWhite(literal, tileSize);
                        std::ostringstream fastOut;
                        std::ostringstream literalOut;
                        renderer.RenderTile(fast, tileX, tileY, fastOut);
                        renderer.RenderTileLiteral(literal, tileX, tileY, literalOut);
                        ASSERT_EQ(std::memcmp(fast.Pixels(), literal.Pixels(), bytes), 0);
                        ASSERT_EQ(fastOut.str(), literalOut.str());
                    }
                }
            }
        }
    }
}

TEST_F(TileRendererTest, WhiteStartClearsEveryRowLikeClearWhite) {
    // Rows outside the boundary, skipped rows and unpainted pixels of
    // painted rows all end up white; painted pixels as the literal chain.
    const int tileSize = 97;
    RunContext run = m_scene.Context(tileSize, m_boundary);
    run.threads = 2;
    TileRenderer renderer(run);
    const std::size_t bytes = static_cast<std::size_t>(tileSize) * tileSize * 3;
    for (const int tileY : {510000, 520000}) {
        raster::TileImage fast;
        fast.AllocateBuffer(tileSize);
        std::memset(fast.Pixels(), 0x5A, bytes);  // what an earlier tile left
        raster::TileImage literal;
        MakeWhite(literal, tileSize);
        std::ostringstream out;
        renderer.RenderTile(fast, 1050000, tileY, out, TileStart::white);
        renderer.RenderTileLiteral(literal, 1050000, tileY, out);
        EXPECT_EQ(std::memcmp(fast.Pixels(), literal.Pixels(), bytes), 0) << tileY;
    }
}

TEST_F(TileRendererTest, PaintsOnlyCoveredPixelsInsideGridAndScan) {
    const int tileSize = 97;
    const RunContext run = m_scene.Context(tileSize, m_boundary);
    TileRenderer renderer(run);
    const double pixel = 10000.0 / tileSize;

    // Painted pixels carry the scan's colours, never pure white in this scene.
    const auto isWhiteAt = [&](const raster::TileImage& tile, int tileX, int tileY, double X, double Y) {
        const int row = static_cast<int>((X - tileX) / pixel);
        const int column = static_cast<int>((tileY + 10000.0 - Y) / pixel);
        const std::uint8_t* p = tile.Pixels() + 3 * (row * tileSize + column);
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    };

    raster::TileImage north;
    MakeWhite(north, tileSize);
    std::ostringstream out;
    renderer.RenderTile(north, 1040000, 520000, out);
    EXPECT_FALSE(isWhiteAt(north, 1040000, 520000, 1046000.0, 525000.0));
    // Inside the boundary, but north of the grid (X < 1 041 000).
    EXPECT_TRUE(isWhiteAt(north, 1040000, 520000, 1040800.0, 528000.0));
    // Inside the boundary and the grid, but north of the scan's top row.
    EXPECT_TRUE(isWhiteAt(north, 1040000, 520000, 1041100.0, 528000.0));
    // North of the boundary's northernmost vertex: the row is skipped.
    EXPECT_TRUE(isWhiteAt(north, 1040000, 520000, 1040200.0, 525000.0));

    raster::TileImage south;
    MakeWhite(south, tileSize);
    renderer.RenderTile(south, 1050000, 520000, out);
    // Row X = 1 055 000 crosses the west edge of the boundary near Y 527 195.
    EXPECT_FALSE(isWhiteAt(south, 1050000, 520000, 1055000.0, 525000.0));
    EXPECT_TRUE(isWhiteAt(south, 1050000, 520000, 1055000.0, 529000.0));
}

// The progress text of a whole tile: an empty line, one record per row.
std::string ProgressText(int tileSize) {
    std::string text = "\n";
    for (int row = 0; row < tileSize; ++row) {
        text += std::to_string(row) + "/" + std::to_string(tileSize) + "\r";
    }
    return text;
}

TEST_F(TileRendererTest, RenderAndSaveWritesTheFileAndTextOfTheLiteralChainThenSave) {
    // New tiles start white; existing ones are decoded and painted over.
    // Tiles cross the boundary, the grid's and the scan's edges; more
    // threads than chunks of rows and than cores still give the same file.
    const int tileSize = 251;
    RunContext run = m_scene.Context(tileSize, m_boundary);
    const test::TempDir dir;
    const auto old = [](int column, int row) {
        return test::Rgb{static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(row), 90};
    };
    for (const NamedSpanKernel& kernel : AvailableSpanKernels()) {
        for (const int threads : {1, 2, 3}) {
            run.threads = threads;
            TileRenderer renderer(run, kernel.kernel);
            for (const bool existing : {false, true}) {
                for (const int tileY : {510000, 520000}) {
                    SCOPED_TRACE(testing::Message() << kernel.name << ", " << threads << " threads, "
                                                    << (existing ? "existing" : "new") << " tile at " << tileY);
                    const std::string overlapped = dir.File("overlapped.jpg");
                    const std::string literal = dir.File("literal.jpg");
                    std::filesystem::remove(overlapped);
                    std::filesystem::remove(literal);
                    std::ostringstream overlappedOut;
                    std::ostringstream literalOut;
                    raster::TileImage a;
                    raster::TileImage b;
                    a.AllocateBuffer(tileSize);
                    b.AllocateBuffer(tileSize);
                    if (existing) {
                        test::WriteJpeg(overlapped, tileSize, tileSize, old);
                        test::WriteJpeg(literal, tileSize, tileSize, old);
                        a.OpenExisting(overlapped);
                        a.LoadPixels();
                        b.OpenExisting(literal);
                        b.LoadPixels();
                    } else {
                        a.CreateNew(overlapped);
                        b.CreateNew(literal);
                    }
                    const TileStart start = existing ? TileStart::asLoaded : TileStart::white;
                    renderer.RenderAndSave(a, 1050000, tileY, overlappedOut, start);
                    renderer.RenderTileLiteral(b, 1050000, tileY, literalOut, start);
                    b.Save();
                    a.CloseFile();
                    b.CloseFile();
                    ASSERT_EQ(test::ReadFileBytes(overlapped), test::ReadFileBytes(literal));
                    ASSERT_EQ(overlappedOut.str(), ProgressText(tileSize));
                    ASSERT_EQ(literalOut.str(), ProgressText(tileSize));
                }
            }
        }
    }
}

using test::FileSizeLimit;

TEST_F(TileRendererTest, RenderAndSaveThatCannotWriteLeavesTheTileAndStillReportsEveryRow) {
    // The encoder fails after its first few kilobytes, while rows further
    // down are still being painted: the painting stops, every thread ends
    // before the error arrives, and the text is that of a finished tile.
    const int tileSize = 251;
    RunContext run = m_scene.Context(tileSize, m_boundary);
    const test::TempDir dir;
    const std::string name = dir.File("105_52.jpg");
    test::WriteUniformJpeg(name, tileSize, tileSize, test::Rgb{20, 40, 200});
    const std::string bytes = test::ReadFileBytes(name);
    for (const int threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        run.threads = threads;
        TileRenderer renderer(run);
        raster::TileImage tile;
        tile.AllocateBuffer(tileSize);
        tile.OpenExisting(name);
        tile.LoadPixels();
        std::ostringstream out;
        std::string message;
        {
            const FileSizeLimit limit(4000);
            ASSERT_TRUE(limit.Active());
            try {
                renderer.RenderAndSave(tile, 1050000, 520000, out);
            } catch (const raster::JpegError& e) {
                message = e.what();
            }
        }
        tile.CloseFile();
        EXPECT_EQ(message, "Output file write error --- out of disk space?");
        EXPECT_EQ(out.str(), ProgressText(tileSize));
        EXPECT_EQ(test::ReadFileBytes(name), bytes);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
                  1);
    }
}

}  // namespace
}  // namespace georef::tiling
