// The shortcuts of the corner finder's search give what the plain way gives:
// the consensus of a stretch's centres leaves trial lines early, and the
// line transform of a top or bottom side reads its response as it lies.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "corners/candidate_lines.hpp"
#include "corners/line_fit.hpp"
#include "corners/scan_image.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/realistic_scan.hpp"

namespace georef::corners {
namespace {

// The consensus without shortcuts: every line through a pair of the end
// points tried is counted over every point; the first with the most
// profiles within kSupportDistance is taken.
std::vector<CentrePoint> PlainConsensus(const std::vector<CentrePoint>& points) {
    if (points.size() < 2) {
        return points;
    }
    double lo = points.front().along, hi = points.front().along;
    for (const CentrePoint& p : points) {
        lo = std::min(lo, p.along);
        hi = std::max(hi, p.along);
    }
    const double third = (hi - lo) / 3.0;
    std::vector<const CentrePoint*> early, late;
    for (const CentrePoint& p : points) {
        (p.along <= lo + third ? early : p.along >= hi - third ? late : early).push_back(&p);
    }
    const auto thin = [](std::vector<const CentrePoint*>& v) {
        if (v.size() > 40) {
            std::vector<const CentrePoint*> kept;
            for (std::size_t k = 0; k < 40; ++k) {
                kept.push_back(v[k * v.size() / 40]);
            }
            v.swap(kept);
        }
    };
    thin(early);
    thin(late);
    int bestSupport = -1;
    SideLine best;
    for (const CentrePoint* a : early) {
        for (const CentrePoint* b : late) {
            if (!(b->along - a->along > 0.5 * third)) {
                continue;
            }
            const double slope = (b->across - a->across) / (b->along - a->along);
            const SideLine line{a->across - slope * a->along, slope};
            int support = 0;
            int last = -1;
            for (const CentrePoint& p : points) {
                if (p.profile != last && std::fabs(p.across - line.Across(p.along)) <= kSupportDistance) {
                    ++support;
                    last = p.profile;
                }
            }
            if (support > bestSupport) {
                bestSupport = support;
                best = line;
            }
        }
    }
    if (bestSupport < 0) {
        return points;
    }
    return PointsNearLine(points, best);
}

// Centres as a stretch along a side gives them: per profile the neat line
// (missing on some, worn), the border's line outside it, a road inside it
// on part of the side, and stray crossings of lettering. step: the
// profiles' spacing; grain: centres rounded to it (many equal supports).
std::vector<CentrePoint> StretchCentres(cv::RNG& rng, int profiles, double step, double grain) {
    const double tilt = rng.uniform(-0.02, 0.02);
    const auto rounded = [grain](double v) { return grain > 0.0 ? grain * std::round(v / grain) : v; };
    std::vector<CentrePoint> points;
    for (int k = 0; k < profiles; ++k) {
        const double along = 300.0 + step * k;
        const double neat = 120.0 + tilt * along;
        const auto add = [&](double across) { points.push_back({k, along, rounded(across), true, 2.0}); };
        if (rng.uniform(0.0, 1.0) < 0.15) {
            add(neat - rng.uniform(3.0, 9.0));  // lettering inside
        }
        if (k > profiles / 3 && k < profiles / 2) {
            add(neat - 3.2 + rng.gaussian(0.3));  // a road inside
        }
        if (rng.uniform(0.0, 1.0) < 0.8) {
            add(neat + rng.gaussian(0.35));
        }
        if (rng.uniform(0.0, 1.0) < 0.9) {
            add(neat + 6.0 + rng.gaussian(0.3));  // the border's line
        }
    }
    return points;
}

void ExpectSamePoints(const std::vector<CentrePoint>& expected, const std::vector<CentrePoint>& got,
                      const std::string& what) {
    ASSERT_EQ(expected.size(), got.size()) << what;
    for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_EQ(expected[k].profile, got[k].profile) << what << " point " << k;
        EXPECT_EQ(expected[k].along, got[k].along) << what << " point " << k;
        EXPECT_EQ(expected[k].across, got[k].across) << what << " point " << k;
    }
}

TEST(Consensus, TakesTheLineThePlainWayTakes) {
    cv::RNG rng(20);
    for (int trial = 0; trial < 60; ++trial) {
        const int profiles = trial % 3 == 0 ? 40 : 200;
        const double grain = trial % 2 == 0 ? 0.25 : 0.0;
        const std::vector<CentrePoint> points = StretchCentres(rng, profiles, 3.0, grain);
        ExpectSamePoints(PlainConsensus(points), Consensus(points), "trial " + std::to_string(trial));
        // What remains for a second line, as the next round gets it.
        const std::vector<CentrePoint> kept = Consensus(points);
        if (kept.size() >= 2) {
            const std::optional<LineFit> fit = FitRobustly(kept);
            ASSERT_TRUE(fit);
            const std::vector<CentrePoint> rest = PointsAwayFrom(points, fit->line);
            ExpectSamePoints(PlainConsensus(rest), Consensus(rest), "rest of trial " + std::to_string(trial));
        }
    }
    // Few points, and points on one along coordinate (no pair spans the stretch).
    const std::vector<CentrePoint> two = {{0, 10.0, 5.0, true, 2.0}, {1, 40.0, 5.5, true, 2.0}};
    ExpectSamePoints(PlainConsensus(two), Consensus(two), "two points");
    const std::vector<CentrePoint> oneAlong = {{0, 10.0, 5.0, true, 2.0}, {0, 10.0, 9.0, true, 2.0}};
    ExpectSamePoints(PlainConsensus(oneAlong), Consensus(oneAlong), "one along");
}

// With a least support asked, the line taken is the plain way's whenever
// that line reaches it; otherwise fewer points than asked come back, so a
// caller that needs that many stops as it would have.
TEST(Consensus, WithALeastSupportTakesThePlainLineOrTooFewPoints) {
    cv::RNG rng(21);
    int reached = 0;
    int missed = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const int profiles = trial % 3 == 0 ? 40 : 200;
        const std::vector<CentrePoint> points = StretchCentres(rng, profiles, 3.0, trial % 2 == 0 ? 0.25 : 0.0);
        const std::vector<CentrePoint> plain = PlainConsensus(points);
        for (const int least : {1, static_cast<int>(plain.size()), static_cast<int>(plain.size()) + 1,
                                profiles / 2, profiles}) {
            const std::vector<CentrePoint> got = Consensus(points, least);
            const std::string what = "trial " + std::to_string(trial) + " least " + std::to_string(least);
            if (static_cast<int>(plain.size()) >= least) {
                ExpectSamePoints(plain, got, what);
                ++reached;
            } else {
                EXPECT_LT(static_cast<int>(got.size()), least) << what;
                ++missed;
            }
        }
    }
    EXPECT_GT(reached, 40);
    EXPECT_GT(missed, 40);
}

// The edge response of a drawn scan's reduced copy, from ink to paper seen
// from the given direction (as the search makes them: the brightest
// channel, a Sobel filter, 8 bits).
cv::Mat EdgeResponse(const cv::Mat& reduced, bool acrossColumns, double sign) {
    std::vector<cv::Mat> channels;
    cv::split(reduced, channels);
    const cv::Mat grey = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    cv::Mat gradient, response;
    cv::Sobel(grey, gradient, CV_16S, acrossColumns ? 1 : 0, acrossColumns ? 0 : 1, 3);
    gradient.convertTo(response, CV_8U, sign * kFullResponse / 150.0);
    return response;
}

TEST(FindCandidateLines, ReadsAResponseAsItLiesAsItsTransposed) {
    test::TempDir dir;
    synthesis::RealisticScanOptions options;
    options.dpi = 150.0;
    synthesis::WriteRealisticScan(40572, dir.File("scan.jpg"), options);
    const ScanImage scan(dir.File("scan.jpg"));
    const cv::Mat reduced = scan.ReadReduced(2);
    for (const double sign : {1.0, -1.0}) {
        // A top or bottom side: rows across, columns along.
        const cv::Mat response = EdgeResponse(reduced, false, sign);
        const cv::Mat transposed = response.t();
        for (const bool mapTowardsLarger : {true, false}) {
            const SideCandidates asItLies = FindCandidateLines(response, false, mapTowardsLarger);
            const SideCandidates plain = FindCandidateLines(transposed, true, mapTowardsLarger);
            ASSERT_FALSE(plain.lines.empty());
            EXPECT_EQ(plain.strongestCover, asItLies.strongestCover);
            ASSERT_EQ(plain.lines.size(), asItLies.lines.size());
            for (std::size_t k = 0; k < plain.lines.size(); ++k) {
                EXPECT_EQ(plain.lines[k].acrossAtCentre, asItLies.lines[k].acrossAtCentre) << k;
                EXPECT_EQ(plain.lines[k].tilt, asItLies.lines[k].tilt) << k;
                EXPECT_EQ(plain.lines[k].cover, asItLies.lines[k].cover) << k;
            }
        }
    }
}

}  // namespace
}  // namespace georef::corners
