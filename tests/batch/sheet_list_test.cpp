#include "batch/sheet_list.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "batch/corner_source.hpp"
#include "support/temp_dir.hpp"

namespace georef::batch {
namespace {

std::vector<std::string> Scans(const std::vector<SheetInput>& sheets) {
    std::vector<std::string> names;
    for (const SheetInput& input : sheets) {
        names.push_back(std::filesystem::path(input.scan).filename().string() +
                        (input.problem.empty() ? "" : " (problem)"));
    }
    return names;
}

TEST(SheetList, ScanDirectoryTakesFilesNamedBySheetAndNotTheirCompanions) {
    const test::TempDir dir;
    for (const char* name : {"40572_scan.tif", "40571.jpg", "40571.txt", "40571.jgw", "40571.jpg.aux.xml",
                             "405712.jpg", "4057.jpg", "notes.jpg", "40581.TXT", "40583.png", "40583.tif",
                             "40585.jpg", "40581.key"}) {
        test::WriteFileBytes(dir.File(name), "x");
    }
    std::filesystem::create_directory(dir.File("40582.d"));
    const std::vector<SheetInput> sheets = ListScanDirectory(dir.Path());
    EXPECT_EQ(Scans(sheets), (std::vector<std::string>{"40571.jpg", "40572_scan.tif", "40583.png (problem)",
                                                       "40585.jpg (problem)"}));
    EXPECT_EQ(sheets[1].sheetText, "40572");
    // Two scans of one sheet: one entry, naming both.
    EXPECT_NE(sheets[2].problem.find("2 scans of sheet 40583: " + dir.File("40583.png") + " and " +
                                     dir.File("40583.tif")),
              std::string::npos)
        << sheets[2].problem;
    EXPECT_NE(sheets[3].problem.find("40585 is no valid sheet number"), std::string::npos) << sheets[3].problem;
    EXPECT_THROW(ListScanDirectory(dir.File("missing")), BatchError);
}

TEST(SheetList, ScanDirectoryLooksIntoSubfoldersButNotTheOutputOrHiddenOnesAndLeavesOutExcluded) {
    const test::TempDir dir;
    for (const char* folder : {"1880/north", "out/corners", ".cache", "old"}) {
        std::filesystem::create_directories(dir.File(folder));
    }
    for (const char* name : {"40571.jpg", "1880/north/40572.tif", "out/corners/40573.png", ".cache/40574.jpg",
                             "old/40571.jpg", "40574 rescan.jpg"}) {
        test::WriteFileBytes(dir.File(name), "x");
    }
    const std::vector<SheetInput> all = ListScanDirectory(dir.Path(), {dir.File("out")});
    EXPECT_EQ(Scans(all), (std::vector<std::string>{"40571.jpg (problem)", "40572.tif", "40574 rescan.jpg"}));
    EXPECT_EQ(all[1].scan, dir.File("1880/north/40572.tif"));
    const std::vector<SheetInput> chosen = ListScanDirectory(dir.Path(), {dir.File("out")}, {"old/*"});
    EXPECT_EQ(Scans(chosen), (std::vector<std::string>{"40571.jpg", "40572.tif", "40574 rescan.jpg"}));
    EXPECT_EQ(chosen[0].scan, dir.File("40571.jpg"));
    EXPECT_EQ(Scans(ListScanDirectory(dir.Path(), {dir.File("out")}, {"*.tif", "old"})),
              (std::vector<std::string>{"40571.jpg", "40574 rescan.jpg"}));
}

TEST(SheetList, ListFileTakesQuotedNames) {
    const test::TempDir dir;
    test::WriteFileBytes(dir.File("area.txt"),
                         "40571 \"my scans/40571 (1).jpg\" \"a \"\"quoted\"\" name.txt\"\n"
                         "40572\t\"scans 2/40572, \"\"b\"\".jpg\"\t\r\n"
                         "40573 C:\\scans\\40573.jpg\n");
    const std::vector<SheetInput> sheets = ReadListFile(dir.File("area.txt"));
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].scan, dir.File("my scans/40571 (1).jpg"));
    EXPECT_EQ(sheets[0].cornerFile, dir.File("a \"quoted\" name.txt"));
    EXPECT_EQ(sheets[1].scan, dir.File("scans 2/40572, \"b\".jpg"));
    EXPECT_EQ(sheets[1].cornerFile, "");
    EXPECT_EQ(sheets[2].scan, dir.File("C:\\scans\\40573.jpg"));
    for (const char* bad : {"40571 \"open.jpg\n", "40571 \"a\"b.jpg\n", "40571 a b c d\n"}) {
        test::WriteFileBytes(dir.File("bad.txt"), bad);
        EXPECT_THROW(ReadListFile(dir.File("bad.txt")), BatchError) << bad;
    }
}

TEST(SheetList, ListFileNamesScansAndCornersRelativeToItself) {
    const test::TempDir dir;
    test::WriteFileBytes(dir.File("area.txt"), "# sheet scan corners\n\n40572 b.tif\n40571\ta.jpg  /abs/a.txt\n");
    const std::vector<SheetInput> sheets = ReadListFile(dir.File("area.txt"));
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].scan, dir.File("a.jpg"));
    EXPECT_EQ(sheets[0].cornerFile, "/abs/a.txt");
    EXPECT_EQ(sheets[1].scan, dir.File("b.tif"));
    EXPECT_EQ(sheets[1].cornerFile, "");

    for (const char* bad : {"40571\n", "4057 a.jpg\n", "40571 a.jpg c.txt more\n", "40571 a\n40571 b\n"}) {
        test::WriteFileBytes(dir.File("bad.txt"), bad);
        EXPECT_THROW(ReadListFile(dir.File("bad.txt")), BatchError) << bad;
    }
    EXPECT_THROW(ReadListFile(dir.File("missing.txt")), BatchError);
}

std::vector<SheetInput> Cells(int zones, int columns) {
    std::vector<SheetInput> sheets;
    for (int zone = 40; zone < 40 + zones; ++zone) {
        for (int column = 50; column < 50 + columns; ++column) {
            for (int section = 1; section <= 4; ++section) {
                const int sheet = zone * 1000 + column * 10 + section;
                sheets.push_back(SheetInput{sheet, std::to_string(sheet), std::to_string(sheet) + ".tif", "", ""});
            }
        }
    }
    return sheets;
}

TEST(SheetList, ShardsAreDisjointAndTogetherHoldEverySheet) {
    const std::vector<SheetInput> sheets = Cells(3, 4);
    std::multiset<int> seen;
    for (int k = 1; k <= 5; ++k) {
        for (const SheetInput& input : ShareOf(sheets, k, 5)) {
            seen.insert(input.sheet);
        }
    }
    EXPECT_EQ(seen.size(), sheets.size());
    EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), sheets.size());
    EXPECT_THROW(ShareOf(sheets, 0, 2), std::invalid_argument);
    EXPECT_THROW(ShareOf(sheets, 3, 2), std::invalid_argument);
}

TEST(SheetList, LockFriendlyOrderStartsNoNeighboursOneAfterAnother) {
    EXPECT_TRUE(AreNeighbours(40572, 40581));   // across a cell edge
    EXPECT_TRUE(AreNeighbours(40574, 41581));   // diagonally across a zone edge
    EXPECT_FALSE(AreNeighbours(40571, 40581));  // one sheet between them
    const std::vector<SheetInput> order = LockFriendlyOrder(Cells(3, 4));
    ASSERT_EQ(order.size(), 48u);
    int neighbourPairs = 0;
    for (std::size_t i = 1; i < order.size(); ++i) {
        neighbourPairs += AreNeighbours(order[i - 1].sheet, order[i].sheet) ? 1 : 0;
    }
    // Only where one parity class hands over to the next.
    EXPECT_LE(neighbourPairs, 3);
}

}  // namespace
}  // namespace georef::batch
