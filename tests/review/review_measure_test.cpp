// Size and opening time of the review page for areas of realistic size:
// run on demand (the tests are disabled), figures in docs/performance.md.
//
//   build/tests/test_review --gtest_also_run_disabled_tests --gtest_filter='ReviewPageMeasure.*'
//
// The tiles of a real two-sheet batch are repeated over the whole area
// (a VRT), so the overview and every seam are cut from real JPEG tiles.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "devtools/headless_browser.hpp"
#include "review/review_page.hpp"
#include "review/sheet_outlines.hpp"
#include "support/review/sample_batch.hpp"
#include "support/temp_dir.hpp"
#include "tools/config_tool.hpp"

namespace georef::review {
namespace {

using devtools::BrowserUnavailable;
using devtools::HeadlessBrowser;
using devtools::PageLoad;

namespace fs = std::filesystem;

std::uintmax_t DirectoryBytes(const std::string& path) {
    std::uintmax_t bytes = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(path)) {
        if (e.is_regular_file()) {
            bytes += e.file_size();
        }
    }
    return bytes;
}

void MeasureArea(const std::string& zones, const std::string& columns) {
    test::TempDir dir;
    const test::SampleBatch real = test::MakeSampleBatch(dir.File("real"), {40571, 40572}, {});
    const std::string area = dir.File("area");
    fs::create_directories(area);
    const std::string config = area + "/config.bin";
    const char* argv[] = {"georef-config", "--zones", zones.c_str(), "--columns", columns.c_str(), "-o", config.c_str()};
    std::ostringstream out, err;
    ASSERT_EQ(tools::RunConfigTool(7, argv, out, err), 0) << err.str();

    const std::vector<SheetOutline> outlines = ReadSheetOutlines(config);
    double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    for (const SheetOutline& o : outlines) {
        for (const transform::OutputPoint& p : o.vertices) {
            west = std::min(west, -p.Y), east = std::max(east, -p.Y);
            south = std::min(south, -p.X), north = std::max(north, -p.X);
        }
    }
    west = std::floor(west / 10000.0) * 10000.0;
    north = std::ceil(north / 10000.0) * 10000.0;
    const int tilesEast = static_cast<int>(std::ceil((east - west) / 10000.0));
    const int tilesSouth = static_cast<int>(std::ceil((north - south) / 10000.0));
    ReviewInput input;
    input.configPath = config;
    input.outputDirectory = area;
    input.mosaicPath = test::WriteRepeatedMosaic(area + "/mosaic.vrt", real.directory + "/tiles", west, north,
                                                 tilesEast, tilesSouth);
    // Mostly done, a few failed or skipped, each with a corner picture.
    for (std::size_t k = 0; k < outlines.size(); ++k) {
        SheetResult r = real.sheets[k % 2];
        r.sheet = std::to_string(outlines[k].sheet);
        if (k % 29 == 7) {
            r = SheetResult{};
            r.sheet = std::to_string(outlines[k].sheet);
            r.status = SheetStatus::failed;
            r.message = "corners: left side: no line darker than the paper over 60 % of its length";
        } else if (k % 41 == 11) {
            r = SheetResult{};
            r.sheet = std::to_string(outlines[k].sheet);
            r.status = SheetStatus::skipped;
            r.message = "the batch stopped before this sheet";
        }
        input.sheets.push_back(r);
    }

    const auto start = std::chrono::steady_clock::now();
    const ReviewPage page = WriteReviewPage(input);
    const double writeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::uintmax_t pageBytes = DirectoryBytes(area + "/review");
    const std::uintmax_t htmlBytes = fs::file_size(page.indexPath);

    std::ostringstream report;
    report << outlines.size() << " sheets (" << tilesEast << " x " << tilesSouth << " tiles of mosaic), " << page.seams
           << " seams: written in " << writeSeconds << " s; review/ " << pageBytes / 1e6 << " MB (index.html "
           << htmlBytes / 1e3 << " kB, overview.jpg " << fs::file_size(area + "/review/overview.jpg") / 1e3
           << " kB); corner pictures, not part of review/: " << fs::file_size(real.sheets[0].cornerPicture) / 1e3
           << " kB each\n";
    try {
        HeadlessBrowser browser;
        for (int run = 0; run < 3; ++run) {
            const auto opened = std::chrono::steady_clock::now();
            const PageLoad load = browser.Open(page.indexPath);
            const double wall =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - opened).count();
            report << "  open " << run + 1 << ": DOMContentLoaded " << load.domContentLoadedMs << " ms, load "
                   << load.loadMs << " ms, navigation to load event seen " << wall << " ms\n";
        }
    } catch (const BrowserUnavailable& e) {
        report << "  (no browser: " << e.what() << ")\n";
    }
    std::cout << report.str();
    EXPECT_LT(pageBytes, 200u * 1000u * 1000u);
}

TEST(ReviewPageMeasure, DISABLED_FortySheets) { MeasureArea("40-44", "56-57"); }

TEST(ReviewPageMeasure, DISABLED_NineHundredSheets) { MeasureArea("34-45", "50-68"); }

}  // namespace
}  // namespace georef::review
