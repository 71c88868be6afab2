#include "corners/coarse_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace georef::corners {

namespace {

// The paper may be rotated by up to 3 degrees in the scan; a little more is
// searched.
constexpr double kMaxTilt = 0.0612;  // tan(3.5 degrees)
// Rows of one band of the line transform, reduced pixels: a side tilted by
// 3.5 degrees drifts less than a pixel within a band.
constexpr int kBandRows = 12;
// A line is a candidate when its edge covers this share of the scan's height
// (or width) at full strength.
constexpr double kCandidateCover = 0.25;
// Share of the side's strongest line a candidate must reach.
constexpr double kRelativeCover = 0.3;
// Candidates kept per side, innermost first.
constexpr int kCandidatesPerSide = 5;
// A side is accepted when its edge is present along this share of its length
// between the corners, and of each end stretch next to a corner.
constexpr double kSideCover = 0.6;
constexpr double kEndCover = 0.5;
constexpr double kEndStretch = 0.12;   // share of the side's length at each end
constexpr double kCornerSkip = 0.015;  // share left out at the corner itself
// An edge sample counts as present at this share of the edge cap.
constexpr double kPresent = 0.3;
// The quadrilateral's width / height ratio, and its size when the dpi is
// known, agree with the sheet within this share.
constexpr double kShapeTolerance = 0.03;
// The edge response of a full step, in the 8-bit response images.
constexpr double kFullResponse = 255.0;
// Least contrast between paper and ink, grey levels.
constexpr double kMinimumContrast = 30.0;

// Grey value of the value-th share of a CV_8U image.
double Percentile(const cv::Mat& grey, double share) {
    int histogram[256] = {};
    for (int r = 0; r < grey.rows; ++r) {
        const std::uint8_t* p = grey.ptr<std::uint8_t>(r);
        for (int c = 0; c < grey.cols; ++c) {
            ++histogram[p[c]];
        }
    }
    const double target = share * static_cast<double>(grey.total());
    double sum = 0.0;
    for (int v = 0; v < 256; ++v) {
        sum += histogram[v];
        if (sum >= target) {
            return v;
        }
    }
    return 255.0;
}

// Candidate line of one side in the oriented response (lines near vertical):
// column = x0 + t * (row - centreRow).
struct Candidate {
    double x0 = 0.0;
    double t = 0.0;
    double cover = 0.0;  // share of the response's rows
};

// Straight-line transform restricted to near-vertical lines: the response
// (CV_8U, kFullResponse for 1) is summed over bands of rows, and each band's column
// profile is shifted along each tilt. Returns the best tilt and score per
// column.
void LineTransform(const cv::Mat& response, std::vector<float>& best, std::vector<float>& bestTilt) {
    const int rows = response.rows;
    const int cols = response.cols;
    const int bands = std::max(1, rows / kBandRows);
    cv::Mat profiles(bands, cols, CV_32F);
    for (int b = 0; b < bands; ++b) {
        const int r0 = b * rows / bands;
        const int r1 = (b + 1) * rows / bands;
        cv::Mat row;
        cv::reduce(response.rowRange(r0, r1), row, 0, cv::REDUCE_SUM, CV_32F);
        row.convertTo(profiles.row(b), CV_32F, 1.0 / kFullResponse);
    }
    const double centre = 0.5 * rows;
    const int tilts = 2 * static_cast<int>(std::ceil(kMaxTilt * rows)) + 1;
    best.assign(static_cast<std::size_t>(cols), 0.0f);
    bestTilt.assign(static_cast<std::size_t>(cols), 0.0f);
    std::vector<float> acc(static_cast<std::size_t>(cols));
    for (int k = 0; k < tilts; ++k) {
        const double t = -kMaxTilt + 2.0 * kMaxTilt * k / std::max(1, tilts - 1);
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (int b = 0; b < bands; ++b) {
            const double bandCentre = (b + 0.5) * rows / bands;
            const int shift = static_cast<int>(std::lround(t * (bandCentre - centre)));
            const float* p = profiles.ptr<float>(b);
            const int from = std::max(0, -shift);
            const int to = std::min(cols, cols - shift);
            for (int x = from; x < to; ++x) {
                acc[static_cast<std::size_t>(x)] += p[x + shift];
            }
        }
        for (int x = 0; x < cols; ++x) {
            if (acc[static_cast<std::size_t>(x)] > best[static_cast<std::size_t>(x)]) {
                best[static_cast<std::size_t>(x)] = acc[static_cast<std::size_t>(x)];
                bestTilt[static_cast<std::size_t>(x)] = static_cast<float>(t);
            }
        }
    }
}

// Local maxima of the transform, innermost first: towards larger columns
// when the map lies towards larger columns (inwardUp), else smaller.
std::vector<Candidate> Candidates(const cv::Mat& response, bool inwardUp, double& strongest) {
    std::vector<float> best;
    std::vector<float> tilt;
    LineTransform(response, best, tilt);
    const int cols = response.cols;
    const double rows = response.rows;
    std::vector<Candidate> found;
    strongest = 0.0;
    const int half = cols / 2;
    for (int x = 0; x < cols; ++x) {
        const bool outerHalf = inwardUp ? x < half : x >= half;
        if (!outerHalf) {
            continue;
        }
        const float v = best[static_cast<std::size_t>(x)];
        strongest = std::max(strongest, v / rows);
        if (v < kCandidateCover * rows) {
            continue;
        }
        bool peak = true;
        for (int d = -3; d <= 3 && peak; ++d) {
            const int y = x + d;
            if (d != 0 && y >= 0 && y < cols) {
                const float w = best[static_cast<std::size_t>(y)];
                peak = d < 0 ? v > w : v >= w;
            }
        }
        if (peak) {
            found.push_back({static_cast<double>(x), tilt[static_cast<std::size_t>(x)], v / rows});
        }
    }
    // Lines much weaker than the side's strongest are texture (hatching,
    // lettering); of the rest, innermost first.
    found.erase(std::remove_if(found.begin(), found.end(),
                               [strongest](const Candidate& c) { return c.cover < kRelativeCover * strongest; }),
                found.end());
    std::sort(found.begin(), found.end(),
              [inwardUp](const Candidate& p, const Candidate& q) { return inwardUp ? p.x0 > q.x0 : p.x0 < q.x0; });
    if (found.size() > static_cast<std::size_t>(kCandidatesPerSide)) {
        found.resize(static_cast<std::size_t>(kCandidatesPerSide));
    }
    return found;
}

// The candidate as a side line in reduced plane pixels.
SideLine ToLine(const Candidate& c, double alongCentre) { return {c.x0 - c.t * alongCentre, c.t}; }

struct SideCover {
    double whole = 0.0;
    double first = 0.0;  // end stretch at the start corner
    double last = 0.0;   // end stretch at the end corner
};

// How much of the segment between two corners the side's edge response
// (reduced, not oriented: rows and columns of the image) covers.
SideCover Cover(const cv::Mat& response, Side side, const PlanePoint& from, const PlanePoint& to) {
    const double length = std::hypot(to.column - from.column, to.row - from.row);
    const int samples = std::max(8, static_cast<int>(length));
    int present = 0;
    int counted = 0;
    int firstPresent = 0, firstCount = 0, lastPresent = 0, lastCount = 0;
    for (int k = 0; k < samples; ++k) {
        const double s = (k + 0.5) / samples;
        if (s < kCornerSkip || s > 1.0 - kCornerSkip) {
            continue;
        }
        const double column = from.column + s * (to.column - from.column);
        const double row = from.row + s * (to.row - from.row);
        const int c = static_cast<int>(std::lround(column));
        const int r = static_cast<int>(std::lround(row));
        double strongest = 0.0;
        for (int d = -1; d <= 1; ++d) {
            const int cc = RunsDown(side) ? c + d : c;
            const int rr = RunsDown(side) ? r : r + d;
            if (cc >= 0 && rr >= 0 && cc < response.cols && rr < response.rows) {
                strongest = std::max(strongest, response.at<std::uint8_t>(rr, cc) / kFullResponse);
            }
        }
        const bool here = strongest >= kPresent;
        ++counted;
        present += here;
        if (s < kEndStretch) {
            ++firstCount;
            firstPresent += here;
        } else if (s > 1.0 - kEndStretch) {
            ++lastCount;
            lastPresent += here;
        }
    }
    SideCover cover;
    cover.whole = counted > 0 ? static_cast<double>(present) / counted : 0.0;
    cover.first = firstCount > 0 ? static_cast<double>(firstPresent) / firstCount : 0.0;
    cover.last = lastCount > 0 ? static_cast<double>(lastPresent) / lastCount : 0.0;
    return cover;
}

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", 100.0 * share);
    return text;
}

}  // namespace

double PixelsPerMetre(double dpi) noexcept { return dpi / 635.0; }

CoarseResult SearchReduced(const cv::Mat& reduced, int factor, const SheetShape& shape) {
    CoarseResult result;
    // The darkest channel of colour features is light: the black line stays
    // dark in the brightest channel, red roads and blue water do not.
    std::vector<cv::Mat> channels;
    cv::split(reduced, channels);
    cv::Mat grey = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    const double paper = Percentile(grey, 0.9);
    const double ink = Percentile(grey, 0.005);
    if (paper - ink < kMinimumContrast) {
        result.refusal = "the scan shows no dark lines on the paper (contrast " + std::to_string(int(paper - ink)) +
                         " grey levels)";
        return result;
    }
    // Edge responses, 0..1: a sharp step from ink to paper gives 4 (paper - ink)
    // in the Sobel filter; a thin line seen at the reduced scale about a third.
    const double cap = 1.0 * (paper - ink);
    // Held as 8-bit images (kFullResponse for a full step) to keep memory
    // low: four of them and two gradients of the reduced copy.
    std::array<cv::Mat, 4> response;  // per side, image orientation
    {
        cv::Mat gx, gy;
        cv::Sobel(grey, gx, CV_16S, 1, 0, 3);
        cv::Sobel(grey, gy, CV_16S, 0, 1, 3);
        const double scale = kFullResponse / cap;
        // convertTo saturates: negative gradients become 0.
        gx.convertTo(response[static_cast<int>(Side::left)], CV_8U, scale);
        gx.convertTo(response[static_cast<int>(Side::right)], CV_8U, -scale);
        gy.convertTo(response[static_cast<int>(Side::top)], CV_8U, scale);
        gy.convertTo(response[static_cast<int>(Side::bottom)], CV_8U, -scale);
    }

    std::array<std::vector<Candidate>, 4> candidates;
    std::array<double, 4> alongCentre{};
    for (Side side : kSides) {
        const int s = static_cast<int>(side);
        cv::Mat oriented = response[s];
        if (!RunsDown(side)) {
            oriented = response[s].t();
        }
        alongCentre[s] = 0.5 * oriented.rows;
        double strongest = 0.0;
        candidates[s] = Candidates(oriented, Outward(side) < 0, strongest);
        if (candidates[s].empty()) {
            result.refusal = std::string(SideName(side)) + ": no long straight edge of a dark line (the longest covers " +
                             Percent(strongest) + " of the scan's " + (RunsDown(side) ? "height" : "width") +
                             ", at least " + Percent(kCandidateCover) + " needed)";
            return result;
        }
    }

    // The sheet's shape: mean width over mean height, and the size in
    // reduced pixels when the resolution is known.
    const double nominalWidth = 0.5 * (shape.sideMetres[1] + shape.sideMetres[3]);
    const double nominalHeight = 0.5 * (shape.sideMetres[0] + shape.sideMetres[2]);
    const double nominalRatio = nominalWidth / nominalHeight;

    // Every combination of candidates, innermost first; the first whose
    // sides all run into their corners and whose shape is the sheet's wins.
    const std::size_t nl = candidates[0].size(), nt = candidates[1].size(), nr = candidates[2].size(),
                      nb = candidates[3].size();
    std::string bestFailure;
    int bestRank = 1 << 30;
    double bestScore = -1.0;
    std::optional<CoarseFrame> chosen;
    for (std::size_t il = 0; il < nl; ++il) {
        for (std::size_t it = 0; it < nt; ++it) {
            for (std::size_t ir = 0; ir < nr; ++ir) {
                for (std::size_t ib = 0; ib < nb; ++ib) {
                    const int rank = static_cast<int>(il + it + ir + ib);
                    if (rank > bestRank) {
                        continue;
                    }
                    const std::array<std::size_t, 4> index = {il, it, ir, ib};
                    std::array<SideLine, 4> lines;
                    for (int s = 0; s < 4; ++s) {
                        lines[s] = ToLine(candidates[s][index[s]], alongCentre[s]);
                    }
                    std::array<PlanePoint, 4> corner;  // LD, LH, PH, PD
                    for (int k = 0; k < 4; ++k) {
                        corner[k] = Intersect(lines[static_cast<int>(kCornerSides[k].downward)],
                                              lines[static_cast<int>(kCornerSides[k].sideways)]);
                    }
                    const auto distance = [&](int p, int q) {
                        return std::hypot(corner[p].column - corner[q].column, corner[p].row - corner[q].row);
                    };
                    const double width = 0.5 * (distance(1, 2) + distance(0, 3));
                    const double height = 0.5 * (distance(0, 1) + distance(2, 3));
                    if (!(height > 0.0) || !(width > 0.0)) {
                        continue;
                    }
                    const double ratioError = (width / height) / nominalRatio - 1.0;
                    double sizeError = 0.0;
                    if (shape.dpi) {
                        const double expected = nominalWidth * PixelsPerMetre(*shape.dpi) / factor;
                        sizeError = width / expected - 1.0;
                    }
                    // Sides from corner to corner: left LD->LH, top LH->PH, right PD->PH, bottom LD->PD.
                    const std::array<std::pair<int, int>, 4> ends = {std::pair<int, int>{0, 1}, {1, 2}, {3, 2}, {0, 3}};
                    std::string failure;
                    double score = 0.0;
                    for (int s = 0; s < 4 && failure.empty(); ++s) {
                        const SideCover c = Cover(response[s], static_cast<Side>(s), corner[ends[s].first],
                                                  corner[ends[s].second]);
                        score += c.whole;
                        if (c.whole < kSideCover || c.first < kEndCover || c.last < kEndCover) {
                            failure = std::string(SideName(static_cast<Side>(s))) +
                                      ": the straightest dark line covers " + Percent(c.whole) +
                                      " of its length and " + Percent(std::min(c.first, c.last)) +
                                      " next to a corner (" + Percent(kSideCover) + " and " + Percent(kEndCover) +
                                      " needed)";
                        }
                    }
                    if (failure.empty() && std::fabs(ratioError) > kShapeTolerance) {
                        char text[200];
                        std::snprintf(text, sizeof text,
                                      "the frame found is %.0f x %.0f pixels, width / height %.4f against the "
                                      "sheet's %.4f",
                                      width * factor, height * factor, width / height, nominalRatio);
                        failure = text;
                    }
                    if (failure.empty() && std::fabs(sizeError) > kShapeTolerance) {
                        char text[200];
                        std::snprintf(text, sizeof text,
                                      "the frame found is %.0f pixels wide, the sheet at %.0f dpi is %.0f pixels "
                                      "wide",
                                      width * factor, *shape.dpi,
                                      nominalWidth * PixelsPerMetre(*shape.dpi));
                        failure = text;
                    }
                    if (!failure.empty()) {
                        if (score > bestScore && chosen == std::nullopt) {
                            bestScore = score;
                            bestFailure = failure;
                        }
                        continue;
                    }
                    if (rank < bestRank) {
                        bestRank = rank;
                        CoarseFrame frame;
                        frame.factor = factor;
                        const double half = 0.5 * (factor - 1);
                        for (int s = 0; s < 4; ++s) {
                            // Reduced pixel i spans full pixels [i f, (i + 1) f): its centre is at i f + (f - 1) / 2.
                            frame.inner[s] = {factor * lines[s].a + half * (1.0 - lines[s].b), lines[s].b};
                        }
                        chosen = frame;
                    }
                }
            }
        }
    }
    if (!chosen) {
        result.refusal = bestFailure.empty() ? std::string("no four lines make a frame") : bestFailure;
        return result;
    }
    result.frame = chosen;
    return result;
}

}  // namespace georef::corners
