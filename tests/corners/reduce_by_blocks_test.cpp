#include <cstdint>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "corners/scan_image.hpp"

namespace georef::corners {
namespace {

// The reduced copy of a decoded scan must stay the one resize made (the
// finder's corners depend on it): every pixel of noise, of a few levels
// (many sums half way between two levels) and of a window of a larger
// image, at the reductions of 300 to 1200 dpi scans and beyond (sums held
// in 16 bits up to 16, in 32 above), white and black for the largest and
// least sums.
TEST(ReduceByBlocks, GivesTheSamePixelsAsResizeByArea) {
    cv::RNG rng(11);
    cv::Mat noise(96, 120, CV_8UC3), few(96, 120, CV_8UC3), larger(130, 170, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    rng.fill(few, cv::RNG::UNIFORM, 100, 102);
    rng.fill(larger, cv::RNG::UNIFORM, 0, 256);
    const cv::Mat window = larger(cv::Rect(7, 9, 120, 96));
    const cv::Mat white(96, 120, CV_8UC3, cv::Scalar::all(255));
    const cv::Mat black(96, 120, CV_8UC3, cv::Scalar::all(0));
    for (const cv::Mat& image : {noise, few, window, white, black}) {
        for (const int factor : {3, 4, 5, 8, 16, 32}) {
            const cv::Size reduced(image.cols / factor, image.rows / factor);
            const cv::Mat blocks = image(cv::Rect(0, 0, reduced.width * factor, reduced.height * factor));
            cv::Mat expected, got(reduced, CV_8UC3);
            cv::resize(blocks, expected, reduced, 0.0, 0.0, cv::INTER_AREA);
            ReduceByBlocks(blocks, factor, got);
            EXPECT_EQ(cv::norm(expected, got, cv::NORM_INF), 0.0) << "factor " << factor;
        }
    }
}

}  // namespace
}  // namespace georef::corners
