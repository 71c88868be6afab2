// The corner pictures' PNG writer: every pixel back as written, and a stream
// that cannot take the bytes is a failure with libpng's reason, not a short
// file reported as written.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include <gdal.h>
#include <opencv2/core.hpp>

#include "corners/png_writer.hpp"
#include "platform/failure.hpp"
#include "support/temp_dir.hpp"

namespace georef::corners {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Every byte value in each channel, and noise like a scan's.
cv::Mat Picture(int width, int height) {
    cv::Mat rgb(height, width, CV_8UC3);
    cv::randu(rgb, cv::Scalar::all(0), cv::Scalar::all(256));
    for (int x = 0; x < std::min(width, 256); ++x) {
        rgb.at<cv::Vec3b>(0, x) = cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(255 - x), 7);
    }
    return rgb;
}

TEST(PngWriter, AStreamThatCannotTakeTheBytesFailsWithLibpngsReason) {
    File full(std::fopen("/dev/full", "wb"));
    ASSERT_NE(full, nullptr);
    try {
        WriteRgbPng(full.get(), Picture(300, 200));
        FAIL() << "writing to /dev/full succeeded";
    } catch (const Failure& error) {
        EXPECT_NE(std::string(error.what()).find("libpng: "), std::string::npos) << error.what();
    }
    EXPECT_THROW(WriteRgbPng(full.get(), cv::Mat(10, 10, CV_8UC1)), Failure);
}

TEST(PngWriter, GdalReadsBackEveryPixelAsWritten) {
    const test::TempDir dir;
    const cv::Mat rgb = Picture(301, 7);
    {
        File file(std::fopen(dir.File("picture.png").c_str(), "wb"));
        ASSERT_NE(file, nullptr);
        WriteRgbPng(file.get(), rgb);
    }
    GDALAllRegister();
    GDALDatasetH png = GDALOpen(dir.File("picture.png").c_str(), GA_ReadOnly);
    ASSERT_NE(png, nullptr);
    ASSERT_EQ(GDALGetRasterCount(png), 3);
    cv::Mat back(rgb.rows, rgb.cols, CV_8UC3);
    int bands[3] = {1, 2, 3};
    const CPLErr read = GDALDatasetRasterIO(png, GF_Read, 0, 0, rgb.cols, rgb.rows, back.data, rgb.cols, rgb.rows,
                                            GDT_Byte, 3, bands, 3, static_cast<int>(back.step[0]), 1);
    GDALClose(png);
    ASSERT_EQ(read, CE_None);
    EXPECT_EQ(cv::norm(rgb, back, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace georef::corners
