// The tile store on real JPEG files: what a run finds on disk, what it
// leaves there, and that a failure never damages a tile.

#include "raster/tile_image.hpp"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/raster/jpeg_file.hpp"
#include "support/temp_dir.hpp"
#include "support/file_size_limit.hpp"

namespace georef::raster {
namespace {

using test::JpegImage;
using test::JpegOptions;
using test::LuminanceTableForQuality;
using test::ReadJpeg;
using test::Rgb;

constexpr int kEdge = 40;  // not a multiple of the 16-pixel MCU

const Rgb kWhite{255, 255, 255};
const Rgb kRed{255, 0, 0};
const Rgb kBlue{20, 40, 200};

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

Rgb PixelOf(const TileImage& tile, int column, int row) {
    const std::uint8_t* p = tile.Pixels() + (static_cast<std::size_t>(row) * tile.Width() + column) * 3;
    return Rgb{p[0], p[1], p[2]};
}

void Paint(TileImage& tile, int column, int row, Rgb colour) {
    std::uint8_t* p = tile.Pixels() + (static_cast<std::size_t>(row) * tile.Width() + column) * 3;
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
}

class TileImageTest : public ::testing::Test {
protected:
    // Names in the directory: a temporary file left behind shows here.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempDir m_dir;
    std::string m_tile = m_dir.File("104_52.jpg");
};

TEST_F(TileImageTest, TileExists_OnlyForANonEmptyFile) {
    EXPECT_FALSE(TileExists(m_tile));
    EXPECT_EQ(FileSizeOf(m_tile), -1);
    test::WriteFileBytes(m_tile, "");
    EXPECT_FALSE(TileExists(m_tile));
    EXPECT_EQ(FileSizeOf(m_tile), 0);
    test::WriteFileBytes(m_tile, "x");
    EXPECT_TRUE(TileExists(m_tile));
    EXPECT_EQ(FileSizeOf(m_tile), 1);
    const std::string directory = m_dir.File("104_53.jpg");
    ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
    EXPECT_FALSE(TileExists(directory));
}

TEST_F(TileImageTest, AllocateBuffer_RejectsEdgesOutOfRange) {
    TileImage tile;
    EXPECT_THROW(tile.AllocateBuffer(0), std::invalid_argument);
    EXPECT_THROW(tile.AllocateBuffer(-3), std::invalid_argument);
    EXPECT_THROW(tile.AllocateBuffer(26755), std::invalid_argument);  // 26755^2 * 3 >= 2^31
    EXPECT_THROW(tile.AllocateBuffer(1 << 20), std::invalid_argument);
}

TEST_F(TileImageTest, NewTile_IsWrittenWhiteAtQuality70) {
    TileImage tile;
    tile.AllocateBuffer(kEdge);
    tile.CreateNew(m_tile);
    tile.ClearWhite();
    Paint(tile, 3, 5, kRed);
    const std::vector<std::uint8_t> painted(tile.Pixels(), tile.Pixels() + kEdge * kEdge * 3);
    tile.Save();
    tile.CloseFile();

    ASSERT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
    const JpegImage written = ReadJpeg(m_tile);
    EXPECT_EQ(written.width, kEdge);
    EXPECT_EQ(written.height, kEdge);
    EXPECT_EQ(written.components, 3);
    EXPECT_FALSE(written.progressive);
    EXPECT_EQ(written.luminance, LuminanceTableForQuality(70));
    EXPECT_NE(written.luminance, LuminanceTableForQuality(75));
    EXPECT_TRUE(Near(written.At(30, 30), kWhite, 1));

    // The same bytes as libjpeg writes straight into a file.
    const std::string direct = m_dir.File("direct.jpg");
    JpegOptions options;
    options.quality = 70;
    test::WriteJpeg(
        direct, kEdge, kEdge,
        [&](int c, int r) {
            const std::uint8_t* p = painted.data() + (static_cast<std::size_t>(r) * kEdge + c) * 3;
            return Rgb{p[0], p[1], p[2]};
        },
        options);
    EXPECT_EQ(test::ReadFileBytes(m_tile), test::ReadFileBytes(direct));
}

TEST_F(TileImageTest, ExistingTile_IsPaintedOverAndWrittenAtQuality75) {
    test::WriteUniformJpeg(m_tile, kEdge, kEdge, kBlue);
    ASSERT_TRUE(TileExists(m_tile));

    TileImage tile;
    tile.AllocateBuffer(kEdge);
    tile.OpenExisting(m_tile);
    tile.LoadPixels();
    EXPECT_TRUE(Near(PixelOf(tile, 0, 0), kBlue, 3));
    EXPECT_TRUE(Near(PixelOf(tile, kEdge - 1, kEdge - 1), kBlue, 3));
    for (int r = 0; r < kEdge; ++r) {
        for (int c = 0; c < kEdge / 2; ++c) {
            Paint(tile, c, r, kRed);
        }
    }
    tile.Save();
    tile.CloseFile();

    ASSERT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
    const JpegImage written = ReadJpeg(m_tile);
    EXPECT_EQ(written.luminance, LuminanceTableForQuality(75));
    EXPECT_TRUE(Near(written.At(2, 20), kRed, 6));
    EXPECT_TRUE(Near(written.At(kEdge - 3, 20), kBlue, 6));
}

TEST_F(TileImageTest, ExistingTileOfAnotherSizeOrColourModel_StartsWhite) {
    struct Case {
        int edge;
        int components;
    };
    for (const Case k : {Case{kEdge / 2, 3}, Case{kEdge + 16, 3}, Case{kEdge, 4}}) {
        SCOPED_TRACE(testing::Message() << k.edge << " px, " << k.components << " components");
        JpegOptions options;
        options.components = k.components;
        test::WriteUniformJpeg(m_tile, k.edge, k.edge, kBlue, options);

        TileImage tile;
        tile.AllocateBuffer(kEdge);
        tile.OpenExisting(m_tile);
        tile.LoadPixels();
        for (int i = 0; i < kEdge * kEdge * 3; ++i) {
            ASSERT_EQ(tile.Pixels()[i], 255);
        }
        tile.Save();
        tile.CloseFile();
        const JpegImage written = ReadJpeg(m_tile);
        EXPECT_EQ(written.width, kEdge);
        EXPECT_EQ(written.components, 3);
        EXPECT_EQ(written.luminance, LuminanceTableForQuality(75));
    }
}

// Peak resident memory of this process, bytes.
long long PeakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<long long>(usage.ru_maxrss) * 1024;
}

// A progressive tile keeps every coefficient of the image until its last
// scan, so starting to decode one costs memory in proportion to the size its
// header claims. A 2 KB file claiming 12000 x 12000 pixels (found by fuzzing
// the existing-tile path) would take 430 MB; a tile of another size is not
// merged anyway, so it is not decoded at all.
TEST_F(TileImageTest, ProgressiveTileClaimingAnotherSize_IsNotDecoded) {
    JpegOptions options;
    options.progressive = true;
    test::WriteUniformJpeg(m_tile, kEdge, kEdge, kBlue, options);
    std::string bytes = test::ReadFileBytes(m_tile);
    const std::size_t frame = bytes.find("\xFF\xC2");
    ASSERT_NE(frame, std::string::npos);
    const char claimed[4] = {'\x2E', '\xE0', '\x2E', '\xE0'};  // 12000 rows, 12000 columns, big-endian
    bytes.replace(frame + 5, 4, claimed, 4);
    test::WriteFileBytes(m_tile, bytes);

    const long long before = PeakResidentBytes();
    TileImage tile;
    tile.AllocateBuffer(kEdge);
    tile.OpenExisting(m_tile);
    tile.LoadPixels();
    EXPECT_LT(PeakResidentBytes() - before, 200LL << 20);
    for (int i = 0; i < kEdge * kEdge * 3; ++i) {
        ASSERT_EQ(tile.Pixels()[i], 255);
    }
    tile.Save();
    tile.CloseFile();
    EXPECT_EQ(ReadJpeg(m_tile).width, kEdge);
}

TEST_F(TileImageTest, GreyscaleTile_IsDecodedAsRgb) {
    JpegOptions options;
    options.components = 1;
    test::WriteUniformJpeg(m_tile, kEdge, kEdge, Rgb{100, 0, 0}, options);

    TileImage tile;
    tile.AllocateBuffer(kEdge);
    tile.OpenExisting(m_tile);
    tile.LoadPixels();
    for (int r = 0; r < kEdge; ++r) {
        for (int c = 0; c < kEdge; ++c) {
            ASSERT_TRUE(Near(PixelOf(tile, c, r), Rgb{100, 100, 100}, 1)) << c << "," << r;
        }
    }
}

TEST_F(TileImageTest, TileThatIsNoJpeg_GivesTheLibraryMessageAndStaysUnchanged) {
    const std::string bytes = "hello, this is text\n";
    test::WriteFileBytes(m_tile, bytes);

    TileImage tile;
    tile.AllocateBuffer(kEdge);
    try {
        tile.OpenExisting(m_tile);
        FAIL() << "no JpegError";
    } catch (const JpegError& e) {
        EXPECT_STREQ(e.what(), "Not a JPEG file: starts with 0x68 0x65");
    }
    tile.CloseFile();
    EXPECT_EQ(test::ReadFileBytes(m_tile), bytes);
    EXPECT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
}

TEST_F(TileImageTest, TruncatedTile_WarnsAndDecodesWhatIsThere) {
    test::WriteJpeg(m_tile, kEdge, kEdge, [](int c, int r) {
        return Rgb{static_cast<std::uint8_t>(c * 37 + r), static_cast<std::uint8_t>(r * 53), static_cast<std::uint8_t>(c ^ r)};
    });
    const JpegImage whole = ReadJpeg(m_tile);
    const std::string bytes = test::ReadFileBytes(m_tile);
    test::WriteFileBytes(m_tile, bytes.substr(0, bytes.size() * 3 / 4));

    TileImage tile;
    tile.AllocateBuffer(kEdge);
    testing::internal::CaptureStderr();
    tile.OpenExisting(m_tile);
    tile.LoadPixels();
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("Premature end of JPEG file"), std::string::npos) << warnings;
    EXPECT_EQ(PixelOf(tile, 5, 0), whole.At(5, 0));  // the rows before the cut are intact
}

TEST_F(TileImageTest, TileThatCannotBeCreated_GivesTileError) {
    TileImage tile;
    tile.AllocateBuffer(kEdge);
    EXPECT_THROW(tile.CreateNew(m_dir.File("missing/104_52.jpg")), TileError);
    ASSERT_EQ(::mkdir(m_tile.c_str(), 0755), 0);  // a directory of the tile's name
    EXPECT_THROW(tile.CreateNew(m_tile), TileError);
    EXPECT_THROW(tile.OpenExisting(m_dir.File("missing.jpg")), TileError);
    EXPECT_THROW(tile.Save(), std::logic_error);  // nothing to save after the failures
    EXPECT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
}

TEST_F(TileImageTest, WriteProtectedTile_IsRefusedBeforePainting) {
    // Read-only for everyone stops root as well.
    test::WriteUniformJpeg(m_tile, kEdge, kEdge, kBlue);
    const std::string bytes = test::ReadFileBytes(m_tile);
    ASSERT_EQ(::chmod(m_tile.c_str(), 0444), 0);
    TileImage tile;
    tile.AllocateBuffer(kEdge);
    EXPECT_THROW(tile.OpenExisting(m_tile), TileError);
    EXPECT_EQ(test::ReadFileBytes(m_tile), bytes);
}

TEST_F(TileImageTest, UnsavedTile_LeavesTheFileAsItWas) {
    test::WriteUniformJpeg(m_tile, kEdge, kEdge, kBlue);
    const std::string bytes = test::ReadFileBytes(m_tile);
    {
        TileImage tile;
        tile.AllocateBuffer(kEdge);
        tile.OpenExisting(m_tile);
        tile.LoadPixels();
        tile.ClearWhite();
    }  // gone without Save, as when rendering fails
    {
        TileImage tile;
        tile.AllocateBuffer(kEdge);
        tile.CreateNew(m_dir.File("104_53.jpg"));
        tile.CloseFile();
    }
    EXPECT_EQ(test::ReadFileBytes(m_tile), bytes);
    EXPECT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
}

using test::FileSizeLimit;

TEST_F(TileImageTest, FailedWrite_LeavesTheOldTileAndNoTemporaryFile) {
    // Noise compresses badly: the tile is far larger than the limit below.
    std::mt19937 random(7);
    test::WriteJpeg(m_tile, 128, 128, [&](int, int) {
        return Rgb{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                   static_cast<std::uint8_t>(random())};
    });
    const std::string bytes = test::ReadFileBytes(m_tile);
    ASSERT_GT(bytes.size(), 12000u);

    TileImage tile;
    tile.AllocateBuffer(128);
    tile.OpenExisting(m_tile);
    tile.LoadPixels();
    std::string message;
    {
        const FileSizeLimit limit(4000);
        ASSERT_TRUE(limit.Active());
        try {
            tile.Save();
        } catch (const JpegError& e) {
            message = e.what();
        } catch (const TileError& e) {
            message = e.what();
        }
    }
    EXPECT_EQ(message, "Output file write error --- out of disk space?");
    tile.CloseFile();
    EXPECT_EQ(test::ReadFileBytes(m_tile), bytes);
    EXPECT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
}

TEST_F(TileImageTest, SaveWithWaitForRow_AsksForEachRowBeforeReadingIt) {
    // The hook paints row r only when asked for it; the rows below still
    // hold garbage. The file must be the one Save writes from the finished
    // buffer, so no row is read before the hook has returned for it.
    const auto colour = [](int column, int row) {
        return Rgb{static_cast<std::uint8_t>(column * 5), static_cast<std::uint8_t>(row * 6),
                   static_cast<std::uint8_t>((column * row) & 0xFF)};
    };
    TileImage plain;
    plain.AllocateBuffer(kEdge);
    plain.CreateNew(m_dir.File("plain.jpg"));
    for (int r = 0; r < kEdge; ++r) {
        for (int c = 0; c < kEdge; ++c) {
            Paint(plain, c, r, colour(c, r));
        }
    }
    plain.Save();
    plain.CloseFile();

    TileImage tile;
    tile.AllocateBuffer(kEdge);
    tile.CreateNew(m_tile);
    std::memset(tile.Pixels(), 0x5A, static_cast<std::size_t>(kEdge) * kEdge * 3);
    std::vector<int> asked;
    tile.Save([&](int row) {
        asked.push_back(row);
        for (int c = 0; c < kEdge; ++c) {
            Paint(tile, c, row, colour(c, row));
        }
    });
    tile.CloseFile();

    std::vector<int> everyRow(kEdge);
    std::iota(everyRow.begin(), everyRow.end(), 0);
    EXPECT_EQ(asked, everyRow);
    EXPECT_EQ(test::ReadFileBytes(m_tile), test::ReadFileBytes(m_dir.File("plain.jpg")));
}

TEST_F(TileImageTest, SaveWithWaitForRow_ThatThrowsLeavesTheOldTileAndNoTemporaryFile) {
    test::WriteUniformJpeg(m_tile, kEdge, kEdge, kBlue);
    const std::string bytes = test::ReadFileBytes(m_tile);
    struct Stopped {};
    for (const int failingRow : {0, 17, kEdge - 1}) {
        SCOPED_TRACE(failingRow);
        TileImage tile;
        tile.AllocateBuffer(kEdge);
        tile.OpenExisting(m_tile);
        tile.LoadPixels();
        EXPECT_THROW(tile.Save([&](int row) {
            if (row == failingRow) {
                throw Stopped{};
            }
        }),
                     Stopped);
        tile.CloseFile();
        EXPECT_EQ(test::ReadFileBytes(m_tile), bytes);
        EXPECT_EQ(Entries(), std::vector<std::string>{"104_52.jpg"});
    }
}

TEST_F(TileImageTest, OpenExistingWithoutBuffer_TakesTheDecodedSize) {
    test::WriteUniformJpeg(m_tile, 24, 17, kBlue);
    TileImage tile;
    tile.OpenExisting(m_tile);
    tile.LoadPixels();
    EXPECT_EQ(tile.Width(), 24);
    EXPECT_EQ(tile.Height(), 17);
    EXPECT_TRUE(Near(PixelOf(tile, 23, 16), kBlue, 3));
}

}  // namespace
}  // namespace georef::raster
