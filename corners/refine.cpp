#include "corners/refine.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace georef::corners {

namespace {

// Millimetres on the paper.
constexpr double kMaxLineWidthMm = 0.65;  // widest neat line measured
constexpr double kProfileStepMm = 0.25;   // between profiles along a side
constexpr double kProfileHalfMm = 0.17;   // rows (or columns) averaged on each side of a profile
constexpr double kCornerGapMm = 2.5;      // profiles start this far from the corner
constexpr double kCornerZoneMm = 4.0;     // the neat line must show on the first profiles of this length
constexpr double kNeighbourMm = 1.7;      // lines this far outside the search's edge are measured too
constexpr double kBorderMm = 4.5;         // and this far inside it: the graduated border's width
constexpr double kBowToleranceMm = 0.35;  // the two ends of a side agree within this
// Share of each side measured next to each corner.
constexpr double kSpanShare = 0.2;
// Least share of a stretch's profiles on which a line must be measured to
// count as a straight line of that stretch.
constexpr double kKeptShare = 0.4;
// Least share of a side's profiles on which the neat line shows both edges
// (a filled border may hide the outer edge on the others).
constexpr double kLineShare = 0.1;
// Least share of the profiles next to a corner that must show the neat line.
constexpr double kCornerShare = 0.5;
constexpr int kMinimumProfiles = 8;
// The line's darkness against the paper, share of the window's contrast.
constexpr double kMinimumDepth = 0.2;
// An outer edge counts when the paper beyond the line comes back to this
// share of the depth.
constexpr double kReturnShare = 0.6;
// Two dips are apart where the profile rises this share of the depth between them.
constexpr float kSplitShare = 0.15f;

double MmToPixels(double mm, double dpi) noexcept { return mm * dpi / 25.4; }

// A line seen on one profile: its position along the side and its edges
// across (plane frame).
struct Hit {
    int profile = 0;
    double along = 0.0;
    double inner = 0.0;
    std::optional<double> outer;
    double light = 0.0;  // grey level of the paper beside it
    double area = 0.0;   // its darkness integrated across, with an outer edge
};

// A point to fit: across at along, seen on one profile.
struct Point {
    int profile = 0;
    double along = 0.0;
    double across = 0.0;
    bool bothEdges = false;  // measured between two edges, not from the inner edge alone
};

// Points within this distance of a line support it, pixels.
constexpr double kSupportDistance = 0.8;

// Inner and outer edge of the dark line in a profile P[0..n) whose index
// grows outward, the inner edge expected near index expected (within
// reach). Positions in profile index units.
struct ProfileEdges {
    double inner = 0.0;
    std::optional<double> outer;
    double light = 0.0;  // paper beside the line, grey level
    double area = 0.0;   // darkness below the paper across the line, grey level x pixels (with an outer edge)
};

// The line whose inner edge is the steepest fall at index step.
std::optional<ProfileEdges> MeasureDip(const std::vector<float>& P, int step, int maxWidth, double minDepth) {
    const int n = static_cast<int>(P.size());
    float lightIn = P[static_cast<std::size_t>(step)];
    for (int i = std::max(0, step - 5); i <= step; ++i) {
        lightIn = std::max(lightIn, P[static_cast<std::size_t>(i)]);
    }
    // The bottom of this dip only: the search stops where the profile has
    // come back part of the way to the paper, before a line beside it.
    int darkest = step;
    for (int i = step; i <= std::min(n - 1, step + maxWidth + 2); ++i) {
        const float v = P[static_cast<std::size_t>(i)];
        if (v < P[static_cast<std::size_t>(darkest)]) {
            darkest = i;
        } else if (v > P[static_cast<std::size_t>(darkest)] + kSplitShare * (lightIn - P[static_cast<std::size_t>(darkest)])) {
            break;
        }
    }
    const float dark = P[static_cast<std::size_t>(darkest)];
    float lightOut = dark;
    const int last = std::min(n - 1, darkest + maxWidth + 4);
    for (int i = darkest + 1; i <= last; ++i) {
        lightOut = std::max(lightOut, P[static_cast<std::size_t>(i)]);
    }
    // The paper on either side: a road close inside the line may keep the
    // inner side from coming back all the way.
    const double depth = std::max(lightIn, lightOut) - dark;
    if (depth < minDepth) {
        return std::nullopt;
    }
    const double levelIn = 0.5 * (lightIn + dark);
    int j = darkest;
    while (j >= 0 && P[static_cast<std::size_t>(j)] < levelIn) {
        --j;
    }
    if (j < 0) {
        return std::nullopt;
    }
    ProfileEdges edges;
    edges.light = lightIn;
    edges.inner = j + (P[static_cast<std::size_t>(j)] - levelIn) /
                          (P[static_cast<std::size_t>(j)] - P[static_cast<std::size_t>(j + 1)]);
    if (lightOut - dark >= kReturnShare * depth) {
        const double levelOut = 0.5 * (lightOut + dark);
        int k = darkest;
        while (k <= last && P[static_cast<std::size_t>(k)] < levelOut) {
            ++k;
        }
        if (k <= last && k > 0) {
            const double outer = (k - 1) + (levelOut - P[static_cast<std::size_t>(k - 1)]) /
                                               (P[static_cast<std::size_t>(k)] - P[static_cast<std::size_t>(k - 1)]);
            if (outer - edges.inner <= maxWidth + 1) {
                edges.outer = outer;
                // The paper level as the mean of three pixels beyond each edge
                // (a maximum would sit on the grain's peaks).
                double sum = 0.0;
                int count = 0;
                for (int i = std::max(0, j - 3); i <= std::min(n - 1, k + 3); ++i) {
                    if (i < j || i > k) {
                        sum += P[static_cast<std::size_t>(i)];
                        ++count;
                    }
                }
                edges.light = sum / count;
                for (int i = std::max(0, j - 1); i <= std::min(n - 1, k + 1); ++i) {
                    edges.area += edges.light - P[static_cast<std::size_t>(i)];
                }
            }
        }
    }
    return edges;
}

// Every dark line in a profile P[0..n) whose index grows outward, with its
// inner edge (a local steepest fall) from reachIn before index expected to
// reachOut after it.
// Positions in profile index units.
std::vector<ProfileEdges> MeasureProfile(const std::vector<float>& P, int expected, int reachIn, int reachOut,
                                         int maxWidth, double minDepth) {
    const int n = static_cast<int>(P.size());
    const int from = std::max(2, expected - reachIn);
    const int to = std::min(n - 3, expected + reachOut);
    const auto fall = [&P](int i) { return P[static_cast<std::size_t>(i + 1)] - P[static_cast<std::size_t>(i - 1)]; };
    std::vector<ProfileEdges> found;
    for (int i = from; i <= to; ++i) {
        const float d = fall(i);
        if (d < 0.0f && d <= fall(i - 1) && d < fall(i + 1)) {
            if (const std::optional<ProfileEdges> edges = MeasureDip(P, i, maxWidth, minDepth)) {
                if (found.empty() || std::fabs(found.back().inner - edges->inner) > 0.5) {
                    found.push_back(*edges);
                }
            }
        }
    }
    return found;
}

struct LineFit {
    SideLine line;
    int used = 0;
    double rms = 0.0;
};

// Least squares across = a + b * along over the points, refitted three
// times without the points far off the line (beyond three robust standard
// deviations, and never closer than 0.3 px).
std::optional<LineFit> FitRobustly(const std::vector<Point>& points) {
    if (points.size() < 2) {
        return std::nullopt;
    }
    std::vector<char> use(points.size(), 1);
    LineFit fit;
    for (int round = 0; round < 4; ++round) {
        double n = 0.0, sa = 0.0, sc = 0.0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (use[k]) {
                n += 1.0;
                sa += points[k].along;
                sc += points[k].across;
            }
        }
        if (n < 2.0) {
            return std::nullopt;
        }
        const double ma = sa / n;
        const double mc = sc / n;
        double saa = 0.0, sac = 0.0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (use[k]) {
                const double da = points[k].along - ma;
                saa += da * da;
                sac += da * (points[k].across - mc);
            }
        }
        if (!(saa > 0.0)) {
            return std::nullopt;
        }
        const double b = sac / saa;
        fit.line = {mc - b * ma, b};
        std::vector<double> residual(points.size());
        std::vector<double> magnitude;
        for (std::size_t k = 0; k < points.size(); ++k) {
            residual[k] = points[k].across - fit.line.Across(points[k].along);
            if (use[k]) {
                magnitude.push_back(std::fabs(residual[k]));
            }
        }
        std::nth_element(magnitude.begin(), magnitude.begin() + magnitude.size() / 2, magnitude.end());
        const double mad = magnitude[magnitude.size() / 2];
        const double limit = std::max(0.3, 3.0 * 1.4826 * mad);
        fit.used = 0;
        double sum = 0.0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            use[k] = std::fabs(residual[k]) <= limit;
            if (use[k]) {
                ++fit.used;
                sum += residual[k] * residual[k];
            }
        }
        fit.rms = fit.used > 0 ? std::sqrt(sum / fit.used) : 0.0;
    }
    return fit;
}

// The points of the line that most profiles support: lines through pairs of
// points from the two ends of the stretch are tried, and for the one that
// runs within kSupportDistance of a point on the most profiles, the nearest
// such point of each profile is kept.
std::vector<Point> Consensus(const std::vector<Point>& points) {
    if (points.size() < 2) {
        return points;
    }
    double lo = points.front().along, hi = points.front().along;
    for (const Point& p : points) {
        lo = std::min(lo, p.along);
        hi = std::max(hi, p.along);
    }
    const double third = (hi - lo) / 3.0;
    std::vector<const Point*> early, late;
    for (const Point& p : points) {
        (p.along <= lo + third ? early : p.along >= hi - third ? late : early).push_back(&p);
    }
    const auto thin = [](std::vector<const Point*>& v) {
        constexpr std::size_t kTried = 40;
        if (v.size() > kTried) {
            std::vector<const Point*> kept;
            for (std::size_t k = 0; k < kTried; ++k) {
                kept.push_back(v[k * v.size() / kTried]);
            }
            v.swap(kept);
        }
    };
    thin(early);
    thin(late);
    int bestSupport = -1;
    SideLine best;
    for (const Point* a : early) {
        for (const Point* b : late) {
            if (!(b->along - a->along > 0.5 * third)) {
                continue;
            }
            const double slope = (b->across - a->across) / (b->along - a->along);
            const SideLine line{a->across - slope * a->along, slope};
            int support = 0;
            int last = -1;
            for (const Point& p : points) {
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
    std::vector<Point> kept;
    for (const Point& p : points) {
        const double off = std::fabs(p.across - best.Across(p.along));
        if (off > kSupportDistance) {
            continue;
        }
        if (!kept.empty() && kept.back().profile == p.profile) {
            if (off < std::fabs(kept.back().across - best.Across(kept.back().along))) {
                kept.back() = p;
            }
        } else {
            kept.push_back(p);
        }
    }
    return kept;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

std::string Where(Side side, int corner) {
    return std::string(SideName(side)) + " near " + kCornerNames[static_cast<std::size_t>(corner)];
}

// One side's stretch next to one corner: where it is measured and how.
struct SideEndPlan {
    Side side = Side::left;
    int corner = 0;
    SideLine coarse;      // the search's inner edge
    double start = 0.0;   // along range of the profiles
    double stop = 0.0;
    int outward = 1;
    int maxWidth = 2;     // widest line, pixels
    int reachIn = 0;      // inner edges are looked for this far into the map
    int reachOut = 0;     // and this far out of it
    int inward = 0;       // profile reach into the map
    int outwardReach = 0; // and away from it
    int half = 1;         // rows averaged on each side of a profile
    int step = 2;         // between profiles
    cv::Rect oriented;    // the window, along as rows, across as columns
    cv::Rect window;      // the same in the plane frame
};

// along0: the corner's along coordinate; direction: +1 when the side runs
// on towards larger along.
SideEndPlan PlanSideEnd(Side side, int corner, const SideLine& coarse, double along0, int direction, double span,
                        int factor, double dpi) {
    SideEndPlan p;
    p.side = side;
    p.corner = corner;
    p.coarse = coarse;
    p.outward = Outward(side);
    p.maxWidth = std::max(2, static_cast<int>(std::ceil(MmToPixels(kMaxLineWidthMm, dpi))));
    // The search may have taken a line beside the neat line (a road inside
    // it, the border's lines outside it): the profiles reach past the whole
    // border inward, and past the border's inner line outward.
    const int uncertainty = 2 * factor + 3;
    p.reachIn = uncertainty + static_cast<int>(std::ceil(MmToPixels(kBorderMm, dpi)));
    p.reachOut = uncertainty + static_cast<int>(std::ceil(MmToPixels(kNeighbourMm, dpi)));
    p.inward = p.reachIn + 6;
    p.outwardReach = p.reachOut + p.maxWidth + 6;
    p.half = std::max(1, static_cast<int>(std::lround(MmToPixels(kProfileHalfMm, dpi))));
    p.step = std::max(2, static_cast<int>(std::lround(MmToPixels(kProfileStepMm, dpi))));
    p.start = along0 + direction * MmToPixels(kCornerGapMm, dpi);
    p.stop = along0 + direction * span;
    const double alongLo = std::min(p.start, p.stop) - p.half;
    const double alongHi = std::max(p.start, p.stop) + p.half;
    const double e0 = coarse.Across(alongLo);
    const double e1 = coarse.Across(alongHi);
    const double acrossLo = std::min(e0, e1) - std::max(p.inward, p.outwardReach) - 1;
    const double acrossHi = std::max(e0, e1) + std::max(p.inward, p.outwardReach) + 1;
    p.oriented = cv::Rect(static_cast<int>(std::floor(acrossLo)), static_cast<int>(std::floor(alongLo)),
                          static_cast<int>(std::ceil(acrossHi - acrossLo)) + 1,
                          static_cast<int>(std::ceil(alongHi - alongLo)) + 1);
    p.window = RunsDown(side) ? p.oriented : cv::Rect(p.oriented.y, p.oriented.x, p.oriented.height, p.oriented.width);
    return p;
}

// What the profiles of one stretch show: every dark line near the search's
// inner edge.
struct Stretch {
    std::vector<Hit> hits;
    int profiles = 0;
    int seen = 0;       // profiles with a line
    double ink = 0.0;   // grey level of solid ink in the window
};

// Measures the profiles of a stretch in its window's pixels (RGB, plane frame).
Stretch MeasureStretch(const SideEndPlan& plan, const cv::Mat& pixels) {
    Stretch stretch;
    cv::Mat grey = Luminance(pixels);
    if (!RunsDown(plan.side)) {
        grey = grey.t();
    }
    // grey: rows are along, columns across, origin at (oriented.y, oriented.x).
    const cv::Rect& oriented = plan.oriented;
    cv::Mat values;
    grey.convertTo(values, CV_32F);
    cv::Mat sorted = grey.reshape(1, 1).clone();
    cv::sort(sorted, sorted, cv::SORT_ASCENDING);
    const double paper = sorted.at<std::uint8_t>(0, static_cast<int>(0.9 * (sorted.cols - 1)));
    stretch.ink = sorted.at<std::uint8_t>(0, static_cast<int>(0.01 * (sorted.cols - 1)));
    const double minDepth = kMinimumDepth * std::max(1.0, paper - stretch.ink);
    const int outward = plan.outward;
    const float rows = static_cast<float>(2 * plan.half + 1);
    std::vector<float> P;
    const double first = std::min(plan.start, plan.stop);
    const double last = std::max(plan.start, plan.stop);
    for (double along = first; along <= last; along += plan.step) {
        const int row = static_cast<int>(std::lround(along)) - oriented.y;
        if (row - plan.half < 0 || row + plan.half >= values.rows) {
            continue;
        }
        ++stretch.profiles;
        const int e = static_cast<int>(std::lround(plan.coarse.Across(along))) - oriented.x;
        const int lo = outward > 0 ? e - plan.inward : e - plan.outwardReach;
        const int hi = outward > 0 ? e + plan.outwardReach : e + plan.inward;
        if (lo < 0 || hi >= values.cols) {
            continue;
        }
        // The profile's grey levels, averaged over the rows around it, outward first.
        P.assign(static_cast<std::size_t>(hi - lo + 1), 0.0f);
        for (int r = row - plan.half; r <= row + plan.half; ++r) {
            const float* v = values.ptr<float>(r);
            for (int i = 0; i <= hi - lo; ++i) {
                P[static_cast<std::size_t>(i)] += v[outward > 0 ? lo + i : hi - i] / rows;
            }
        }
        const std::vector<ProfileEdges> found = MeasureProfile(P, plan.inward, plan.reachIn, plan.reachOut, plan.maxWidth, minDepth);
        const auto toAcross = [&](double index) { return (outward > 0 ? lo + index : hi - index) + oriented.x; };
        for (const ProfileEdges& edges : found) {
            Hit hit;
            hit.profile = stretch.profiles;
            hit.along = row + oriented.y;
            hit.inner = toAcross(edges.inner);
            if (edges.outer) {
                hit.outer = toAcross(*edges.outer);
            }
            hit.light = edges.light;
            hit.area = edges.area;
            stretch.hits.push_back(hit);
        }
        stretch.seen += found.empty() ? 0 : 1;
    }
    return stretch;
}

// A straight line seen along a stretch: its fit to the line's centres, and
// the share of the first profiles next to the corner that show it.
struct StretchLine {
    SideLine line;
    int used = 0;
    int bothEdges = 0;  // of the profiles used, those that show both edges of the line
    double rms = 0.0;
    double atCorner = 0.0;
};

// The straight lines of a stretch, most supported first. A line's centre is
// midway between its edges where both show, whatever the blur; where a
// filled border or a tick hides the outer edge, the inner edge is a step
// from paper to solid ink and the centre lies half the drawn width beyond.
std::vector<StretchLine> StretchLines(const SideEndPlan& plan, const Stretch& stretch, std::optional<double> width,
                                      double dpi) {
    std::vector<Point> remaining;
    for (const Hit& h : stretch.hits) {
        if (h.outer) {
            remaining.push_back({h.profile, h.along, 0.5 * (h.inner + *h.outer), true});
        } else if (width) {
            remaining.push_back({h.profile, h.along, h.inner + plan.outward * 0.5 * *width, false});
        }
    }
    const double zone = MmToPixels(kCornerZoneMm, dpi);
    const int zoneProfiles = std::max(1, static_cast<int>(zone / plan.step) + 1);
    const double wanted = std::max<double>(kMinimumProfiles, kKeptShare * stretch.profiles);
    std::vector<StretchLine> lines;
    for (int round = 0; round < 4 && !remaining.empty(); ++round) {
        const std::vector<Point> agreed = Consensus(remaining);
        const std::optional<LineFit> fit = FitRobustly(agreed);
        if (!fit || fit->used < wanted) {
            break;
        }
        StretchLine found;
        found.line = fit->line;
        found.used = fit->used;
        found.rms = fit->rms;
        int near = 0;
        for (const Point& p : agreed) {
            found.bothEdges += p.bothEdges && std::fabs(p.across - fit->line.Across(p.along)) <= kSupportDistance;
            near += std::fabs(p.along - plan.start) <= zone &&
                    std::fabs(p.across - fit->line.Across(p.along)) <= kSupportDistance;
        }
        found.atCorner = std::min(1.0, static_cast<double>(near) / zoneProfiles);
        lines.push_back(found);
        std::vector<Point> rest;
        for (const Point& p : remaining) {
            if (std::fabs(p.across - fit->line.Across(p.along)) > 2.0 * kSupportDistance) {
                rest.push_back(p);
            }
        }
        remaining.swap(rest);
    }
    return lines;
}

// The drawn width of the line from the profiles where both its edges show:
// its darkness integrated across, over the depth of solid ink; the median
// over all stretches, or over the profiles of the lines chosen. Empty when
// too few profiles show both edges.
std::optional<double> DrawnWidth(const std::vector<SideEndPlan>& plans, const std::vector<Stretch>& stretches,
                                 const RefinedFrame* chosen) {
    std::vector<double> widths;
    for (std::size_t k = 0; k < stretches.size(); ++k) {
        const Stretch& s = stretches[k];
        for (const Hit& h : s.hits) {
            if (!h.outer || !(h.light - s.ink > 1.0)) {
                continue;
            }
            if (chosen != nullptr) {
                // Only the neat line's own profiles.
                const int end = plans[k].stop > plans[k].start ? 0 : 1;
                const SideLine& line = chosen->lines[static_cast<int>(plans[k].side)][static_cast<std::size_t>(end)];
                if (std::fabs(0.5 * (h.inner + *h.outer) - line.Across(h.along)) > kSupportDistance) {
                    continue;
                }
            }
            widths.push_back(h.area / (h.light - s.ink));
        }
    }
    if (widths.size() < static_cast<std::size_t>(kMinimumProfiles)) {
        return std::nullopt;
    }
    return Median(widths);
}

// Chooses each side's neat line among the lines of its two stretches and
// sets the frame's lines and corners; returns why not when a side has none.
std::string ChooseFrame(const std::vector<SideEndPlan>& plans, const std::vector<Stretch>& stretches,
                        std::optional<double> width, double dpi, Edge edge, RefinedFrame& frame) {
    frame.lineWidth = width.value_or(0.0);
    // Each side: of the lines seen at both its ends, the neat line is the
    // innermost that runs straight from one end to the other and shows right
    // up to both corners; a road beside it stops short of a corner.
    const double tolerance = std::max(3.0, MmToPixels(kBowToleranceMm, dpi));
    for (Side side : kSides) {
        std::array<std::size_t, 2> at{};  // the side's two stretches, end 0 then end 1
        for (std::size_t k = 0; k < plans.size(); ++k) {
            if (plans[k].side == side) {
                const bool smallerAlong = plans[k].stop > plans[k].start;
                at[smallerAlong ? 0 : 1] = k;
            }
        }
        const std::vector<StretchLine> first = StretchLines(plans[at[0]], stretches[at[0]], width, dpi);
        const std::vector<StretchLine> second = StretchLines(plans[at[1]], stretches[at[1]], width, dpi);
        const double middle = 0.5 * (plans[at[0]].start + plans[at[1]].start);
        const int outward = Outward(side);
        std::optional<std::pair<StretchLine, StretchLine>> chosen;
        double innermost = 0.0;
        double closestGap = -1.0;
        double bestCorner = 0.0;
        bool onlyEdges = false;
        for (const StretchLine& a : first) {
            for (const StretchLine& b : second) {
                const double gap = std::fabs(a.line.Across(middle) - b.line.Across(middle));
                const double atCorner = std::min(a.atCorner, b.atCorner);
                if (gap > tolerance) {
                    closestGap = closestGap < 0.0 ? gap : std::min(closestGap, gap);
                    continue;
                }
                bestCorner = std::max(bestCorner, atCorner);
                if (atCorner < kCornerShare) {
                    continue;
                }
                // A drawn line shows both its edges somewhere along the side;
                // the paper's edge against a dark scanner bed never does.
                if (a.bothEdges + b.bothEdges < kLineShare * (a.used + b.used)) {
                    onlyEdges = true;
                    continue;
                }
                const double position = outward * 0.5 * (a.line.Across(middle) + b.line.Across(middle));
                if (!chosen || position < innermost) {
                    chosen = std::make_pair(a, b);
                    innermost = position;
                }
            }
        }
        if (!chosen) {
            char text[300];
            if (first.empty() || second.empty()) {
                const std::size_t k = first.empty() ? at[0] : at[1];
                std::snprintf(text, sizeof text, " near %s: no straight dark line over %.0f %% of %d profiles",
                              kCornerNames[static_cast<std::size_t>(plans[k].corner)], 100.0 * kKeptShare,
                              stretches[k].profiles);
            } else if (onlyEdges) {
                std::snprintf(text, sizeof text,
                              ": the only line along it is an edge from paper to dark (the paper's edge?), not a "
                              "drawn line");
            } else if (bestCorner > 0.0 || closestGap < 0.0) {
                std::snprintf(text, sizeof text,
                              ": no line runs into both corners (best: %.0f %% of the profiles next to a corner, "
                              "%.0f %% needed)",
                              100.0 * bestCorner, 100.0 * kCornerShare);
            } else {
                std::snprintf(text, sizeof text,
                              ": the lines at its two ends are %.1f pixels apart at its middle (%.1f allowed)",
                              closestGap, tolerance);
            }
            return std::string(SideName(side)) + text;
        }
        // A line inside the one chosen that also runs into its corner may be
        // the neat line, missed at the other end: refuse rather than guess.
        for (int end = 0; end < 2; ++end) {
            const StretchLine& own = end == 0 ? chosen->first : chosen->second;
            for (const StretchLine& l : end == 0 ? first : second) {
                const double inside = outward * (own.line.Across(middle) - l.line.Across(middle));
                if (inside > 2.0 * kSupportDistance && l.atCorner >= kCornerShare) {
                    char text[300];
                    std::snprintf(text, sizeof text,
                                  ": a line %.1f pixels inside the one that runs along the whole side reaches the "
                                  "corner %s but is not seen near the other end",
                                  inside, kCornerNames[static_cast<std::size_t>(plans[at[static_cast<std::size_t>(end)]].corner)]);
                    return std::string(SideName(side)) + text;
                }
            }
        }
        const std::array<const StretchLine*, 2> pair = {&chosen->first, &chosen->second};
        for (int end = 0; end < 2; ++end) {
            SideLine line = pair[static_cast<std::size_t>(end)]->line;
            if (edge != Edge::centre) {
                // Half the drawn width outward (outer edge) or inward (inner edge).
                const double shift = (edge == Edge::outer ? 0.5 : -0.5) * *width;
                line.a += outward * shift * std::sqrt(1.0 + line.b * line.b);
            }
            frame.lines[static_cast<int>(side)][static_cast<std::size_t>(end)] = line;
            frame.worstFitRms = std::max(frame.worstFitRms, pair[static_cast<std::size_t>(end)]->rms);
        }
    }
    for (int k = 0; k < 4; ++k) {
        const CornerSides sides = kCornerSides[static_cast<std::size_t>(k)];
        const int downEnd = sides.sideways == Side::top ? 0 : 1;
        const int sideEnd = sides.downward == Side::left ? 0 : 1;
        frame.corners[static_cast<std::size_t>(k)] =
            Intersect(frame.lines[static_cast<int>(sides.downward)][static_cast<std::size_t>(downEnd)],
                      frame.lines[static_cast<int>(sides.sideways)][static_cast<std::size_t>(sideEnd)]);
    }
    return std::string();
}

}  // namespace

RefineResult RefineFullResolution(const ScanImage& scan, const CoarseFrame& coarse, double dpi, Edge edge) {
    RefineResult result;
    // Corners from the search's inner edges, to place the stretches measured.
    std::array<PlanePoint, 4> rough;
    for (int k = 0; k < 4; ++k) {
        rough[k] = Intersect(coarse.inner[static_cast<int>(kCornerSides[k].downward)],
                             coarse.inner[static_cast<int>(kCornerSides[k].sideways)]);
    }
    // Two stretches per corner: the downward side's and the sideways side's.
    std::vector<SideEndPlan> plans;
    for (int k = 0; k < 4; ++k) {
        const CornerSides sides = kCornerSides[static_cast<std::size_t>(k)];
        const int downEnd = sides.sideways == Side::top ? 0 : 1;
        const int sideEnd = sides.downward == Side::left ? 0 : 1;
        // Neighbouring corners along each side, for the length measured.
        const int downNeighbour = k == 0 ? 1 : k == 1 ? 0 : k == 2 ? 3 : 2;
        const int sideNeighbour = 3 - k;
        const double downLength = std::hypot(rough[k].column - rough[downNeighbour].column,
                                             rough[k].row - rough[downNeighbour].row);
        const double sideLength = std::hypot(rough[k].column - rough[sideNeighbour].column,
                                             rough[k].row - rough[sideNeighbour].row);
        plans.push_back(PlanSideEnd(sides.downward, k, coarse.inner[static_cast<int>(sides.downward)], rough[k].row,
                                    downEnd == 0 ? 1 : -1, kSpanShare * downLength, coarse.factor, dpi));
        plans.push_back(PlanSideEnd(sides.sideways, k, coarse.inner[static_cast<int>(sides.sideways)],
                                    rough[k].column, sideEnd == 0 ? 1 : -1, kSpanShare * sideLength, coarse.factor,
                                    dpi));
    }
    const cv::Rect image(0, 0, scan.Width(), scan.Height());
    std::vector<cv::Rect> windows;
    for (const SideEndPlan& p : plans) {
        if ((p.window & image).area() < p.window.area()) {
            result.refusal = Where(p.side, p.corner) + ": the line runs off the scan";
            return result;
        }
        windows.push_back(p.window);
    }
    std::vector<Stretch> stretches;
    {
        const std::vector<cv::Mat> pixels = scan.ReadWindows(windows);
        for (std::size_t k = 0; k < plans.size(); ++k) {
            stretches.push_back(MeasureStretch(plans[k], pixels[k]));
        }
    }
    // The lines are chosen with the width of every line seen, then again
    // with the width of the neat line alone.
    RefinedFrame frame;
    std::string refusal = ChooseFrame(plans, stretches, DrawnWidth(plans, stretches, nullptr), dpi, Edge::centre, frame);
    if (!refusal.empty()) {
        result.refusal = refusal;
        return result;
    }
    const std::optional<double> width = DrawnWidth(plans, stretches, &frame);
    if (edge != Edge::centre && !width) {
        result.refusal = "the neat line's width cannot be measured (too few profiles show both its edges); only "
                         "its centre can be found";
        return result;
    }
    refusal = ChooseFrame(plans, stretches, width, dpi, edge, frame);
    if (!refusal.empty()) {
        result.refusal = refusal;
        return result;
    }
    result.frame = frame;
    return result;
}

}  // namespace georef::corners
