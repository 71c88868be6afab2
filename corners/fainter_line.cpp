#include "corners/fainter_line.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "corners/grey_order.hpp"

namespace georef::corners {

namespace {

// Millimetres on the paper.
constexpr double kZoneMm = 8.0;   // profiles averaged next to the corner, from the first one
constexpr double kReachMm = 4.5;  // looked for this far inside the line taken: the border's width
// Samples across, pixels: from kBehind outside the line taken, every kStep.
constexpr double kStep = 0.5;
constexpr double kBehind = 2.0;

// The mean of the stretch's profiles next to its corner, aligned on the
// line: sample k at kStep k - kBehind pixels inside it. Empty when too few
// profiles lie within the window.
std::vector<double> AlignedProfile(const StretchPlan& plan, const cv::Mat& grey, const SideLine& line, double dpi) {
    const cv::Rect& oriented = plan.oriented;
    const double direction = plan.stop >= plan.start ? 1.0 : -1.0;
    const double zone = std::min(MmToPixels(kZoneMm, dpi), std::fabs(plan.stop - plan.start));
    const int samples = static_cast<int>((MmToPixels(kReachMm, dpi) + kBehind) / kStep) + 1;
    std::vector<double> sum(static_cast<std::size_t>(samples), 0.0);
    std::vector<double> row(static_cast<std::size_t>(samples));
    int rows = 0;
    for (double along = plan.start; direction * (along - plan.start) <= zone; along += direction) {
        const int r = static_cast<int>(std::lround(along)) - oriented.y;
        if (r < 0 || r >= grey.rows) {
            continue;
        }
        const std::uint8_t* v = grey.ptr<std::uint8_t>(r);
        const double centre = line.Across(r + oriented.y) - oriented.x;
        bool whole = true;
        for (int k = 0; k < samples && whole; ++k) {
            const double x = centre - plan.outwardSign * (kStep * k - kBehind);
            const int c = static_cast<int>(std::floor(x));
            whole = c >= 0 && c + 1 < grey.cols;
            if (whole) {
                const double f = x - c;
                row[static_cast<std::size_t>(k)] = (1.0 - f) * v[c] + f * v[c + 1];
            }
        }
        if (whole) {
            for (std::size_t k = 0; k < sum.size(); ++k) {
                sum[k] += row[k];
            }
            ++rows;
        }
    }
    if (rows < kMinimumProfiles) {
        return {};
    }
    for (double& s : sum) {
        s /= rows;
    }
    return sum;
}

}  // namespace

std::optional<FainterLine> FainterLineInside(const StretchPlan& plan, const cv::Mat& grey, const SideLine& line,
                                             double dpi) {
    const std::vector<double> P = AlignedProfile(plan, grey, line, dpi);
    if (P.empty()) {
        return std::nullopt;
    }
    const GreyOrder order(grey);
    const double paper = order.AtShare(0.9);
    const double ink = order.AtShare(0.01);
    const double contrast = std::max(1.0, paper - ink);
    // The rise towards the paper going inside, grey levels per pixel: the
    // line taken's own inner flank first, then the inner flank of any line
    // inside it, merged with it (the rise only slackens between the two) or
    // apart (it falls between them).
    const int n = static_cast<int>(P.size());
    const auto inside = [](int k) { return kStep * k - kBehind; };
    const auto rise = [&P](int k) {
        return (P[static_cast<std::size_t>(k + 1)] - P[static_cast<std::size_t>(k - 1)]) / (2.0 * kStep);
    };
    const auto peak = [&rise](int k) { return rise(k) >= rise(k - 1) && rise(k) > rise(k + 1); };
    int own = 2;
    while (own + 2 < n && !(inside(own) >= 0.0 && peak(own))) {
        ++own;
    }
    std::optional<FainterLine> found;
    double valley = rise(own);
    for (int k = own + 1; k + 2 < n; ++k) {
        valley = std::min(valley, rise(k));
        if (peak(k) && valley <= 0.5 * rise(k) && (!found || rise(k) / contrast > found->edge)) {
            found = FainterLine{inside(k), rise(k) / contrast};
        }
    }
    return found;
}

}  // namespace georef::corners
