// The whole program on real files: a scan written through GDAL, a corner
// file, config.bin with two neighbouring sheets, and the tiles it writes,
// decoded through libjpeg.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <cpl_string.h>
#include <gdal.h>
#include <sys/stat.h>

#include "driver/run.hpp"
#include "support/process.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/raster/scan_file.hpp"
#include "support/temp_dir.hpp"
#include "support/transform/config_file.hpp"

namespace georef::test {
namespace {

// Output frame (metres, X southward, Y westward) of the two sheets: 40571
// spans Y 512 000 .. 530 000 and its eastern neighbour 40572 spans
// Y 494 000 .. 512 000; both X 1 043 000 .. 1 056 900 (north to south).
constexpr double kNorthX = 1043000.0;
constexpr double kSouthX = 1056900.0;
constexpr double kSheetHeight = kSouthX - kNorthX;
constexpr double kSheetWidth = 18000.0;
constexpr double kWestY40571 = 530000.0;
constexpr double kWestY40572 = 512000.0;

// Longitude falls toward larger Y (west), latitude toward larger X (south):
// lon 34.25 at Y 512 000, lat 50.0 at X 1 043 000.
transform::GraticulePoint Graticule(double X, double Y) {
    return {34.25 - (Y - 512000.0) / (kSheetWidth / 0.25), 50.0 - (X - kNorthX) / (kSheetHeight / 0.125)};
}

// At 25 dpi a tile is 393 pixels of 10000 / 393 m.
constexpr int kTileSize = 393;
constexpr double kPixel = 10000.0 / kTileSize;

// The scan: 400 x 320 pixels, the sheet's corners 20 pixels inside its edges,
// four coloured quarters inside the corners, a black dot at the centre and
// grey outside the corners.
constexpr int kScanWidth = 400;
constexpr int kScanHeight = 320;
constexpr int kMargin = 20;
const Rgb kRed{200, 30, 30};
const Rgb kGreen{30, 160, 40};
const Rgb kBlue{30, 40, 190};
const Rgb kYellow{220, 200, 40};
const Rgb kGrey{128, 128, 128};
const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};

Rgb ScanColour(int column, int row) {
    const int midColumn = kScanWidth / 2;
    const int midRow = kScanHeight / 2;
    if (column < kMargin || column >= kScanWidth - kMargin || row < kMargin || row >= kScanHeight - kMargin) {
        return kGrey;
    }
    if (std::abs(column - midColumn) <= 3 && std::abs(row - midRow) <= 3) {
        return kBlack;
    }
    if (row < midRow) {
        return column < midColumn ? kRed : kGreen;
    }
    return column < midColumn ? kBlue : kYellow;
}

std::uint8_t ScanSample(int band, int column, int row) {
    const Rgb c = ScanColour(column, row);
    return band == 1 ? c.r : band == 2 ? c.g : c.b;
}

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string Describe(const Rgb& c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

std::vector<transform::OutputPoint> SheetOutline(double westY) {
    const double eastY = westY - kSheetWidth;
    return {{kNorthX, westY}, {kNorthX, eastY}, {kSouthX, eastY}, {kSouthX, westY}};
}

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() {
        WriteScan(m_dir.File("scan.tif"), kScanWidth, kScanHeight, ScanSample);
        // LD LH PH PD, y upward from the bottom edge.
        WriteFileBytes(m_dir.File("corners.txt"),
                       "1 20 20\n2 20 300\n3 380 300\n4 380 20\n");

        ConfigFileBuilder config;
        for (const auto& [sheet, westY] : {std::pair<int, double>{40571, kWestY40571}, {40572, kWestY40572}}) {
            const std::vector<transform::OutputPoint> outline = SheetOutline(westY);
            const auto boundary = config.AddBoundary(outline, 1);
            const auto grid =
                config.AddGrid(AnalyticGrid(transform::BoundingBoxOf(outline), 2000.0, 1000, Graticule));
            config.AddEntry(sheet, boundary, grid);
        }
        config.Write(m_dir.File("config.bin"));
        std::filesystem::create_directory(m_dir.File("out"));
    }

    ProcessResult Run(const std::string& sheet) const {
        return RunGeoref({sheet, "corners.txt", "scan.tif", "out", "25"}, m_dir.Path());
    }

    // Sheet 40571 from the given scan into a fresh directory; the result,
    // and the directory in names.
    ProcessResult RunInto(const std::string& scan, const std::string& directory, const std::string& dpi = "25",
                          const ProcessLimits& limits = {}) const {
        std::filesystem::create_directories(m_dir.File(directory));
        return RunGeoref({"40571", "corners.txt", scan, directory, dpi}, m_dir.Path(), limits);
    }

    // Names in a directory under the working directory, sorted.
    std::vector<std::string> Entries(const std::string& directory) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.File(directory))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The temporary files (".tmp-") in a directory.
    std::vector<std::string> Temporaries(const std::string& directory) const {
        std::vector<std::string> names;
        for (const std::string& name : Entries(directory)) {
            if (name.find(".tmp-") != std::string::npos) {
                names.push_back(name);
            }
        }
        return names;
    }

    // Name of the tile holding output point (X, Y), relative to the working
    // directory, and the pixel of the point in it.
    static std::string TileOf(double X, double Y, int& row, int& column) {
        const int tileX = static_cast<int>(X / 10000.0) * 10000;
        const int tileY = static_cast<int>(Y / 10000.0) * 10000;
        row = static_cast<int>((X - tileX) / kPixel);
        column = static_cast<int>((tileY + 10000.0 - Y) / kPixel);
        return "out/" + std::to_string(tileX / 10000) + "_" + std::to_string(tileY / 10000) + ".jpg";
    }

    Rgb ColourAt(double X, double Y) const {
        int row = 0;
        int column = 0;
        const std::string tile = TileOf(X, Y, row, column);
        return ReadJpeg(m_dir.File(tile)).At(column, row);
    }

    // Output point of a position in the sheet: across from the west edge and
    // down from the north edge, as fractions of the sheet.
    static double XAt(double down) { return kNorthX + down * kSheetHeight; }
    static double YAt(double westY, double across) { return westY - across * kSheetWidth; }

    static std::vector<std::string> TilesOf(const std::vector<int>& rows, const std::vector<int>& columns) {
        std::vector<std::string> names;
        for (const int r : rows) {
            for (const int c : columns) {
                names.push_back(std::to_string(r) + "_" + std::to_string(c));
            }
        }
        return names;
    }

    TempDir m_dir;
};

TEST_F(EndToEnd, OneSheetLandsWhereItsGraticuleSaysAndTheRestOfItsTilesStaysWhite) {
    const ProcessResult result = Run("40571");
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("otviram scan.tif\n", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("zapisuji out/104_52.jpg\n\n0/393\r"), std::string::npos);
    EXPECT_NE(result.out.find("392/393\rprogram dobehl do konce\n"), std::string::npos);

    // X 1 043 000 .. 1 056 900 and Y 512 000 .. 530 000: two rows of tiles
    // by three columns, the last column only touched at Y = 530 000.
    const std::vector<std::string> tiles = TilesOf({104, 105}, {51, 52, 53});
    for (const std::string& name : tiles) {
        const JpegImage image = ReadJpeg(m_dir.File("out/" + name + ".jpg"));
        EXPECT_EQ(image.width, kTileSize) << name;
        EXPECT_EQ(image.height, kTileSize) << name;
        EXPECT_EQ(image.luminance, LuminanceTableForQuality(70)) << name;
        EXPECT_TRUE(std::filesystem::is_regular_file(m_dir.File("out/" + name + ".jgw"))) << name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.File("out")),
                            std::filesystem::directory_iterator()),
              12 + 1);  // six tiles, their world files and the directory's tile lock file
    EXPECT_EQ(ReadFileBytes(m_dir.File("out/104_52.jgw")), "25.4453\n0\n0\n-25.4453\n-530000\n-1.04e+006\n");

    // The quarters of the scan in the quarters of the sheet, the centre dot
    // at the sheet's centre.
    const struct {
        double down;
        double across;
        Rgb colour;
    } features[] = {{0.25, 0.25, kRed}, {0.25, 0.75, kGreen}, {0.75, 0.25, kBlue}, {0.75, 0.75, kYellow},
                    {0.5, 0.5, kBlack}};
    for (const auto& feature : features) {
        const Rgb colour = ColourAt(XAt(feature.down), YAt(kWestY40571, feature.across));
        EXPECT_TRUE(Near(colour, feature.colour, 12))
            << feature.down << ", " << feature.across << ": " << Describe(colour);
    }

    // Outside the sheet, new tiles stay white: north of it, east of it and in
    // the column of tiles the sheet only touches.
    for (const auto& [X, Y] : {std::pair<double, double>{1041000.0, 520000.0}, {1050000.0, 511000.0},
                               {1050000.0, 535000.0}, {1059000.0, 525000.0}}) {
        const Rgb colour = ColourAt(X, Y);
        EXPECT_TRUE(Near(colour, kWhite, 3)) << X << ", " << Y << ": " << Describe(colour);
    }
}

TEST_F(EndToEnd, NeighbouringSheetSharesTilesWithoutErasingTheFirst) {
    ASSERT_EQ(Run("40571").exitStatus, 0);
    const std::string untouched = ReadFileBytes(m_dir.File("out/104_52.jpg"));
    const double northX = XAt(0.25);
    const Rgb firstSheetBefore = ColourAt(northX, YAt(kWestY40571, 0.75));

    const ProcessResult result = Run("40572");
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;

    // Tiles of both sheets were decoded, painted over and written at 75;
    // tiles of the second sheet alone are new.
    for (const std::string& name : TilesOf({104, 105}, {51})) {
        EXPECT_EQ(ReadJpeg(m_dir.File("out/" + name + ".jpg")).luminance, LuminanceTableForQuality(75)) << name;
    }
    for (const std::string& name : TilesOf({104, 105}, {49, 50})) {
        EXPECT_EQ(ReadJpeg(m_dir.File("out/" + name + ".jpg")).luminance, LuminanceTableForQuality(70)) << name;
    }
    EXPECT_EQ(ReadFileBytes(m_dir.File("out/104_52.jpg")), untouched);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.File("out")),
                            std::filesystem::directory_iterator()),
              20 + 1);  // and the tile lock file

    // In the shared tile 104_51: the first sheet's north-east quarter kept,
    // the second sheet's north-west quarter added west of Y 512 000, and
    // white north of both.
    const Rgb firstSheetAfter = ColourAt(northX, YAt(kWestY40571, 0.75));
    EXPECT_TRUE(Near(firstSheetAfter, firstSheetBefore, 6))
        << Describe(firstSheetBefore) << " became " << Describe(firstSheetAfter);
    EXPECT_TRUE(Near(firstSheetAfter, kGreen, 12)) << Describe(firstSheetAfter);
    const Rgb secondSheet = ColourAt(northX, 511000.0);
    EXPECT_TRUE(Near(secondSheet, kRed, 12)) << Describe(secondSheet);
    EXPECT_TRUE(Near(ColourAt(1041000.0, 515000.0), kWhite, 3));

    // The second sheet's own quarters.
    EXPECT_TRUE(Near(ColourAt(XAt(0.75), YAt(kWestY40572, 0.75)), kYellow, 12));
    EXPECT_TRUE(Near(ColourAt(XAt(0.5), YAt(kWestY40572, 0.5)), kBlack, 12));
}

TEST_F(EndToEnd, WiderScansGiveTheSameTilesAndUnusableScansWriteNothing) {
    ASSERT_EQ(RunInto("scan.tif", "byte").exitStatus, 0);

    // The same picture as a 16-bit TIFF: the very same tiles.
    ScanOptions wide;
    wide.type = SampleType::uint16;
    WriteScan(m_dir.File("scan16.tif"), kScanWidth, kScanHeight, ScanSample, wide);
    const ProcessResult result = RunInto("scan16.tif", "wide");
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    ASSERT_EQ(Entries("wide"), Entries("byte"));
    for (const std::string& name : Entries("byte")) {
        EXPECT_EQ(ReadFileBytes(m_dir.File("wide/" + name)), ReadFileBytes(m_dir.File("byte/" + name))) << name;
    }

    // A JPEG cut short, and floating-point samples without a declared range:
    // the run ends with the scan's message and the reason, before any file.
    ScanOptions jpeg;
    jpeg.format = ScanFormat::jpeg;
    WriteScan(m_dir.File("cut.jpg"), kScanWidth, kScanHeight,
              [](int band, int column, int row) { return static_cast<std::uint8_t>(band * column * row); }, jpeg);
    const std::string bytes = ReadFileBytes(m_dir.File("cut.jpg"));
    WriteFileBytes(m_dir.File("cut.jpg"), bytes.substr(0, bytes.size() / 2));
    ScanOptions floating;
    floating.type = SampleType::float32;
    WriteScan(m_dir.File("float.tif"), kScanWidth, kScanHeight, ScanSample, floating);
    for (const auto& [scan, reason] : {std::pair<std::string, std::string>{"cut.jpg", "Premature end of JPEG file"},
                                       {"float.tif", "declares no range"}}) {
        SCOPED_TRACE(scan);
        const ProcessResult refused = RunInto(scan, "refused");
        EXPECT_EQ(refused.exitStatus, 1);
        EXPECT_NE(refused.out.find("chyba nelze nacist obraz " + scan + "\n"), std::string::npos) << refused.out;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
        EXPECT_TRUE(Entries("refused").empty());
    }
}

TEST_F(EndToEnd, ScanTooLargeForMemoryEndsWithTheMemoryMessage) {
#ifdef GEOREF_SANITIZED
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#else
    // A sparse TIFF: 40000 x 40000 pixels claimed (4.8 GB of samples), none
    // stored; the run may use 2 GiB of address space.
    GDALAllRegister();
    char** options = CSLSetNameValue(nullptr, "SPARSE_OK", "YES");
    GDALDatasetH huge = GDALCreate(GDALGetDriverByName("GTiff"), m_dir.File("huge.tif").c_str(), 40000, 40000, 3,
                                   GDT_Byte, options);
    CSLDestroy(options);
    ASSERT_NE(huge, nullptr);
    GDALClose(huge);

    ProcessLimits limits;
    limits.addressSpaceBytes = std::size_t{2} << 30;
    const ProcessResult result = RunInto("huge.tif", "out-huge", "25", limits);
    EXPECT_EQ(result.exitStatus, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("chyba nedostatek pameti\n"), std::string::npos) << result.out;
    EXPECT_TRUE(Entries("out-huge").empty());
#endif
}

TEST_F(EndToEnd, TurnedScansOtherSizedTilesAndWriteProtectedWorldFilesAreSaid) {
    // A JPEG whose EXIF says it is to be shown turned is read as stored.
    ScanOptions turned;
    turned.format = ScanFormat::jpeg;
    turned.datasetMetadata = {"EXIF_Orientation=6"};
    WriteScan(m_dir.File("turned.jpg"), kScanWidth, kScanHeight, ScanSample, turned);
    const ProcessResult first = RunInto("turned.jpg", "out");
    ASSERT_EQ(first.exitStatus, 0) << first.out << first.err;
    EXPECT_NE(first.err.find("turned.jpg states orientation 6"), std::string::npos) << first.err;
    EXPECT_TRUE(Near(ColourAt(XAt(0.25), YAt(kWestY40571, 0.25)), kRed, 12));

    // Another dpi into the same directory: each tile of 393 pixels becomes
    // a white one of 409, and a write-protected world file stays as it is.
    const std::string world = m_dir.File("out/104_52.jgw");
    const std::string worldBytes = ReadFileBytes(world);
    ASSERT_EQ(::chmod(world.c_str(), 0444), 0);
    const ProcessResult second = RunInto("scan.tif", "out", "26");
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_NE(second.out.find("chyba vystupniho souboru out/104_52.jgw\n"), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("program dobehl do konce"), std::string::npos) << second.out;
    EXPECT_EQ(ReadFileBytes(world), worldBytes);
    struct stat status {};
    ASSERT_EQ(::stat(world.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0444u);
    EXPECT_NE(second.err.find("warning: out/104_52.jpg is 393 x 393 pixels, not 409 x 409"), std::string::npos)
        << second.err;
    EXPECT_NE(second.err.find("use the same dpi"), std::string::npos) << second.err;
    EXPECT_EQ(ReadJpeg(m_dir.File("out/104_52.jpg")).width, 409);

    // The same run as a library call says which files were not written.
    driver::SheetRequest request;
    request.sheet = "40571";
    request.cornerFile = m_dir.File("corners.txt");
    request.scan = m_dir.File("scan.tif");
    request.outputDirectory = m_dir.File("out");
    request.dpi = "26";
    request.configFile = m_dir.File("config.bin");
    std::ostringstream out;
    std::ostringstream err;
    const driver::SheetOutcome outcome = driver::RunSheet(request, out, err);
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.kind, driver::OutcomeKind::tiles);
    EXPECT_EQ(outcome.message, "chyba vystupniho souboru " + world);
    EXPECT_EQ(outcome.tilesFailed, 1);
    EXPECT_GT(outcome.tilesWritten, 0);
}

TEST_F(EndToEnd, BoundaryFarOutsideItsGridIsADamagedFileAndWritesNoTile) {
    // One vertex at 5e7 m: a box over millions of tiles, far beyond the grid.
    std::vector<transform::OutputPoint> outline = SheetOutline(kWestY40571);
    ConfigFileBuilder config;
    const auto grid = config.AddGrid(AnalyticGrid(transform::BoundingBoxOf(outline), 2000.0, 1000, Graticule));
    outline[2].X = 5e7;
    config.AddEntry(40571, config.AddBoundary(outline), grid);
    config.Write(m_dir.File("config.bin"));
    const ProcessResult result = Run("40571");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "poskozeny soubor s transformacni matici config.bin\n");
    EXPECT_TRUE(Entries("out").empty());
}

TEST_F(EndToEnd, InterruptedRunsRemoveTheirTemporaryFilesAndKilledRunsLeftoversGo) {
    // Leftovers of a killed run are removed from the tiles a run writes, old
    // or new: under the tile's lock no live run is writing any. Those of
    // other tiles stay.
    const auto age = [&](const std::string& name, std::chrono::hours shift) {
        WriteFileBytes(m_dir.File("out/" + name), "partial");
        std::filesystem::last_write_time(m_dir.File("out/" + name),
                                         std::filesystem::file_time_type::clock::now() + shift);
    };
    age("104_52.jpg.tmp-Old001", std::chrono::hours(-1));
    age("104_52.jgw.tmp-Old002", std::chrono::hours(-1));
    age("104_53.jpg.tmp-New003", std::chrono::hours(1));
    age("999_999.jpg.tmp-Old004", std::chrono::hours(-1));
    ASSERT_EQ(Run("40571").exitStatus, 0);
    EXPECT_EQ(Temporaries("out"), (std::vector<std::string>{"999_999.jpg.tmp-Old004"}));

    // Each signal while a tile is being written: the run's temporary files
    // go and the process ends by the signal.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        const std::string directory = "signal" + std::to_string(signalNumber);
        std::filesystem::create_directory(m_dir.File(directory));
        ChildProcess child(GeorefExe(), {"40571", "corners.txt", "scan.tif", directory, "300"}, m_dir.Path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (Temporaries(directory).empty() && child.Running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        child.Signal(signalNumber);
        const ProcessResult result = child.Wait();
        EXPECT_EQ(result.exitStatus, 128 + signalNumber) << result.err;
        EXPECT_TRUE(Temporaries(directory).empty());
        for (const std::string& name : Entries(directory)) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
                EXPECT_EQ(ReadJpeg(m_dir.File(directory + "/" + name)).width, 4724) << name;
            }
        }
    }
}

}  // namespace
}  // namespace georef::test
