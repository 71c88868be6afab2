#include "corners/grey_order.hpp"

namespace georef::corners {

GreyOrder::GreyOrder(const cv::Mat& grey) {
    CV_Assert(grey.type() == CV_8UC1);
    // Four tables, so that runs of equal levels do not wait on one counter.
    std::array<std::array<std::size_t, 256>, 4> partial{};
    for (int r = 0; r < grey.rows; ++r) {
        const std::uint8_t* p = grey.ptr<std::uint8_t>(r);
        int c = 0;
        for (; c + 4 <= grey.cols; c += 4) {
            ++partial[0][p[c]];
            ++partial[1][p[c + 1]];
            ++partial[2][p[c + 2]];
            ++partial[3][p[c + 3]];
        }
        for (; c < grey.cols; ++c) {
            ++partial[0][p[c]];
        }
    }
    for (int v = 0; v < 256; ++v) {
        counts_[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
        count_ += counts_[v];
    }
}

std::uint8_t GreyOrder::At(std::size_t index) const {
    std::size_t below = 0;
    for (int v = 0; v < 256; ++v) {
        below += counts_[v];
        if (index < below) {
            return static_cast<std::uint8_t>(v);
        }
    }
    return count_ == 0 ? 0 : 255;
}

std::uint8_t GreyOrder::AtShare(double share) const {
    if (count_ == 0) {
        return 0;
    }
    return At(static_cast<std::size_t>(share * static_cast<double>(count_ - 1)));
}

}  // namespace georef::corners
