// The GDAL chores shared by every reader and writer of images: GDAL's errors
// kept from the console with their message kept for ours, and a dataset
// closed (and so written) when its handle goes, and options set for one
// thread's reads alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "gdal_support/thread_config.hpp"
#include "platform/atomic_file.hpp"
#include "support/temp_dir.hpp"

namespace georef::gdal_support {
namespace {

namespace fs = std::filesystem;

// Counts the messages that reach the handler below a QuietErrors.
int g_printed = 0;
void CPL_STDCALL CountingHandler(CPLErr, CPLErrorNum, const char*) { ++g_printed; }

TEST(QuietErrors, KeepsGdalsMessageFromTheConsoleAndForTheCaller) {
    GDALAllRegister();
    CPLPushErrorHandler(CountingHandler);
    g_printed = 0;
    CPLError(CE_Failure, CPLE_AppDefined, "an earlier failure");
    ASSERT_EQ(g_printed, 1);
    {
        const QuietErrors quiet;
        EXPECT_EQ(LastMessage("none"), "none");  // the earlier message is gone
        const DatasetHandle missing(GDALOpen("/nonexistent/scan.tif", GA_ReadOnly));
        EXPECT_FALSE(missing);
        EXPECT_NE(LastMessage("none").find("/nonexistent/scan.tif"), std::string::npos) << LastMessage("none");
    }
    EXPECT_EQ(g_printed, 1);
    CPLError(CE_Warning, CPLE_AppDefined, "after the guard");
    EXPECT_EQ(g_printed, 2);
    CPLPopErrorHandler();
}

// A GDAL writer fills the temporary file by its name; the target appears
// only on Commit, complete, and a file never committed leaves nothing.
TEST(DatasetHandle, ClosingWritesTheFileAnAtomicFileThenPutsInPlace) {
    GDALAllRegister();
    test::TempDir dir;
    const std::string target = dir.File("picture.png");
    const DatasetHandle image(GDALCreate(GDALGetDriverByName("MEM"), "", 20, 10, 3, GDT_Byte, nullptr));
    ASSERT_TRUE(image);
    const auto writeInto = [&](const platform::AtomicFile& file) {
        EXPECT_EQ(file.Stream(), nullptr);
        DatasetHandle written(GDALCreateCopy(GDALGetDriverByName("PNG"), file.TemporaryName().c_str(), image.get(),
                                             FALSE, nullptr, nullptr, nullptr));
        ASSERT_TRUE(written);
        EXPECT_FALSE(fs::exists(target));
    };
    {
        platform::AtomicFile abandoned(target, platform::AtomicFile::Access::byName);
        writeInto(abandoned);
    }
    EXPECT_TRUE(fs::is_empty(dir.Path())) << "an abandoned file leaves nothing";

    platform::AtomicFile file(target, platform::AtomicFile::Access::byName);
    writeInto(file);
    file.Commit();
    EXPECT_THROW(file.Commit(), std::runtime_error);
    EXPECT_FALSE(fs::exists(file.TemporaryName()));
    const DatasetHandle back(GDALOpen(target.c_str(), GA_ReadOnly));
    ASSERT_TRUE(back);
    EXPECT_EQ(GDALGetRasterXSize(back.get()), 20);
    EXPECT_EQ(GDALGetRasterYSize(back.get()), 10);
}

// Set while the guard lives, on its thread only, and put back as it was,
// an outer guard's value included.
TEST(ThreadConfig, SetsAnOptionForThisThreadWhileItLives) {
    const char* const key = "GEOREF_TEST_OPTION";
    ASSERT_EQ(CPLGetConfigOption(key, nullptr), nullptr);
    {
        const ThreadConfig outer(key, "outer");
        {
            const ThreadConfig inner(key, "inner");
            EXPECT_STREQ(CPLGetConfigOption(key, nullptr), "inner");
            const char* elsewhere = "unread";
            std::thread([&] { elsewhere = CPLGetConfigOption(key, nullptr); }).join();
            EXPECT_EQ(elsewhere, nullptr);
            {
                const ThreadConfig unset(key, nullptr);
                EXPECT_EQ(CPLGetConfigOption(key, nullptr), nullptr);
            }
            EXPECT_STREQ(CPLGetConfigOption(key, nullptr), "inner");
        }
        EXPECT_STREQ(CPLGetConfigOption(key, nullptr), "outer");
    }
    EXPECT_EQ(CPLGetConfigOption(key, nullptr), nullptr);
}

// A scan opened without its folder listed keeps what its side files say:
// here the range of float samples, held only in scan.tif.aux.xml, among
// other scans and their side files.
TEST(DatasetHandle, OpenedWithoutListingItsFolderAScanStillHasItsSideFiles) {
    GDALAllRegister();
    test::TempDir dir;
    for (int k = 0; k < 50; ++k) {
        std::ofstream(dir.File("other" + std::to_string(k) + ".tif.aux.xml")) << "<PAMDataset/>\n";
    }
    const std::string scan = dir.File("scan.tif");
    {
        const char* options[] = {"PROFILE=BASELINE", nullptr};
        const DatasetHandle written(GDALCreate(GDALGetDriverByName("GTiff"), scan.c_str(), 16, 16, 1, GDT_Float32,
                                               const_cast<char**>(options)));
        ASSERT_TRUE(written);
    }
    fs::remove(scan + ".aux.xml");
    std::ofstream(scan + ".aux.xml") << "<PAMDataset>\n  <PAMRasterBand band=\"1\">\n    <Metadata>\n"
                                        "      <MDI key=\"STATISTICS_MAXIMUM\">4</MDI>\n"
                                        "      <MDI key=\"STATISTICS_MINIMUM\">-2</MDI>\n"
                                        "    </Metadata>\n  </PAMRasterBand>\n</PAMDataset>\n";
    const DatasetHandle opened = OpenWithoutListing(scan);
    ASSERT_TRUE(opened);
    int haveLow = FALSE;
    int haveHigh = FALSE;
    GDALRasterBandH band = GDALGetRasterBand(opened.get(), 1);
    EXPECT_EQ(GDALGetRasterMinimum(band, &haveLow), -2.0);
    EXPECT_EQ(GDALGetRasterMaximum(band, &haveHigh), 4.0);
    EXPECT_TRUE(haveLow && haveHigh);
    EXPECT_EQ(CPLGetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr), nullptr) << "set only while opening";

    const QuietErrors quiet;
    EXPECT_FALSE(OpenWithoutListing(dir.File("missing.tif")));
    EXPECT_NE(LastMessage("none").find("missing.tif"), std::string::npos);
}

}  // namespace
}  // namespace georef::gdal_support
