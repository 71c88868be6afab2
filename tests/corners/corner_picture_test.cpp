// The corner picture's overview of a scan the finder has already reduced:
// drawn from the finder's kept copy when its factor does not divide the
// picture's, it shows what the scan's own block means show, where they show it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gdal.h>

#include "corners/find_corners.hpp"
#include "corners/scan_image.hpp"
#include "support/raster/scan_file.hpp"
#include "support/temp_dir.hpp"

namespace georef::corners {
namespace {

// A scan of 3000 x 2000 pixels: the picture reduces it by 3, the finder's
// copy by 2. Paper shaded across, with dark bars 12 pixels wide every 300
// columns and rows (at multiples of 6, so that both reductions meet
// their edges), coloured per band.
constexpr int kWidth = 3000;
constexpr int kHeight = 2000;

std::uint8_t Sample(int band, int column, int row) {
    const bool bar = column % 300 < 12 || row % 300 < 12;
    return static_cast<std::uint8_t>(bar ? 20 + 30 * band : 150 + (column + 2 * row) / 100 + 5 * band);
}

std::vector<std::uint8_t> ReadRgb(const std::string& path, int& width, int& height) {
    GDALAllRegister();
    GDALDatasetH image = GDALOpen(path.c_str(), GA_ReadOnly);
    EXPECT_NE(image, nullptr);
    if (image == nullptr) {
        return {};
    }
    width = GDALGetRasterXSize(image);
    height = GDALGetRasterYSize(image);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    int bands[3] = {1, 2, 3};
    EXPECT_EQ(GDALDatasetRasterIO(image, GF_Read, 0, 0, width, height, rgb.data(), width, height, GDT_Byte, 3, bands,
                                  3, width * 3, 1),
              CE_None);
    GDALClose(image);
    return rgb;
}

TEST(CornerPicture, TheOverviewFromTheFindersCopyShowsTheScansBlockMeans) {
    const test::TempDir dir;
    const std::string path = dir.File("scan.tif");
    test::WriteScan(path, kWidth, kHeight, Sample);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (int r = 0; r < kHeight; ++r) {
        for (int c = 0; c < kWidth; ++c) {
            for (int b = 0; b < 3; ++b) {
                pixels[(static_cast<std::size_t>(r) * kWidth + c) * 3 + b] = Sample(b, c, r);
            }
        }
    }
    const geometry::CornerPoints corners = {geometry::CornerPoint{1, 100.0, 150.0}, {2, 110.0, 1850.0},
                                            {3, 2890.0, 1860.0}, {4, 2900.0, 140.0}};

    // As the batch draws it after the search: the scan decoded, the
    // finder's copy kept.
    const ScanImage searched(path, pixels.data(), kWidth, kHeight);
    const cv::Mat copy = searched.ReadReduced(2);
    ASSERT_EQ(searched.KeptReduction(), 2);
    WriteCornerReport(dir.File("searched.png"), searched, 40572, corners, std::string());
    // Without a kept copy, from every pixel of the scan.
    const ScanImage fresh(path, pixels.data(), kWidth, kHeight);
    ASSERT_EQ(fresh.KeptReduction(), 0);
    WriteCornerReport(dir.File("fresh.png"), fresh, 40572, corners, std::string());

    int width = 0, height = 0, freshWidth = 0, freshHeight = 0;
    const std::vector<std::uint8_t> a = ReadRgb(dir.File("searched.png"), width, height);
    const std::vector<std::uint8_t> b = ReadRgb(dir.File("fresh.png"), freshWidth, freshHeight);
    ASSERT_EQ(width, freshWidth);
    ASSERT_EQ(height, freshHeight);
    // The overview: 1000 x 666 pixels, 8 from the left, under two lines of text.
    const int left = 8, top = 2 * 22 + 8, columns = kWidth / 3, rows = kHeight / 3;
    int worst = 0, outside = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inOverview = x >= left && x < left + columns && y >= top && y < top + rows;
            for (int k = 0; k < 3; ++k) {
                const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3 + k;
                const int d = std::abs(a[at] - b[at]);
                if (inOverview) {
                    worst = std::max(worst, d);
                } else if (d != 0) {
                    ++outside;
                }
            }
        }
    }
    // Means of means, rounded twice: a level apart at most, bars' edges included.
    EXPECT_LE(worst, 1);
    EXPECT_EQ(outside, 0) << "samples differing beyond the overview";
    // And the bars are where the scan has them: column 1500 of the scan is
    // overview column 500, dark; the paper between bars is not.
    const auto at = [&](int x, int y, int k) { return a[(static_cast<std::size_t>(top + y) * width + left + x) * 3 + k]; };
    EXPECT_LT(at(500, 250, 0), 40);
    EXPECT_GT(at(550, 250, 0), 140);
    EXPECT_LT(at(550, 300, 1), 70);
}

}  // namespace
}  // namespace georef::corners
