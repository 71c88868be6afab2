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
// Looked for this far inside the border's outer frame: the border's width,
// and the paper beyond the neat line's inner flank.
constexpr double kFrameReachMm = 5.5;
// Samples across, pixels: from kBehind outside the line taken, every kStep.
constexpr double kStep = 0.5;
constexpr double kBehind = 2.0;
// The spread of a thin line's blurred profile, pixels, that is believed:
// a sharp line still spreads over a pixel's part, a blur over 3 px would
// not leave the line seen apart from the border.
constexpr double kMinSpread = 0.3;
constexpr double kMaxSpread = 3.0;
// Samples beyond the steepest flank where the paper's level is taken, and
// the bell's steepest flank lies exp(-1/2) of its depth over its spread.
constexpr int kPaperSamples = 6;
constexpr double kBellFlank = 0.6065306597126334;

// The mean of the stretch's profiles next to its corner, aligned on the
// line: sample k at kStep k - kBehind pixels inside it. Empty when too few
// profiles lie within the window. from: the profiles averaged begin this
// far along from the one next to the corner, pixels.
std::vector<double> AlignedProfile(const StretchPlan& plan, const cv::Mat& grey, const SideLine& line, double dpi,
                                   double reachMm = kReachMm, double from = 0.0) {
    const cv::Rect& oriented = plan.oriented;
    const double direction = plan.stop >= plan.start ? 1.0 : -1.0;
    const double zone = std::min(MmToPixels(kZoneMm, dpi), std::fabs(plan.stop - plan.start) - from);
    const int samples = static_cast<int>((MmToPixels(reachMm, dpi) + kBehind) / kStep) + 1;
    std::vector<double> sum(static_cast<std::size_t>(samples), 0.0);
    std::vector<double> row(static_cast<std::size_t>(samples));
    int rows = 0;
    const double first = plan.start + direction * from;
    for (double along = first; direction * (along - first) <= zone; along += direction) {
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

// The centre of the thin line whose steepest inner flank is at sample
// `flank`, on the profile P aligned on the line taken; the line's level is
// the darkest between where the rise from the line taken's own flank `own`
// slackens most and `flank`, the paper's the lightest just beyond. Empty when its spread is not a thin
// line's.
std::optional<double> BellCentre(const std::vector<double>& P, int own, int flank) {
    const auto n = static_cast<int>(P.size());
    const auto at = [&P](int k) { return P[static_cast<std::size_t>(k)]; };
    const auto rise = [&at](int k) { return (at(k + 1) - at(k - 1)) / (2.0 * kStep); };
    int slack = own + 1;  // where the rise from the line taken slackens most
    for (int k = own + 1; k < flank; ++k) {
        if (rise(k) < rise(slack)) {
            slack = k;
        }
    }
    double line = at(flank);
    for (int k = slack; k <= flank; ++k) {
        line = std::min(line, at(k));
    }
    double paper = at(flank);
    for (int k = flank; k < std::min(n, flank + kPaperSamples + 1); ++k) {
        paper = std::max(paper, at(k));
    }
    // The steepest point between samples, from a parabola through the
    // rises at the three samples around it.
    const double before = rise(flank - 1);
    const double top = rise(flank);
    const double after = rise(flank + 1);
    const double bend = before - 2.0 * top + after;
    const double shift = bend < 0.0 ? std::clamp(0.5 * (before - after) / bend, -0.5, 0.5) : 0.0;
    const double steepest = top - 0.25 * (before - after) * shift;
    if (steepest <= 0.0) {
        return std::nullopt;
    }
    const double spread = kBellFlank * (paper - line) / steepest;
    if (spread < kMinSpread || spread > kMaxSpread) {
        return std::nullopt;
    }
    return kStep * (flank + shift) - kBehind - spread;
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
    int at = 0;
    double valley = rise(own);
    for (int k = own + 1; k + 2 < n; ++k) {
        valley = std::min(valley, rise(k));
        if (peak(k) && valley <= 0.5 * rise(k) && (!found || rise(k) / contrast > found->edge)) {
            found = FainterLine{inside(k), rise(k) / contrast, std::nullopt};
            at = k;
        }
    }
    if (found) {
        found->centre = BellCentre(P, own, at);
    }
    return found;
}

std::vector<double> LineCentresInside(const StretchPlan& plan, const cv::Mat& grey, const SideLine& line,
                                      double dpi, double from) {
    const std::vector<double> P = AlignedProfile(plan, grey, line, dpi, kFrameReachMm, from);
    if (P.size() < 8) {
        return {};
    }
    const GreyOrder order(grey);
    const double contrast = std::max(1.0, static_cast<double>(order.AtShare(0.9)) - order.AtShare(0.01));
    const int n = static_cast<int>(P.size());
    const auto rise = [&P](int k) {
        return (P[static_cast<std::size_t>(k + 1)] - P[static_cast<std::size_t>(k - 1)]) / (2.0 * kStep);
    };
    const auto peak = [&rise](int k) { return rise(k) >= rise(k - 1) && rise(k) > rise(k + 1); };
    // Each inner flank steep enough, and apart from the one before it (the
    // rise falls to half of its own between them), with room beyond it for
    // the paper's level.
    std::vector<double> centres;
    int own = 1;
    double valley = rise(1);
    for (int k = 2; k + kPaperSamples + 1 < n; ++k) {
        valley = std::min(valley, rise(k));
        if (!peak(k) || rise(k) / contrast < kFainterEdge || valley > 0.5 * rise(k)) {
            continue;
        }
        if (own + 1 < k) {
            if (const std::optional<double> centre = BellCentre(P, own, k)) {
                centres.push_back(*centre);
            }
        }
        own = k;
        valley = rise(k);
    }
    return centres;
}

}  // namespace georef::corners
