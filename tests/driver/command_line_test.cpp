// The program's command line and the early ends of a run, checked on the
// built program: exact bytes on standard output and the exit status.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/run.hpp"
#include "driver/run_parameters.hpp"
#include "geometry/map_scale.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace georef::test {
namespace {

const std::string kUsageText =
    "program pro georeferencovani listu 3. vojenskeho mapovani  v meritku 1:25 000\n"
    "syntaxe : cislo_listu soubor_s_rohy_mapoveho_listu jmeno_transformovaneho_listu_img cesta_out dpi\n"
    "cislo_listu - ve formatu ccccc \n"
    "soubor_s_rohy_mapoveho_listu - v poradi bodu LD LH PH PD, kazdy radek obsahuje cb x y v pixlech, "
    "orientace os x - vlevo y - nahoru\n"
    "jmeno_transformovaneho_listu_img - jpg nebo tif\n"
    "out cesta - jmeno  existujiciho adresare kam se ukladaji georeferencovane dlazdice\n"
    "dpi - rozliseni vystupu \n";

const std::string kGoodCorners = "1 100 100\n2 100 1100\n3 1500 1100\n4 1500 100\n";

// Little-endian config.bin bytes, written by hand so that these tests depend
// on nothing but the file layout.
class ConfigBytes {
public:
    ConfigBytes& Int(std::int32_t v) {
        for (int k = 0; k < 4; ++k) {
            m_bytes.push_back(static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * k)) & 0xFF));
        }
        return *this;
    }
    ConfigBytes& Double(double v) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        for (int k = 0; k < 8; ++k) {
            m_bytes.push_back(static_cast<char>((bits >> (8 * k)) & 0xFF));
        }
        return *this;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

// One sheet with a square boundary and a 2 x 2 grid around it.
std::string OneSheetConfig(std::int32_t sheet) {
    ConfigBytes b;
    const std::int32_t boundaryOffset = 4 + 12;
    const std::int32_t gridOffset = boundaryOffset + 4 + 4 + 4 * 16;
    b.Int(1).Int(sheet).Int(boundaryOffset).Int(gridOffset);
    b.Int(0).Int(4);
    b.Double(1000.0).Double(1000.0).Double(1000.0).Double(2000.0);
    b.Double(2000.0).Double(2000.0).Double(2000.0).Double(1000.0);
    b.Int(0).Int(0).Int(5000).Int(2).Int(2);
    for (int node = 0; node < 4; ++node) {
        b.Double(34.0).Double(49.9);
    }
    return b.Bytes();
}

class CommandLine : public ::testing::Test {
protected:
    ProcessResult Georef(const std::vector<std::string>& args) { return RunGeoref(args, m_dir.Path()); }
    void Write(const std::string& name, const std::string& bytes) { WriteFileBytes(m_dir.File(name), bytes); }
    // Everything in the working directory, to prove a run wrote nothing.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.Path())) {
            names.push_back(entry.path().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Dir() const { return m_dir.Path(); }

    TempDir m_dir;
};

TEST_F(CommandLine, WrongArgumentCountPrintsUsageOnlyAndExits2) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"40571", "c.txt", "scan.tif", "out"},
          {"40571", "c.txt", "scan.tif", "out", "300", "extra"}}) {
        const ProcessResult r = Georef(args);
        EXPECT_EQ(r.out, kUsageText);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitStatus, 2);
    }
}

TEST_F(CommandLine, MissingCornerFileIsReportedBeforeConfig) {
    // Neither the corner file nor config.bin exists: only the corner file is named.
    const ProcessResult r = Georef({"40571", "missing.txt", "scan.tif", "out", "300abc"});
    EXPECT_EQ(r.out, "chyba nelze otev\xF8\xEDt missing.txt\n");
    EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(CommandLine, MissingConfigIsReportedAfterTheFit) {
    Write("c.txt", kGoodCorners);
    const ProcessResult r = Georef({"40571", "c.txt", "scan.tif", "out", "300"});
    EXPECT_EQ(r.out, "nenalezen soubor s transformacni matici config.bin\n");
    EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(CommandLine, SheetNumberIsReadLikeStrtol) {
    Write("c.txt", kGoodCorners);
    Write("config.bin", OneSheetConfig(40572));
    const ProcessResult r = Georef({"40571abc", "c.txt", "scan.tif", "out", "300"});
    EXPECT_EQ(r.out, "transformacni matice bohuzel neumoznuje transormovat list c 40571\n");
    EXPECT_EQ(r.exitStatus, 1);

    Write("config.bin", ConfigBytes().Int(0).Bytes());  // an empty index
    const ProcessResult empty = Georef({"  +40574", "c.txt", "scan.tif", "out", "300"});
    EXPECT_EQ(empty.out, "transformacni matice bohuzel neumoznuje transormovat list c 40574\n");
}

TEST_F(CommandLine, UnusableDpiIsRejectedBeforeAnyFileIsOpened) {
    for (const char* dpi : {"0", "-300", "abc", "", "1700", "99999999999999999999"}) {
        const ProcessResult r = Georef({"40571", "missing.txt", "scan.tif", "out", dpi});
        EXPECT_EQ(r.out, std::string("chybne rozliseni dpi ") + dpi + "\n") << dpi;
        EXPECT_EQ(r.exitStatus, 2) << dpi;
    }
}

TEST_F(CommandLine, SheetNumberWithoutGeometryIsRejectedBeforeTheFit) {
    Write("c.txt", kGoodCorners);
    for (const char* sheet : {"99999", "40570", "46011", "33011", "40575", "-40571", "abc"}) {
        const ProcessResult r = Georef({sheet, "c.txt", "scan.tif", "out", "300"});
        EXPECT_EQ(r.out.rfind("chybne cislo listu ", 0), 0u) << sheet << ": " << r.out;
        EXPECT_EQ(r.exitStatus, 2) << sheet;
    }
}

TEST_F(CommandLine, ShortOrMalformedCornerFileStopsTheRun) {
    for (const char* text : {"", "1 100 100\n2 100 1100\n3 1500 1100\n", "1 100 100\n2 x 1100\n3 1 1\n4 2 2\n",
                             "1 100 100 2 100 1100 3 1500 1100 4 1500"}) {
        Write("c.txt", text);
        const ProcessResult r = Georef({"40571", "c.txt", "scan.tif", "out", "300"});
        EXPECT_EQ(r.out, "chybny soubor s rohy mapoveho listu c.txt\n") << text;
        EXPECT_EQ(r.exitStatus, 1);
    }
    // Line structure does not matter and anything after the fourth record is ignored.
    Write("c.txt", "1 100 100 2 100\n1100 3 1.5e3 1100\n4 1500 100 trailing words\n");
    EXPECT_EQ(Georef({"40571", "c.txt", "scan.tif", "out", "300"}).out,
              "nenalezen soubor s transformacni matici config.bin\n");
}

TEST_F(CommandLine, SingularCornerFitEndsCleanlyWithoutTouchingConfig) {
    Write("config.bin", OneSheetConfig(40571));
    Write("c.txt", "");
    std::filesystem::create_directory(Dir() + "/out");
    const std::vector<std::string> before = Listing();
    for (const char* text : {"1 100 100\n2 100 500\n3 100 900\n4 700 100\n",  // LD, LH, PH on one vertical
                             "1 5 5\n2 5 5\n3 5 5\n4 5 5\n"}) {               // four equal corners
        Write("c.txt", text);
        const ProcessResult r = Georef({"40571", "c.txt", "scan.tif", "out", "300"});
        EXPECT_EQ(r.out, "chyba nelze spocitat transformaci z rohu mapoveho listu c.txt\n");
        EXPECT_EQ(r.exitStatus, 1);
    }
    EXPECT_EQ(Listing(), before);
}

TEST_F(CommandLine, DamagedConfigIsReported) {
    Write("c.txt", kGoodCorners);
    std::string bytes = OneSheetConfig(40571);
    Write("config.bin", bytes.substr(0, bytes.size() - 5));
    const ProcessResult r = Georef({"40571", "c.txt", "scan.tif", "out", "300"});
    EXPECT_EQ(r.out, "poskozeny soubor s transformacni matici config.bin\n");
    EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(CommandLine, MissingUnreadableOrDirectoryScanIsReportedAndNothingWritten) {
    Write("c.txt", kGoodCorners);
    Write("config.bin", OneSheetConfig(40571));
    std::filesystem::create_directory(Dir() + "/out");
    std::filesystem::create_directory(Dir() + "/scandir");
    Write("notascan.tif", "this is text, not an image");
    const std::vector<std::string> before = Listing();

    ProcessResult r = Georef({"40571", "c.txt", "missing.tif", "out", "300"});
    EXPECT_EQ(r.out, "chyba vystupniho souboru missing.tif\n");
    EXPECT_EQ(r.exitStatus, 1);

    r = Georef({"40571", "c.txt", "scandir", "out", "300"});
    EXPECT_EQ(r.out, "chyba vystupniho souboru scandir\n");
    EXPECT_EQ(r.exitStatus, 1);

    r = Georef({"40571", "c.txt", "notascan.tif", "out", "300"});
    EXPECT_EQ(r.out, "otviram notascan.tif\nchyba nelze nacist obraz notascan.tif\n");
    EXPECT_EQ(r.exitStatus, 1);

    EXPECT_EQ(Listing(), before);
}

// A caller of the run as a library learns how it ended, and why, from the
// outcome: the same lines the run printed, without reading them back.
TEST_F(CommandLine, RunSheetReturnsTheLinesItPrintedAndTheKindOfEnd) {
    Write("c.txt", kGoodCorners);
    Write("config.bin", OneSheetConfig(40571));
    Write("notascan.tif", "this is text, not an image");
    std::filesystem::create_directory(Dir() + "/out");
    driver::SheetRequest request;
    request.sheet = "40571";
    request.cornerFile = m_dir.File("c.txt");
    request.scan = m_dir.File("notascan.tif");
    request.outputDirectory = m_dir.File("out");
    request.configFile = m_dir.File("config.bin");

    request.dpi = "0";
    std::ostringstream out;
    std::ostringstream err;
    driver::SheetOutcome outcome = driver::RunSheet(request, out, err);
    EXPECT_EQ(outcome.exitStatus, 2);
    EXPECT_EQ(outcome.kind, driver::OutcomeKind::commandLine);
    EXPECT_EQ(outcome.message, "chybne rozliseni dpi 0");
    EXPECT_EQ(out.str(), outcome.message + "\n");

    // The scan's reason (on err) comes before the line the run stops on (on out).
    request.dpi = "300";
    out.str("");
    outcome = driver::RunSheet(request, out, err);
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.kind, driver::OutcomeKind::input);
    EXPECT_EQ(out.str(), "otviram " + request.scan + "\nchyba nelze nacist obraz " + request.scan + "\n");
    const std::string reason = err.str().substr(err.str().rfind(request.scan + ": "));
    ASSERT_GT(reason.size(), request.scan.size() + 3);
    EXPECT_EQ(outcome.message, reason.substr(0, reason.size() - 1) + "; chyba nelze nacist obraz " + request.scan);
    EXPECT_EQ(outcome.tilesWritten + outcome.tilesFailed, 0);

    request.configFile = m_dir.File("missing.bin");
    outcome = driver::RunSheet(request, out, err);
    EXPECT_EQ(outcome.kind, driver::OutcomeKind::input);
    EXPECT_EQ(outcome.message, "nenalezen soubor s transformacni matici config.bin");
}

TEST(RunParameters, TileAndPixelSizeInSinglePrecision) {
    EXPECT_EQ(driver::TileSizeFromDpi(254), 4000);
    EXPECT_EQ(driver::TileSizeFromDpi(300), 4724);
    EXPECT_EQ(driver::TileSizeFromDpi(400), 6299);
    EXPECT_EQ(driver::TileSizeFromDpi(600), 9448);
    EXPECT_EQ(driver::PixelSizeFromTileSize(4000), 2.5f);
    EXPECT_EQ(driver::PixelSizeFromTileSize(4724), 2.1168501377105713f);
    EXPECT_EQ(static_cast<double>(driver::PixelSizeFromTileSize(4724)), 2.1168501377105713);
    EXPECT_EQ(driver::PixelSizeFromTileSize(6299), static_cast<float>(10000.0 / 6299.0));
    EXPECT_EQ(driver::ParseDecimal("300abc"), 300);
    EXPECT_EQ(driver::ParseDecimal(" -12"), -12);
    EXPECT_EQ(driver::ParseDecimal("abc"), 0);
}

TEST(RunParameters, DpiRangeKeepsTheTileBufferAddressable) {
    EXPECT_FALSE(driver::CheckedTileSize(0));
    EXPECT_EQ(driver::CheckedTileSize(1), 15);
    // 26754 pixels is the largest edge whose 3-byte buffer a 32-bit count addresses.
    long last = 0;
    for (long dpi = 1600; dpi < 1800; ++dpi) {
        if (driver::CheckedTileSize(dpi)) {
            last = dpi;
        }
    }
    ASSERT_GT(last, 0);
    EXPECT_LE(*driver::CheckedTileSize(last), 26754);
    EXPECT_GT(driver::TileSizeFromDpi(static_cast<int>(last + 1)), 26754);
    EXPECT_FALSE(driver::CheckedTileSize(last + 1));
    EXPECT_EQ(last, geometry::kLargestDpi);  // the limit the batch and the manual state
}

}  // namespace
}  // namespace georef::test
