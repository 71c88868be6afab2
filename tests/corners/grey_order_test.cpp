#include "corners/grey_order.hpp"

#include <cstdint>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace georef::corners {
namespace {

// Every place of the ascending order, and the shares the finder asks for,
// against a sort of the same pixels: images of few levels (long runs of
// ties), of every level, of one level, and a window that is not continuous.
TEST(GreyOrder, GivesTheLevelASortPutsAtEveryPlace) {
    cv::RNG rng(7);
    cv::Mat few(37, 53, CV_8UC1), every(64, 91, CV_8UC1);
    rng.fill(few, cv::RNG::UNIFORM, 100, 104);
    rng.fill(every, cv::RNG::UNIFORM, 0, 256);
    const cv::Mat flat(5, 9, CV_8UC1, cv::Scalar(200));
    const cv::Mat window = every(cv::Rect(3, 5, 41, 30));
    ASSERT_FALSE(window.isContinuous());
    for (const cv::Mat& grey : {few, every, flat, window}) {
        cv::Mat sorted = grey.clone().reshape(1, 1);
        cv::sort(sorted, sorted, cv::SORT_ASCENDING);
        const GreyOrder order(grey);
        ASSERT_EQ(order.Count(), static_cast<std::size_t>(sorted.cols));
        for (int k = 0; k < sorted.cols; ++k) {
            ASSERT_EQ(order.At(static_cast<std::size_t>(k)), sorted.at<std::uint8_t>(0, k)) << k;
        }
        for (const double share : {0.0, 0.005, 0.01, 0.5, 0.9, 1.0}) {
            EXPECT_EQ(order.AtShare(share), sorted.at<std::uint8_t>(0, static_cast<int>(share * (sorted.cols - 1))))
                << share;
        }
    }
    EXPECT_EQ(GreyOrder(cv::Mat()).AtShare(0.9), 0);
}

}  // namespace
}  // namespace georef::corners
