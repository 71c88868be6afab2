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
constexpr double kBowToleranceMm = 0.35;  // the two ends of a side agree within this
// Share of each side measured next to each corner.
constexpr double kSpanShare = 0.25;
// Least share of profiles in which a line must be found, and on which the
// fitted line must be measured (its outer edge may be hidden on half of them
// by a filled border).
constexpr double kFoundShare = 0.4;
constexpr double kKeptShare = 0.4;
// Least share of profiles on which the line's width must be measured for
// its centre or outer edge.
constexpr double kWidthShare = 0.1;
constexpr int kMinimumProfiles = 8;
// The line's darkness against the paper, share of the window's contrast.
constexpr double kMinimumDepth = 0.2;
// An outer edge counts when the paper beyond the line comes back to this
// share of the depth.
constexpr double kReturnShare = 0.6;

double MmToPixels(double mm, double dpi) noexcept { return mm * dpi / 25.4; }

// A line seen on one profile: its position along the side and its edges
// across (plane frame).
struct Hit {
    int profile = 0;
    double along = 0.0;
    double inner = 0.0;
    std::optional<double> outer;
};

// A point to fit: across at along, seen on one profile.
struct Point {
    int profile = 0;
    double along = 0.0;
    double across = 0.0;
};

// Points within this distance of a line support it, pixels.
constexpr double kSupportDistance = 0.8;

// Inner and outer edge of the dark line in a profile P[0..n) whose index
// grows outward, the inner edge expected near index expected (within
// reach). Positions in profile index units.
struct ProfileEdges {
    double inner = 0.0;
    std::optional<double> outer;
};

// The line whose inner edge is the steepest fall at index step.
std::optional<ProfileEdges> MeasureDip(const std::vector<float>& P, int step, int maxWidth, double minDepth) {
    const int n = static_cast<int>(P.size());
    int darkest = step;
    for (int i = step; i <= std::min(n - 1, step + maxWidth + 2); ++i) {
        if (P[static_cast<std::size_t>(i)] < P[static_cast<std::size_t>(darkest)]) {
            darkest = i;
        }
    }
    const float dark = P[static_cast<std::size_t>(darkest)];
    float lightIn = dark;
    for (int i = std::max(0, step - 5); i <= step; ++i) {
        lightIn = std::max(lightIn, P[static_cast<std::size_t>(i)]);
    }
    const double depth = lightIn - dark;
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
    edges.inner = j + (P[static_cast<std::size_t>(j)] - levelIn) /
                          (P[static_cast<std::size_t>(j)] - P[static_cast<std::size_t>(j + 1)]);
    float lightOut = dark;
    const int last = std::min(n - 1, darkest + maxWidth + 4);
    for (int i = darkest + 1; i <= last; ++i) {
        lightOut = std::max(lightOut, P[static_cast<std::size_t>(i)]);
    }
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
            }
        }
    }
    return edges;
}

// Every dark line in a profile P[0..n) whose index grows outward, with its
// inner edge (a local steepest fall) within reach of index expected.
// Positions in profile index units.
std::vector<ProfileEdges> MeasureProfile(const std::vector<float>& P, int expected, int reach, int maxWidth,
                                         double minDepth) {
    const int n = static_cast<int>(P.size());
    const int from = std::max(2, expected - reach);
    const int to = std::min(n - 3, expected + reach);
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

struct SideEnd {
    std::optional<SideLine> line;
    std::vector<double> widths;
    double rms = 0.0;
    std::string refusal;
};

// One side's stretch next to one corner: where it is measured and how.
struct SideEndPlan {
    Side side = Side::left;
    int corner = 0;
    SideLine coarse;      // the search's inner edge
    double start = 0.0;   // along range of the profiles
    double stop = 0.0;
    int outward = 1;
    int maxWidth = 2;     // widest line, pixels
    int reach = 0;        // the search's uncertainty, pixels
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
    p.reach = 2 * factor + 3;
    p.inward = p.reach + 6;
    p.outwardReach = p.reach + p.maxWidth + 6;
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

// Measures the stretch in its window's pixels (RGB, plane frame).
SideEnd MeasureSideEnd(const SideEndPlan& plan, const cv::Mat& pixels, Edge edge) {
    SideEnd result;
    const Side side = plan.side;
    const int corner = plan.corner;
    const SideLine& coarse = plan.coarse;
    const int outward = plan.outward;
    const int maxWidth = plan.maxWidth;
    const int reach = plan.reach;
    const int inward = plan.inward;
    const int outwardReach = plan.outwardReach;
    const int half = plan.half;
    const int step = plan.step;
    const double start = plan.start;
    const double stop = plan.stop;
    const cv::Rect& oriented = plan.oriented;
    cv::Mat grey = Luminance(pixels);
    if (!RunsDown(side)) {
        grey = grey.t();
    }
    // grey: rows are along, columns across, origin at (oriented.y, oriented.x).
    cv::Mat values;
    grey.convertTo(values, CV_32F);
    cv::Mat sorted = grey.reshape(1, 1).clone();
    cv::sort(sorted, sorted, cv::SORT_ASCENDING);
    const double paper = sorted.at<std::uint8_t>(0, static_cast<int>(0.9 * (sorted.cols - 1)));
    const double ink = sorted.at<std::uint8_t>(0, static_cast<int>(0.02 * (sorted.cols - 1)));
    const double minDepth = kMinimumDepth * std::max(1.0, paper - ink);

    std::vector<Hit> hits;
    int profiles = 0;
    int seen = 0;  // profiles with a line
    std::vector<float> P;
    const double first = std::min(start, stop);
    const double lastAlong = std::max(start, stop);
    for (double along = first; along <= lastAlong; along += step) {
        const int row = static_cast<int>(std::lround(along)) - oriented.y;
        if (row - half < 0 || row + half >= values.rows) {
            continue;
        }
        ++profiles;
        const int e = static_cast<int>(std::lround(coarse.Across(along))) - oriented.x;
        const int lo = outward > 0 ? e - inward : e - outwardReach;
        const int hi = outward > 0 ? e + outwardReach : e + inward;
        if (lo < 0 || hi >= values.cols) {
            continue;
        }
        P.assign(static_cast<std::size_t>(hi - lo + 1), 0.0f);
        for (int r = row - half; r <= row + half; ++r) {
            const float* v = values.ptr<float>(r);
            for (int i = 0; i <= hi - lo; ++i) {
                P[static_cast<std::size_t>(i)] += v[outward > 0 ? lo + i : hi - i];
            }
        }
        const std::vector<ProfileEdges> found = MeasureProfile(P, inward, reach, maxWidth, minDepth * (2 * half + 1));
        const auto toAcross = [&](double index) {
            return (outward > 0 ? lo + index : hi - index) + oriented.x;
        };
        for (const ProfileEdges& edges : found) {
            Hit hit;
            hit.profile = profiles;
            hit.along = row + oriented.y;
            hit.inner = toAcross(edges.inner);
            if (edges.outer) {
                hit.outer = toAcross(*edges.outer);
            }
            hits.push_back(hit);
        }
        seen += found.empty() ? 0 : 1;
    }
    char text[240];
    if (profiles < kMinimumProfiles || seen < kFoundShare * profiles) {
        std::snprintf(text, sizeof text, ": a dark line was found on %d of %d profiles (%.0f %% needed)", seen,
                      profiles, 100.0 * kFoundShare);
        result.refusal = Where(side, corner) + text;
        return result;
    }
    // The inner edge shows on every profile, also where a filled border or
    // ticks hide the outer one; the line most profiles agree on is the neat
    // line, a road or hatching beside it is seen on part of them only.
    std::vector<Point> inner;
    for (const Hit& h : hits) {
        inner.push_back({h.profile, h.along, h.inner});
    }
    const std::vector<Point> agreed = Consensus(inner);
    const std::optional<LineFit> fit = FitRobustly(agreed);
    const double wanted = std::max<double>(kMinimumProfiles, kKeptShare * profiles);
    if (!fit || fit->used < wanted) {
        std::snprintf(text, sizeof text,
                      ": no straight line through the edges measured (%d of %d profiles on one line, %.0f needed)",
                      fit ? fit->used : 0, profiles, wanted);
        result.refusal = Where(side, corner) + text;
        return result;
    }
    // The line's width where its outer edge shows beside the agreed inner edge.
    for (const Point& p : agreed) {
        for (const Hit& h : hits) {
            if (h.profile == p.profile && h.outer && h.inner == p.across) {
                result.widths.push_back(std::fabs(*h.outer - h.inner));
                break;
            }
        }
    }
    result.line = fit->line;
    result.rms = fit->rms;
    if (edge != Edge::inner) {
        const std::size_t needed = std::max<std::size_t>(kMinimumProfiles, static_cast<std::size_t>(kWidthShare * profiles));
        if (result.widths.size() < needed) {
            std::snprintf(text, sizeof text,
                          ": the line's outer edge shows on %zu of %d profiles (a filled border or ticks hide it); "
                          "%zu needed, or use the inner edge",
                          result.widths.size(), profiles, needed);
            result.refusal = Where(side, corner) + text;
            result.line.reset();
            return result;
        }
        // Moved outward by half the width (centre) or the whole width (outer edge).
        const double width = Median(result.widths) * (edge == Edge::centre ? 0.5 : 1.0);
        result.line->a += outward * width * std::sqrt(1.0 + fit->line.b * fit->line.b);
    }
    return result;
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
    RefinedFrame frame;
    std::vector<double> widths;
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
    const std::vector<cv::Mat> pixels = scan.ReadWindows(windows);
    for (int k = 0; k < 4; ++k) {
        const CornerSides sides = kCornerSides[static_cast<std::size_t>(k)];
        const int downEnd = sides.sideways == Side::top ? 0 : 1;
        const int sideEnd = sides.downward == Side::left ? 0 : 1;
        const SideEnd down = MeasureSideEnd(plans[static_cast<std::size_t>(2 * k)], pixels[static_cast<std::size_t>(2 * k)], edge);
        if (!down.line) {
            result.refusal = down.refusal;
            return result;
        }
        const SideEnd across = MeasureSideEnd(plans[static_cast<std::size_t>(2 * k + 1)],
                                              pixels[static_cast<std::size_t>(2 * k + 1)], edge);
        if (!across.line) {
            result.refusal = across.refusal;
            return result;
        }
        frame.lines[static_cast<int>(sides.downward)][static_cast<std::size_t>(downEnd)] = *down.line;
        frame.lines[static_cast<int>(sides.sideways)][static_cast<std::size_t>(sideEnd)] = *across.line;
        frame.worstFitRms = std::max({frame.worstFitRms, down.rms, across.rms});
        widths.insert(widths.end(), down.widths.begin(), down.widths.end());
        widths.insert(widths.end(), across.widths.begin(), across.widths.end());
        frame.corners[static_cast<std::size_t>(k)] = Intersect(*down.line, *across.line);
    }
    frame.lineWidth = Median(widths);
    // The two ends of each side measured apart must describe one side.
    const double tolerance = std::max(3.0, MmToPixels(kBowToleranceMm, dpi));
    for (Side side : kSides) {
        const auto& pair = frame.lines[static_cast<int>(side)];
        const bool down = RunsDown(side);
        // Middle of the side along its run.
        const PlanePoint& a = frame.corners[down ? (side == Side::left ? 1 : 2) : (side == Side::top ? 1 : 0)];
        const PlanePoint& b = frame.corners[down ? (side == Side::left ? 0 : 3) : (side == Side::top ? 2 : 3)];
        const double middle = down ? 0.5 * (a.row + b.row) : 0.5 * (a.column + b.column);
        const double gap = std::fabs(pair[0].Across(middle) - pair[1].Across(middle));
        if (gap > tolerance) {
            char text[200];
            std::snprintf(text, sizeof text,
                          ": the lines measured at its two ends are %.1f pixels apart at its middle (%.1f allowed)",
                          gap, tolerance);
            result.refusal = std::string(SideName(side)) + text;
            return result;
        }
    }
    result.frame = frame;
    return result;
}

}  // namespace georef::corners
