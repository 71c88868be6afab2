#include "corners/frame_edge.hpp"

#include <algorithm>
#include <cstddef>

namespace georef::corners {

namespace {

// Pixels before and after a rise looked at for the ink and the paper: a
// blurred edge at 300 dpi rises over about three.
constexpr int kRiseReach = 4;

}  // namespace

std::vector<double> PaperRises(const std::vector<float>& P, double minDepth) {
    const int n = static_cast<int>(P.size());
    const auto at = [&P](int i) { return P[static_cast<std::size_t>(i)]; };
    const auto rise = [&at](int i) { return at(i + 1) - at(i - 1); };
    std::vector<double> rises;
    for (int i = 2; i + 2 < n; ++i) {
        const float r = rise(i);
        if (!(r > 0.0f && r >= rise(i - 1) && r > rise(i + 1))) {
            continue;
        }
        float dark = at(i);
        for (int k = std::max(0, i - kRiseReach); k <= i; ++k) {
            dark = std::min(dark, at(k));
        }
        float light = at(i);
        for (int k = i; k <= std::min(n - 1, i + kRiseReach); ++k) {
            light = std::max(light, at(k));
        }
        if (light - dark < minDepth) {
            continue;
        }
        const float level = 0.5f * (light + dark);
        int j = i;
        while (j > 0 && at(j) >= level) {
            --j;
        }
        while (j + 1 < n && at(j + 1) < level) {
            ++j;
        }
        if (j + 1 >= n || at(j) >= level) {
            continue;
        }
        // at(j) < level <= at(j + 1)
        const double edge = j + (level - at(j)) / (at(j + 1) - at(j));
        if (rises.empty() || edge - rises.back() > 0.5) {
            rises.push_back(edge);
        }
    }
    return rises;
}

}  // namespace georef::corners
