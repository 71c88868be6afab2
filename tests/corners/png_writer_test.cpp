// The corner pictures' PNG writer: every pixel back as written, and a stream
// that cannot take the bytes is a failure with libpng's reason, not a short
// file reported as written.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gdal.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <png.h>

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

// A picture like a corner picture: white paper, a noisy grey scan and
// coloured lines, large enough for many deflate blocks.
cv::Mat ScanLike(int width, int height) {
    cv::Mat rgb(height, width, CV_8UC3, cv::Scalar::all(255));
    cv::Mat scan = rgb(cv::Rect(8, 40, width - 16, height - 120));
    cv::randn(scan, cv::Scalar(200, 190, 170), cv::Scalar::all(30));
    cv::line(rgb, cv::Point(0, 0), cv::Point(width - 1, height - 1), cv::Scalar(230, 30, 30), 3);
    cv::rectangle(rgb, cv::Rect(20, height - 70, width / 3, 50), cv::Scalar(20, 170, 40), cv::FILLED);
    return rgb;
}

void WritePicture(const std::string& path, const cv::Mat& rgb) {
    File file(std::fopen(path.c_str(), "wb"));
    ASSERT_NE(file, nullptr);
    WriteRgbPng(file.get(), rgb);
}

TEST(PngWriter, GdalReadsBackEveryPixelAsWritten) {
    const test::TempDir dir;
    for (const cv::Mat& rgb : {Picture(301, 7), Picture(1, 1), ScanLike(1192, 1338)}) {
        WritePicture(dir.File("picture.png"), rgb);
        GDALAllRegister();
        GDALDatasetH png = GDALOpen(dir.File("picture.png").c_str(), GA_ReadOnly);
        ASSERT_NE(png, nullptr);
        ASSERT_EQ(GDALGetRasterCount(png), 3);
        ASSERT_EQ(GDALGetRasterXSize(png), rgb.cols);
        ASSERT_EQ(GDALGetRasterYSize(png), rgb.rows);
        cv::Mat back(rgb.rows, rgb.cols, CV_8UC3);
        int bands[3] = {1, 2, 3};
        const CPLErr read = GDALDatasetRasterIO(png, GF_Read, 0, 0, rgb.cols, rgb.rows, back.data, rgb.cols,
                                                rgb.rows, GDT_Byte, 3, bands, 3, static_cast<int>(back.step[0]), 1);
        GDALClose(png);
        ASSERT_EQ(read, CE_None);
        EXPECT_EQ(cv::norm(rgb, back, cv::NORM_INF), 0.0) << rgb.cols << " x " << rgb.rows;
    }
}

// libpng's own reader checks every chunk's checksum, the zlib stream's and
// that the file ends with IEND; it must find nothing to say, not even a
// warning.
TEST(PngWriter, LibpngReadsTheFileWithoutAWord) {
    const test::TempDir dir;
    const cv::Mat rgb = ScanLike(640, 480);
    WritePicture(dir.File("picture.png"), rgb);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, dir.File("picture.png").c_str()), 0) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> back(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr), 0) << image.message;
    EXPECT_EQ(image.warning_or_error, 0u) << image.message;
    ASSERT_EQ(back.size(), rgb.total() * 3);
    EXPECT_EQ(std::memcmp(back.data(), rgb.data, back.size()), 0);

    // The file ends with its IEND chunk (the reader above stops at the image data).
    {
        File in(std::fopen(dir.File("picture.png").c_str(), "rb"));
        ASSERT_EQ(std::fseek(in.get(), -12, SEEK_END), 0);
        unsigned char end[12] = {};
        ASSERT_EQ(std::fread(end, 1, sizeof end, in.get()), sizeof end);
        const unsigned char iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
        EXPECT_EQ(std::memcmp(end, iend, sizeof end), 0);
    }

    // A file cut short is refused by the same reader.
    const std::string cut = dir.File("cut.png");
    {
        File in(std::fopen(dir.File("picture.png").c_str(), "rb"));
        File out(std::fopen(cut.c_str(), "wb"));
        std::vector<char> bytes(4096);
        std::fwrite(bytes.data(), 1, std::fread(bytes.data(), 1, bytes.size(), in.get()), out.get());
    }
    png_image shortened{};
    shortened.version = PNG_IMAGE_VERSION;
    bool refused = png_image_begin_read_from_file(&shortened, cut.c_str()) == 0;
    if (!refused) {
        shortened.format = PNG_FORMAT_RGB;
        refused = png_image_finish_read(&shortened, nullptr, back.data(), 0, nullptr) == 0;
    }
    png_image_free(&shortened);
    EXPECT_TRUE(refused);
}

}  // namespace
}  // namespace georef::corners
