#include "corners/stretch.hpp"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "corners/frame_edge.hpp"
#include "corners/grey_order.hpp"
#include "corners/line_fit.hpp"
#include "corners/scan_image.hpp"

namespace georef::corners {

namespace {

// Millimetres on the paper.
constexpr double kMaxLineWidthMm = 0.65;  // widest neat line measured
constexpr double kProfileStepMm = 0.25;   // between profiles along a side
constexpr double kProfileHalfMm = 0.17;   // rows (or columns) averaged on each side of a profile
// and at least this many: a thin line at a low resolution shows on few pixels,
// each as grainy as at a high one.
constexpr int kLeastHalfRows = 2;
constexpr double kCornerGapMm = 2.5;      // profiles start this far from the corner
constexpr double kCornerZoneMm = 4.0;     // the neat line must show on the first profiles of this length
constexpr double kNeighbourMm = 1.7;      // lines this far outside the search's edge are measured too
constexpr double kBorderMm = 4.5;         // and this far inside it: the graduated border's width

}  // namespace

StretchPlan PlanStretch(Side side, int corner, const SideLine& searchEdge, double cornerAlong, int direction,
                        double span, int factor, double dpi, double furtherOutMm, double minimumDepth) {
    StretchPlan p;
    p.side = side;
    p.corner = corner;
    p.searchEdge = searchEdge;
    p.outwardSign = Outward(side);
    p.maxLineWidth = std::max(2, static_cast<int>(std::ceil(MmToPixels(kMaxLineWidthMm, dpi))));
    // The search may have taken a line beside the neat line (a road inside
    // it, the border's lines outside it): the profiles reach past the whole
    // border inward, and past the border's inner line outward.
    const int uncertainty = 2 * factor + 3;
    p.edgeSearchInward = uncertainty + static_cast<int>(std::ceil(MmToPixels(kBorderMm, dpi)));
    p.edgeSearchOutward = uncertainty + static_cast<int>(std::ceil(MmToPixels(kNeighbourMm + furtherOutMm, dpi)));
    p.profileInward = p.edgeSearchInward + 6;
    p.profileOutward = p.edgeSearchOutward + p.maxLineWidth + 6;
    p.minimumDepth = minimumDepth;
    p.halfRows = std::max(kLeastHalfRows, static_cast<int>(std::lround(MmToPixels(kProfileHalfMm, dpi))));
    p.profileStep = std::max(2, static_cast<int>(std::lround(MmToPixels(kProfileStepMm, dpi))));
    p.start = cornerAlong + direction * MmToPixels(kCornerGapMm, dpi);
    p.stop = cornerAlong + direction * span;
    p.end = p.stop > p.start ? 0 : 1;
    const double alongLo = std::min(p.start, p.stop) - p.halfRows;
    const double alongHi = std::max(p.start, p.stop) + p.halfRows;
    const double e0 = searchEdge.Across(alongLo);
    const double e1 = searchEdge.Across(alongHi);
    const double acrossLo = std::min(e0, e1) - std::max(p.profileInward, p.profileOutward) - 1;
    const double acrossHi = std::max(e0, e1) + std::max(p.profileInward, p.profileOutward) + 1;
    p.oriented = cv::Rect(static_cast<int>(std::floor(acrossLo)), static_cast<int>(std::floor(alongLo)),
                          static_cast<int>(std::ceil(acrossHi - acrossLo)) + 1,
                          static_cast<int>(std::ceil(alongHi - alongLo)) + 1);
    p.window = RunsDown(side) ? p.oriented : cv::Rect(p.oriented.y, p.oriented.x, p.oriented.height, p.oriented.width);
    return p;
}

cv::Mat OrientedGrey(const StretchPlan& plan, const cv::Mat& pixels) {
    cv::Mat grey = Luminance(pixels);
    return RunsDown(plan.side) ? grey : cv::Mat(grey.t());
}

Stretch MeasureStretch(const StretchPlan& plan, const cv::Mat& pixels) {
    Stretch stretch;
    const cv::Mat grey = OrientedGrey(plan, pixels);
    // grey: rows are along, columns across, origin at (oriented.y, oriented.x).
    const cv::Rect& oriented = plan.oriented;
    cv::Mat values;
    grey.convertTo(values, CV_32F);
    const GreyOrder order(grey);
    const double paper = order.AtShare(0.9);
    stretch.ink = order.AtShare(0.01);
    const double minDepth = plan.minimumDepth * std::max(1.0, paper - stretch.ink);
    const int outward = plan.outwardSign;
    const float rows = static_cast<float>(2 * plan.halfRows + 1);
    std::vector<float> P;
    const double first = std::min(plan.start, plan.stop);
    const double last = std::max(plan.start, plan.stop);
    for (double along = first; along <= last; along += plan.profileStep) {
        const int row = static_cast<int>(std::lround(along)) - oriented.y;
        if (row - plan.halfRows < 0 || row + plan.halfRows >= values.rows) {
            continue;
        }
        ++stretch.profiles;
        const int e = static_cast<int>(std::lround(plan.searchEdge.Across(along))) - oriented.x;
        const int lo = outward > 0 ? e - plan.profileInward : e - plan.profileOutward;
        const int hi = outward > 0 ? e + plan.profileOutward : e + plan.profileInward;
        if (lo < 0 || hi >= values.cols) {
            continue;
        }
        // The profile's grey levels, averaged over the rows around it, index growing outward.
        P.assign(static_cast<std::size_t>(hi - lo + 1), 0.0f);
        for (int r = row - plan.halfRows; r <= row + plan.halfRows; ++r) {
            const float* v = values.ptr<float>(r);
            for (int i = 0; i <= hi - lo; ++i) {
                P[static_cast<std::size_t>(i)] += v[outward > 0 ? lo + i : hi - i] / rows;
            }
        }
        const std::vector<LineCrossing> found = FindLineCrossings(P, plan.profileInward, plan.edgeSearchInward,
                                                                   plan.edgeSearchOutward, plan.maxLineWidth, minDepth);
        const auto toAcross = [&](double index) { return (outward > 0 ? lo + index : hi - index) + oriented.x; };
        for (const LineCrossing& measured : found) {
            ProfileCrossing crossing;
            crossing.profile = stretch.profiles;
            crossing.along = row + oriented.y;
            crossing.line = measured;
            crossing.line.innerEdge = toAcross(measured.innerEdge);
            if (measured.outerEdge) {
                crossing.line.outerEdge = toAcross(*measured.outerEdge);
            }
            stretch.crossings.push_back(crossing);
        }
        for (const double rise : PaperRises(P, minDepth)) {
            stretch.rises.push_back({stretch.profiles, static_cast<double>(row + oriented.y), toAcross(rise)});
        }
        stretch.seen += found.empty() ? 0 : 1;
    }
    return stretch;
}

// A line's centre is midway between its edges where both show, whatever the
// blur; where a filled border or a tick hides the outer edge, the centre lies
// half the width between the line's edges beyond its inner edge. Both edges
// lie half-way down the line's own dip, which the border beyond hides only
// in part: a blurred thin line at a low resolution is three times as wide
// from edge to edge as it is drawn.
namespace {

std::vector<CentrePoint> CentrePoints(const StretchPlan& plan, const Stretch& stretch, std::optional<double> width) {
    std::vector<CentrePoint> points;
    for (const ProfileCrossing& c : stretch.crossings) {
        if (c.line.outerEdge) {
            points.push_back({c.profile, c.along, 0.5 * (c.line.innerEdge + *c.line.outerEdge), true,
                              std::fabs(*c.line.outerEdge - c.line.innerEdge)});
        } else if (width) {
            points.push_back({c.profile, c.along, c.line.innerEdge + plan.outwardSign * 0.5 * *width, false});
        }
    }
    return points;
}

}  // namespace

namespace {

// A line fitted to a stretch's centres, with what its supporting centres
// (within kSupportDistance of it) show: how many show both edges, their
// width, and how far it runs into the corner.
StretchLine Described(const StretchPlan& plan, const LineFit& fit, const std::vector<CentrePoint>& agreed, double dpi) {
    const double zone = MmToPixels(kCornerZoneMm, dpi);
    const int zoneProfiles = std::max(1, static_cast<int>(zone / plan.profileStep) + 1);
    StretchLine found;
    found.line = fit.line;
    found.used = fit.used;
    found.rms = fit.rms;
    int near = 0;
    double widths = 0.0;
    found.fromCorner = std::fabs(plan.stop - plan.start);
    for (const CentrePoint& p : agreed) {
        const bool supports = std::fabs(p.across - fit.line.Across(p.along)) <= kSupportDistance;
        found.bothEdges += p.bothEdges && supports;
        widths += p.bothEdges && supports ? p.width : 0.0;
        near += std::fabs(p.along - plan.start) <= zone && supports;
        if (supports) {
            found.fromCorner = std::min(found.fromCorner, std::fabs(p.along - plan.start));
        }
    }
    found.atCorner = std::min(1.0, static_cast<double>(near) / zoneProfiles);
    found.width = found.bothEdges > 0 ? widths / found.bothEdges : 0.0;
    return found;
}

}  // namespace

std::vector<StretchLine> StretchLines(const StretchPlan& plan, const Stretch& stretch, std::optional<double> width,
                                      double dpi, double keptShare, int mostLines, bool nearCorner) {
    std::vector<CentrePoint> remaining = CentrePoints(plan, stretch, width);
    const double wanted = std::max<double>(kMinimumProfiles, keptShare * stretch.profiles);
    std::vector<StretchLine> lines;
    // A fit uses at most the points the consensus keeps, one per profile.
    for (int round = 0; round < mostLines && !remaining.empty(); ++round) {
        const std::vector<CentrePoint> agreed = Consensus(remaining, static_cast<int>(std::ceil(wanted)));
        const std::optional<LineFit> fit = FitRobustly(agreed);
        if (!fit || fit->used < wanted) {
            break;
        }
        lines.push_back(Described(plan, *fit, agreed, dpi));
        remaining = PointsAwayFrom(remaining, fit->line);
    }
    if (!nearCorner) {
        return lines;
    }
    // Lines seen only on the half of the stretch next to the corner, that
    // run into it: a line found over the whole stretch needs points at both
    // its ends.
    const double half = 0.5 * std::fabs(plan.stop - plan.start);
    std::vector<CentrePoint> near;
    for (const CentrePoint& p : remaining) {
        if (std::fabs(p.along - plan.start) <= half) {
            near.push_back(p);
        }
    }
    const double wantedNear = std::max<double>(kMinimumProfiles, 0.5 * keptShare * stretch.profiles);
    for (int round = 0; round < kNearCornerLines && !near.empty(); ++round) {
        const std::vector<CentrePoint> agreed = Consensus(near, static_cast<int>(std::ceil(wantedNear)));
        const std::optional<LineFit> fit = FitRobustly(agreed);
        if (!fit || fit->used < wantedNear) {
            break;
        }
        StretchLine found = Described(plan, *fit, agreed, dpi);
        found.nearCornerOnly = true;
        if (found.atCorner >= kNearCornerShare) {
            lines.push_back(found);
        }
        near = PointsAwayFrom(near, fit->line);
    }
    return lines;
}

namespace {

// The centres within `reach` of the line, from `from` to `to` pixels along
// from the profile next to the corner: the nearest on each profile.
std::vector<CentrePoint> CentresNear(const StretchPlan& plan, const Stretch& stretch, const SideLine& line,
                                     std::optional<double> width, double reach, double from, double to) {
    std::vector<CentrePoint> within;
    for (const CentrePoint& p : CentrePoints(plan, stretch, width)) {
        const double along = std::fabs(p.along - plan.start);
        if (along >= from && along <= to) {
            within.push_back(p);
        }
    }
    return PointsNearLine(within, line, reach);
}

}  // namespace

std::optional<StretchLine> FollowLine(const StretchPlan& plan, const Stretch& stretch, const SideLine& expected,
                                      std::optional<double> width, double dpi, double reach) {
    const std::vector<CentrePoint> near =
        CentresNear(plan, stretch, expected, width, reach, 0.0, std::fabs(plan.stop - plan.start));
    const std::optional<LineFit> fit = FitRobustly(near);
    if (!fit || fit->used < kMinimumProfiles) {
        return std::nullopt;
    }
    return Described(plan, *fit, near, dpi);
}

std::optional<SideLine> FitNearCorner(const StretchPlan& plan, const Stretch& stretch, const SideLine& line,
                                      std::optional<double> width, double from, double to) {
    const std::optional<LineFit> fit = FitRobustly(CentresNear(plan, stretch, line, width, kSupportDistance, from, to));
    if (!fit || fit->used < kMinimumProfiles) {
        return std::nullopt;
    }
    return fit->line;
}

namespace {

// Whether a crossing with both edges lies on the line chosen for its
// stretch's side and end (any line when none are chosen).
bool OnChosenLine(const StretchPlan& plan, const ProfileCrossing& c, const SideEndLines* chosen) {
    if (chosen == nullptr) {
        return true;
    }
    const SideLine& line = (*chosen)[static_cast<std::size_t>(plan.side)][static_cast<std::size_t>(plan.end)];
    return std::fabs(0.5 * (c.line.innerEdge + *c.line.outerEdge) - line.Across(c.along)) <= kSupportDistance;
}

}  // namespace

std::optional<double> EdgeToEdgeWidth(const std::vector<StretchPlan>& plans, const std::vector<Stretch>& stretches,
                                      const SideEndLines* chosen) {
    std::vector<double> widths;
    for (std::size_t k = 0; k < stretches.size(); ++k) {
        for (const ProfileCrossing& c : stretches[k].crossings) {
            if (c.line.outerEdge && OnChosenLine(plans[k], c, chosen)) {
                widths.push_back(std::fabs(*c.line.outerEdge - c.line.innerEdge));
            }
        }
    }
    if (widths.size() < static_cast<std::size_t>(kMinimumProfiles)) {
        return std::nullopt;
    }
    return Median(widths);
}

std::optional<double> DrawnWidth(const std::vector<StretchPlan>& plans, const std::vector<Stretch>& stretches,
                                 const SideEndLines* chosen) {
    std::vector<double> widths;
    for (std::size_t k = 0; k < stretches.size(); ++k) {
        const Stretch& s = stretches[k];
        for (const ProfileCrossing& c : s.crossings) {
            const LineCrossing& l = c.line;
            if (!l.outerEdge || !(l.paper - s.ink > 1.0)) {
                continue;
            }
            if (!OnChosenLine(plans[k], c, chosen)) {
                continue;  // only the neat line's own profiles
            }
            // Where a road lies close inside the line, the paper beside it
            // is taken partly on the road's ink and the area comes out too
            // small, even below nothing: such profiles do not count.
            const double width = l.area / (l.paper - s.ink);
            if (width > 0.0) {
                widths.push_back(width);
            }
        }
    }
    if (widths.size() < static_cast<std::size_t>(kMinimumProfiles)) {
        return std::nullopt;
    }
    return Median(widths);
}

}  // namespace georef::corners
