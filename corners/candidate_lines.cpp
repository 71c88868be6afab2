#include "corners/candidate_lines.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/imgproc.hpp>

namespace georef::corners {

namespace {

// The paper may be rotated by up to 3 degrees in the scan; a little more is
// searched.
constexpr double kMaxTilt = 0.0612;  // tan(3.5 degrees)
// Rows of one band of the line transform, reduced pixels: a side tilted by
// 3.5 degrees drifts less than a pixel within a band.
constexpr int kBandRows = 12;
// Share of the side's strongest line a candidate must reach.
constexpr double kRelativeCover = 0.3;
// Candidates kept per side, innermost first.
constexpr int kCandidatesPerSide = 5;
// A candidate is the strongest column within this many on either side.
constexpr int kPeakReach = 3;
// Columns of the line transform summed together, in lanes of four: each
// lane adds as a float alone does.
constexpr int kBlock = 16;
constexpr int kLanes = 4;
typedef float Floats __attribute__((vector_size(kLanes * sizeof(float))));

// The best straight line through each column of the oriented response.
struct LineTransform {
    std::vector<float> score;  // the response summed along the line, full steps
    std::vector<float> tilt;   // the line's tilt, across per along
};

// Straight-line transform restricted to near-vertical lines: the response
// is summed over bands of rows, and each band's column profile is shifted
// along each tilt. Keeps the best tilt and score per column (at the
// response's centre row) for the columns [first, end); the others stay 0.
// Each column's score is summed from the same profiles in the same order
// whichever columns are asked for.
LineTransform TransformLines(const cv::Mat& response, bool runsDown, int first, int end) {
    // Along the side and across it.
    const int rows = runsDown ? response.rows : response.cols;
    const int cols = runsDown ? response.cols : response.rows;
    const int bands = std::max(1, rows / kBandRows);
    const double centre = 0.5 * rows;
    const int tilts = 2 * static_cast<int>(std::ceil(kMaxTilt * rows)) + 1;
    // A band's shift stays within kMaxTilt * rows / 2 columns: only the
    // profiles' columns [lo, hi) are summed.
    const int reach = static_cast<int>(std::ceil(kMaxTilt * rows)) + 1;
    const int lo = std::max(0, first - reach);
    const int hi = std::min(cols, end + reach);
    // Each band's profile at columns [first - reach, end + reach + kBlock),
    // 0 off the response: adding 0 to a sum of non-negative values leaves
    // it as it is, as skipping the band there did.
    const int width = end - first + 2 * reach + kBlock;
    const int origin = first - reach;  // column of index 0
    std::vector<float> profiles(static_cast<std::size_t>(bands) * static_cast<std::size_t>(width), 0.0f);
    for (int b = 0; b < bands; ++b) {
        const int r0 = b * rows / bands;
        const int r1 = (b + 1) * rows / bands;
        // Sums of at most kBandRows bytes: exact in float whichever way they run.
        cv::Mat sums;
        if (runsDown) {
            cv::reduce(response(cv::Range(r0, r1), cv::Range(lo, hi)), sums, 0, cv::REDUCE_SUM, CV_32F);
        } else {
            cv::reduce(response(cv::Range(lo, hi), cv::Range(r0, r1)), sums, 1, cv::REDUCE_SUM, CV_32F);
        }
        cv::Mat profile(1, hi - lo, CV_32F, profiles.data() + static_cast<std::size_t>(b) * width + (lo - origin));
        sums.reshape(1, 1).convertTo(profile, CV_32F, 1.0 / kFullResponse);
    }
    LineTransform transform;
    transform.score.assign(static_cast<std::size_t>(cols), 0.0f);
    transform.tilt.assign(static_cast<std::size_t>(cols), 0.0f);
    std::vector<const float*> shifted(static_cast<std::size_t>(bands));
    for (int k = 0; k < tilts; ++k) {
        const double t = -kMaxTilt + 2.0 * kMaxTilt * k / std::max(1, tilts - 1);
        for (int b = 0; b < bands; ++b) {
            const double bandCentre = (b + 0.5) * rows / bands;
            const int shift = static_cast<int>(std::lround(t * (bandCentre - centre)));
            // shifted[b][x - first] is the band's profile at column x + shift.
            shifted[static_cast<std::size_t>(b)] =
                profiles.data() + static_cast<std::size_t>(b) * width + (first + shift - origin);
        }
        // A block of columns summed over every band in band order, held in
        // registers rather than stored and loaded again for each band.
        for (int x0 = first; x0 < end; x0 += kBlock) {
            Floats sum[kBlock / kLanes] = {};
            for (const float* p : shifted) {
                const float* q = p + (x0 - first);
                for (int v = 0; v < kBlock / kLanes; ++v) {
                    Floats lanes;
                    std::memcpy(&lanes, q + v * kLanes, sizeof lanes);
                    sum[v] += lanes;
                }
            }
            float acc[kBlock];
            std::memcpy(acc, sum, sizeof acc);
            for (int i = 0; i < kBlock && x0 + i < end; ++i) {
                const std::size_t x = static_cast<std::size_t>(x0 + i);
                if (acc[i] > transform.score[x]) {
                    transform.score[x] = acc[i];
                    transform.tilt[x] = static_cast<float>(t);
                }
            }
        }
    }
    return transform;
}

// Whether column x is a local maximum of the score (of equal neighbours,
// the leftmost).
bool IsPeak(const std::vector<float>& score, int x) {
    const int cols = static_cast<int>(score.size());
    const float v = score[static_cast<std::size_t>(x)];
    for (int d = -kPeakReach; d <= kPeakReach; ++d) {
        const int y = x + d;
        if (d != 0 && y >= 0 && y < cols) {
            const float w = score[static_cast<std::size_t>(y)];
            if (!(d < 0 ? v > w : v >= w)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

SideCandidates FindCandidateLines(const cv::Mat& response, bool runsDown, bool mapTowardsLargerAcross) {
    const int cols = runsDown ? response.cols : response.rows;
    const double rows = runsDown ? response.rows : response.cols;
    SideCandidates side;
    const int half = cols / 2;
    // The side's half, and the columns next to it that tell its peaks.
    const LineTransform transform =
        mapTowardsLargerAcross ? TransformLines(response, runsDown, 0, std::min(cols, half + kPeakReach))
                               : TransformLines(response, runsDown, std::max(0, half - kPeakReach), cols);
    for (int x = 0; x < cols; ++x) {
        const bool outerHalf = mapTowardsLargerAcross ? x < half : x >= half;
        if (!outerHalf) {
            continue;
        }
        const float v = transform.score[static_cast<std::size_t>(x)];
        side.strongestCover = std::max(side.strongestCover, v / rows);
        if (v < kCandidateCover * rows) {
            continue;
        }
        if (IsPeak(transform.score, x)) {
            side.lines.push_back({static_cast<double>(x), transform.tilt[static_cast<std::size_t>(x)], v / rows});
        }
    }
    // Lines much weaker than the side's strongest are texture (hatching,
    // lettering); of the rest, innermost first.
    std::vector<CandidateLine>& lines = side.lines;
    const double strongest = side.strongestCover;
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [strongest](const CandidateLine& c) { return c.cover < kRelativeCover * strongest; }),
                lines.end());
    std::sort(lines.begin(), lines.end(), [mapTowardsLargerAcross](const CandidateLine& p, const CandidateLine& q) {
        return mapTowardsLargerAcross ? p.acrossAtCentre > q.acrossAtCentre : p.acrossAtCentre < q.acrossAtCentre;
    });
    if (lines.size() > static_cast<std::size_t>(kCandidatesPerSide)) {
        lines.resize(static_cast<std::size_t>(kCandidatesPerSide));
    }
    return side;
}

SideLine ToSideLine(const CandidateLine& candidate, double alongCentre) noexcept {
    return {candidate.acrossAtCentre - candidate.tilt * alongCentre, candidate.tilt};
}

}  // namespace georef::corners
