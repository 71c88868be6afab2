#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <opencv2/core.hpp>

namespace georef::corners {

// The grey levels of a CV_8U image in ascending order, kept as a count of
// each level: the level a sort of all the pixels would put at any place,
// without sorting them.
class GreyOrder {
public:
    explicit GreyOrder(const cv::Mat& grey);

    std::size_t Count() const { return count_; }
    // The level at `index` (0 based) of the ascending order; 0 for an empty image.
    std::uint8_t At(std::size_t index) const;
    // The level at `share` of the way from the darkest pixel to the lightest:
    // index share * (count - 1), rounded down.
    std::uint8_t AtShare(double share) const;

private:
    std::array<std::size_t, 256> counts_{};
    std::size_t count_ = 0;
};

}  // namespace georef::corners
