#include "corners/border_gap.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "corners/line_fit.hpp"
#include "corners/stage_result.hpp"
#include "corners/stretch.hpp"

namespace georef::corners {

namespace {

// A side's neat line as found, next to each corner (centre of the drawn
// line, pixels), and whether it was measured next to the corners (not
// carried over a large part of the side), so that the gap is known there.
struct FoundSide {
    std::array<SideLine, 2> lines;
    bool nextToCorners = true;
};

// Every side's neat line next to each corner, the sides placed from the
// frame, the gap used (pixels) and on how many sides it was measured alike.
struct FramePlacedLines {
    SideEndLines lines;
    std::array<bool, 4> placed{};
    double gap = 0.0;
    int sidesMeasured = 0;
    int sidesAlike = 0;  // those and the sides chosen over their halves at that gap
};

// The two ends of a side's frame agree within this at the side's middle,
// millimetres on the paper, and at least kLeastBow pixels (as the neat
// line's ends do).
constexpr double kBowToleranceMm = 0.35;
constexpr double kLeastBow = 3.0;
// The frame's outer edge is looked for among this many lines of each
// stretch of the look over each side to its middle, each shown on this
// share of its profiles: it ends the border on every profile, whether the
// frame stands alone or merges with the filled minutes inside it.
constexpr int kFrameLines = 6;
constexpr double kFrameShare = 0.5;
// Next to a corner torn off, the frame's outer edge may show on this share
// of the profiles of its end's stretch only (0.4 where 0.3 of the side is
// torn away).
constexpr double kTornFrameShare = 0.3;
// A frame first seen within this many profiles of its corner runs into it.
constexpr double kRunsIntoCorner = 3.0;
// Least share of the profiles next to a corner that show the neat line.
constexpr double kLineAtCorner = 0.5;
// The gaps measured next to the corners of the sides found agree within
// this, millimetres on the paper, and at least kLeastAgreement pixels; the
// neat line placed from the frame is seen within as much of where it is
// placed, next to one corner of its side at least.
constexpr double kGapAgreementMm = 0.15;
constexpr double kLeastAgreement = 1.0;
// Least number of sides found on which the gap is measured.
constexpr int kLeastSidesMeasured = 2;
// A side not moved lies further inside its frame than the other sides'
// by at most this many times the agreement of the sides moved.
constexpr double kTakenGapSlack = 2.0;

// Distance between two nearly parallel lines of a side at `along`, measured
// across them, positive when `outer` lies outside `inner` (pixels).
double Outside(Side side, const SideLine& outer, const SideLine& inner, double along) noexcept {
    return Outward(side) * (outer.Across(along) - inner.Across(along)) / std::sqrt(1.0 + inner.b * inner.b);
}

// The straight lines along which a stretch's profiles come back from ink
// to paper, each on `share` of the profiles at least, most supported first.
std::vector<LineFit> RiseLines(const Stretch& stretch, double share) {
    std::vector<CentrePoint> remaining = stretch.rises;
    const double wanted = std::max<double>(kMinimumProfiles, share * stretch.profiles);
    // A fit uses at most the points the consensus keeps, one per profile.
    const int least = static_cast<int>(std::ceil(wanted));
    std::vector<LineFit> lines;
    for (int round = 0; round < kFrameLines && !remaining.empty(); ++round) {
        const std::optional<LineFit> fit = FitRobustly(Consensus(remaining, least));
        if (!fit || fit->used < wanted) {
            break;
        }
        lines.push_back(*fit);
        remaining = PointsAwayFrom(remaining, fit->line);
    }
    return lines;
}

// The line fitted again to the rises within kSupportDistance of it on the
// profiles from `from` to `from + reach` pixels along from the one next to
// the corner.
std::optional<SideLine> RisesNearCorner(const StretchPlan& plan, const Stretch& stretch, const SideLine& line,
                                        double reach, double from = 0.0) {
    std::vector<CentrePoint> near;
    for (const CentrePoint& p : stretch.rises) {
        const double along = std::fabs(p.along - plan.start) - from;
        if (along >= 0.0 && along <= reach && std::fabs(p.across - line.Across(p.along)) <= kSupportDistance) {
            near.push_back(p);
        }
    }
    const std::optional<LineFit> fit = FitRobustly(near);
    if (!fit || fit->used < kMinimumProfiles) {
        return std::nullopt;
    }
    return fit->line;
}

// Along distance from the profile next to the corner to the first of the
// profiles from which the rises within kSupportDistance of `line` show on
// half the profiles over the next `reach` pixels: 0 where the frame runs
// into the corner, further where the corner is torn off. Empty when that
// is nowhere so.
std::optional<double> FrameSeenFrom(const StretchPlan& plan, const Stretch& stretch, const SideLine& line,
                                    double reach) {
    std::vector<double> along;
    for (const CentrePoint& p : stretch.rises) {
        if (std::fabs(p.across - line.Across(p.along)) <= kSupportDistance) {
            along.push_back(std::fabs(p.along - plan.start));
        }
    }
    std::sort(along.begin(), along.end());
    const double wanted = std::max<double>(kMinimumProfiles, 0.5 * reach / plan.profileStep);
    for (std::size_t k = 0, end = 0; k < along.size(); ++k) {
        while (end < along.size() && along[end] <= along[k] + reach) {
            ++end;
        }
        if (static_cast<double>(end - k) >= wanted) {
            return along[k];
        }
    }
    return std::nullopt;
}

// The outermost straight rise line at each end of a side, when the two
// agree at the side's middle; empty otherwise. One end may show it on as
// little as `tornShare` of its profiles (a corner torn off with the frame).
std::optional<std::array<SideLine, 2>> OutermostRiseLines(Side side, const Look& second, double dpi,
                                                          double tornShare = kFrameShare) {
    const std::array<std::size_t, 2> at = StretchesOf(side, second.plans);
    const double middle = 0.5 * (second.plans[at[0]].start + second.plans[at[1]].start);
    std::array<SideLine, 2> outermost;
    bool weakened = false;
    for (std::size_t end = 0; end < 2; ++end) {
        std::vector<LineFit> lines = RiseLines(second.stretches[at[end]], kFrameShare);
        if (lines.empty() && !weakened && tornShare < kFrameShare) {
            lines = RiseLines(second.stretches[at[end]], tornShare);
            weakened = true;
        }
        if (lines.empty()) {
            return std::nullopt;
        }
        outermost[end] = std::max_element(lines.begin(), lines.end(), [side, middle](const LineFit& a, const LineFit& b) {
                             return Outward(side) * a.line.Across(middle) < Outward(side) * b.line.Across(middle);
                         })->line;
    }
    const double tolerance = std::max(kLeastBow, MmToPixels(kBowToleranceMm, dpi));
    if (std::fabs(outermost[0].Across(middle) - outermost[1].Across(middle)) > tolerance) {
        return std::nullopt;
    }
    return outermost;
}

}  // namespace

std::optional<std::array<FrameEnd, 2>> FrameEndsOf(Side side, const Look& second, double dpi) {
    const std::optional<std::array<SideLine, 2>> outermost = OutermostRiseLines(side, second, dpi, kTornFrameShare);
    if (!outermost) {
        return std::nullopt;
    }
    const std::array<std::size_t, 2> at = StretchesOf(side, second.plans);
    std::array<FrameEnd, 2> ends;
    for (std::size_t end = 0; end < 2; ++end) {
        const StretchPlan& plan = second.plans[at[end]];
        const Stretch& stretch = second.stretches[at[end]];
        const double reach = kSpanShare / kWholeSpanShare * std::fabs(plan.stop - plan.start);
        const std::optional<double> from = FrameSeenFrom(plan, stretch, (*outermost)[end], reach);
        if (!from) {
            return std::nullopt;
        }
        // A frame seen within a few profiles of its corner runs into it.
        ends[end].fromCorner = *from > kRunsIntoCorner * plan.profileStep ? *from : 0.0;
        const std::optional<SideLine> fitted =
            RisesNearCorner(plan, stretch, (*outermost)[end], reach, ends[end].fromCorner);
        if (!fitted) {
            return std::nullopt;
        }
        ends[end].line = *fitted;
    }
    return ends;
}

std::optional<std::array<SideLine, 2>> FrameOf(Side side, const Look& second, double dpi) {
    const std::array<std::size_t, 2> at = StretchesOf(side, second.plans);
    const std::optional<std::array<SideLine, 2>> outermost = OutermostRiseLines(side, second, dpi);
    if (!outermost) {
        return std::nullopt;
    }
    std::array<SideLine, 2> near;
    for (std::size_t end = 0; end < 2; ++end) {
        const StretchPlan& plan = second.plans[at[end]];
        const double reach = kSpanShare / kWholeSpanShare * std::fabs(plan.stop - plan.start);
        const std::optional<SideLine> fitted = RisesNearCorner(plan, second.stretches[at[end]], (*outermost)[end], reach);
        if (!fitted) {
            return std::nullopt;
        }
        near[end] = *fitted;
    }
    return near;
}

namespace {

// The outer edge of a side's frame next to the corner at one end, from the
// look over the side to its middle: the outermost straight line along which
// that stretch's profiles come back from ink to paper, on most of them,
// fitted again over the part next to the corner that the first look
// measures. Empty when it is not seen so.
std::optional<SideLine> FrameNearOneEnd(Side side, std::size_t end, const Look& second) {
    const StretchPlan& plan = second.plans[StretchesOf(side, second.plans)[end]];
    const Stretch& stretch = second.stretches[StretchesOf(side, second.plans)[end]];
    const std::vector<LineFit> lines = RiseLines(stretch, kFrameShare);
    if (lines.empty()) {
        return std::nullopt;
    }
    const double at = plan.stop;
    const SideLine outermost = std::max_element(lines.begin(), lines.end(), [side, at](const LineFit& a, const LineFit& b) {
                                   return Outward(side) * a.line.Across(at) < Outward(side) * b.line.Across(at);
                               })->line;
    const double reach = kSpanShare / kWholeSpanShare * std::fabs(plan.stop - plan.start);
    return RisesNearCorner(plan, stretch, outermost, reach);
}

// Each side's neat line next to its corners, the sides found unchanged
// unless their gap disagrees (as PlaceFromFrame below).
StageResult<FramePlacedLines> PlaceLines(const std::array<std::optional<FoundSide>, 4>& found, const Look& first,
                                         const Look& second, std::optional<double> width, double dpi,
                                         bool unseenWithAllSides) {
    const double agreement = std::max(kLeastAgreement, MmToPixels(kGapAgreementMm, dpi));
    // The gap next to each corner of the sides found next to their corners
    // whose frame is seen.
    std::array<std::optional<std::array<SideLine, 2>>, 4> frames;
    std::array<std::optional<std::array<double, 2>>, 4> gaps;
    std::vector<double> all;
    for (Side side : kSides) {
        const std::size_t s = static_cast<std::size_t>(side);
        frames[s] = FrameOf(side, second, dpi);
        if (!found[s] || !found[s]->nextToCorners || !frames[s]) {
            continue;
        }
        const std::array<std::size_t, 2> at = StretchesOf(side, first.plans);
        gaps[s] = std::array<double, 2>{};
        for (std::size_t end = 0; end < 2; ++end) {
            (*gaps[s])[end] = Outside(side, (*frames[s])[end], found[s]->lines[end], first.plans[at[end]].start);
            all.push_back((*gaps[s])[end]);
        }
    }
    FramePlacedLines placed;
    if (all.empty()) {
        placed.placed = {!found[0], !found[1], !found[2], !found[3]};
    } else {
        std::nth_element(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(all.size() / 2), all.end());
        const double median = all[all.size() / 2];
        double sum = 0.0;
        int agreeing = 0;
        for (std::size_t s = 0; s < 4; ++s) {
            const bool agrees = gaps[s] && std::fabs((*gaps[s])[0] - median) <= agreement &&
                                std::fabs((*gaps[s])[1] - median) <= agreement;
            placed.placed[s] = !found[s] || (gaps[s] && !agrees);
            if (agrees) {
                sum += (*gaps[s])[0] + (*gaps[s])[1];
                ++agreeing;
            }
        }
        placed.sidesMeasured = agreeing;
        placed.gap = agreeing > 0 ? sum / (2.0 * agreeing) : 0.0;
        // The sides chosen over their halves do not give the gap, but may
        // show it: their line lies as far inside their frame.
        placed.sidesAlike = agreeing;
        for (Side side : kSides) {
            const std::size_t s = static_cast<std::size_t>(side);
            if (!found[s] || found[s]->nextToCorners || !frames[s]) {
                continue;
            }
            const std::array<std::size_t, 2> at = StretchesOf(side, first.plans);
            bool alike = true;
            for (std::size_t end = 0; end < 2; ++end) {
                const double gap = Outside(side, (*frames[s])[end], found[s]->lines[end], first.plans[at[end]].start);
                alike = alike && std::fabs(gap - placed.gap) <= agreement;
            }
            placed.sidesAlike += alike;
        }
    }
    char text[300];
    for (Side side : kSides) {
        const std::size_t s = static_cast<std::size_t>(side);
        if (!placed.placed[s]) {
            if (found[s]) {
                placed.lines[s] = found[s]->lines;
            }
            continue;
        }
        if (placed.sidesMeasured < kLeastSidesMeasured) {
            std::snprintf(text, sizeof text,
                          "%s: the gap from the neat line to the border's outer frame agrees on %d other sides (%d "
                          "needed)",
                          SideName(side), placed.sidesMeasured, kLeastSidesMeasured);
            return StageResult<FramePlacedLines>::Refused(text);
        }
        if (!frames[s]) {
            std::snprintf(text, sizeof text, "%s: the border's outer frame is not one line from corner to corner",
                          SideName(side));
            return StageResult<FramePlacedLines>::Refused(text);
        }
        const std::array<std::size_t, 2> at = StretchesOf(side, first.plans);
        bool seen = false;
        for (std::size_t end = 0; end < 2; ++end) {
            SideLine line = (*frames[s])[end];
            line.a -= Outward(side) * placed.gap * std::sqrt(1.0 + line.b * line.b);
            placed.lines[s][end] = line;
            const StretchPlan& plan = first.plans[at[end]];
            for (const StretchLine& l : StretchLines(plan, first.stretches[at[end]], width, dpi)) {
                const double off = Outside(side, l.line, line, plan.start);
                seen = seen || (std::fabs(off) <= agreement && l.atCorner >= kLineAtCorner);
            }
        }
        // A thin neat line merged with the border's shows no line of its
        // own; it is placed unseen only when every other side shows the
        // gap, two of them next to their corners at least.
        if (!seen && !(unseenWithAllSides && placed.sidesAlike == 3)) {
            std::snprintf(text, sizeof text,
                          "%s: no line is seen near either corner %.1f pixels inside the border's outer frame, "
                          "as on the other sides",
                          SideName(side), placed.gap);
            return StageResult<FramePlacedLines>::Refused(text);
        }
    }
    return placed;
}

}  // namespace

std::optional<std::string> PlaceFromFrame(std::array<std::optional<SideChoice>, 4>& sides, const Look& first,
                                          const Look& second, std::optional<double> width, double dpi,
                                          bool unseenWithAllSides) {
    std::array<std::optional<FoundSide>, 4> found;
    for (Side side : kSides) {
        const std::optional<SideChoice>& c = sides[static_cast<std::size_t>(side)];
        if (!c) {
            continue;
        }
        // A side chosen on the look over its halves is not measured: the
        // gap next to its corners is known less well.
        const FoundSide f{{(*c->pairing.chosen)[0].line, (*c->pairing.chosen)[1].line}, c->look == &first};
        found[static_cast<std::size_t>(side)] = f;
    }
    const StageResult<FramePlacedLines> placed = PlaceLines(found, first, second, width, dpi, unseenWithAllSides);
    if (!placed.Found()) {
        return placed.Refusal();
    }
    for (Side side : kSides) {
        const std::size_t s = static_cast<std::size_t>(side);
        if (!placed->placed[s]) {
            continue;
        }
        // Taken as a line of the first look that shows on every profile.
        SideChoice c;
        c.look = &first;
        c.seen = SeeSide(side, first, width, dpi, kKeptShare, 4);
        std::array<StretchLine, 2> lines;
        for (std::size_t end = 0; end < 2; ++end) {
            lines[end].line = placed->lines[s][end];
            lines[end].used = c.seen.profiles[end];
            lines[end].atCorner = 1.0;
        }
        c.pairing.chosen = lines;
        c.frameGap = placed->gap;
        sides[s] = c;
    }
    return std::nullopt;
}

std::optional<std::string> LinesMeetFrame(const SideEndLines& lines, const std::array<bool, 4>& moved,
                                          const std::array<std::array<bool, 2>, 4>& torn, const Look& first,
                                          const Look& second, double dpi) {
    const double agreement = std::max(1.5, MmToPixels(kMovedGapAgreementMm, dpi));
    std::array<std::optional<std::array<double, 2>>, 4> gaps;
    for (Side side : kSides) {
        const std::size_t s = static_cast<std::size_t>(side);
        if (torn[s][0] != torn[s][1]) {
            const std::size_t end = torn[s][0] ? 1 : 0;
            if (const std::optional<SideLine> frame = FrameNearOneEnd(side, end, second)) {
                const double gap =
                    Outside(side, *frame, lines[s][end], first.plans[StretchesOf(side, first.plans)[end]].start);
                gaps[s] = std::array<double, 2>{gap, gap};
            }
            continue;
        }
        if (const std::optional<std::array<SideLine, 2>> frame = FrameOf(side, second, dpi)) {
            const std::array<std::size_t, 2> at = StretchesOf(side, first.plans);
            gaps[s] = std::array<double, 2>{};
            for (std::size_t end = 0; end < 2; ++end) {
                (*gaps[s])[end] = Outside(side, (*frame)[end], lines[s][end], first.plans[at[end]].start);
            }
        }
    }
    const bool anyTorn = std::any_of(torn.begin(), torn.end(), [](const auto& t) { return t[0] || t[1]; });
    const bool anyMoved = std::any_of(moved.begin(), moved.end(), [](bool m) { return m; });
    char text[300];
    for (Side side : kSides) {
        const std::size_t s = static_cast<std::size_t>(side);
        std::vector<double> others;
        int othersSeen = 0;
        for (std::size_t o = 0; o < 4; ++o) {
            if (o != s && gaps[o]) {
                others.insert(others.end(), gaps[o]->begin(), gaps[o]->end());
                ++othersSeen;
            }
        }
        if (!moved[s]) {
            // A side taken on its first line: refused only when its neat line
            // lies clearly further inside its frame than the others' (a road
            // drawn along the whole side, taken for a neat line merged with
            // the border's), judged where two other sides show their frame.
            if (!gaps[s] || othersSeen < 2) {
                continue;
            }
            std::nth_element(others.begin(), others.begin() + static_cast<std::ptrdiff_t>(others.size() / 2),
                             others.end());
            const double median = others[others.size() / 2];
            const double inside = std::max((*gaps[s])[0], (*gaps[s])[1]) - median;
            const double outside = median - std::min((*gaps[s])[0], (*gaps[s])[1]);
            if (anyTorn && anyMoved && outside > agreement) {
                std::snprintf(text, sizeof text,
                              "%s: the line taken lies %.1f and %.1f pixels inside the border's outer frame, the "
                              "other sides' neat lines %.1f (the border's line, its neat line merged with it?)",
                              SideName(side), (*gaps[s])[0], (*gaps[s])[1], median);
                return std::string(text);
            }
            if (inside > kTakenGapSlack * agreement) {
                std::snprintf(text, sizeof text,
                              "%s: the neat line taken lies %.1f and %.1f pixels inside the border's outer frame, "
                              "the other sides' %.1f (a road along the side?)",
                              SideName(side), (*gaps[s])[0], (*gaps[s])[1], median);
                return std::string(text);
            }
            continue;
        }
        if (!gaps[s] || others.empty()) {
            std::snprintf(text, sizeof text,
                          "%s: the neat line taken on a fainter line inside the border's cannot be checked against "
                          "the border's outer frame (not seen along %s)",
                          SideName(side), gaps[s] ? "the other sides" : "it");
            return std::string(text);
        }
        std::nth_element(others.begin(), others.begin() + static_cast<std::ptrdiff_t>(others.size() / 2), others.end());
        const double median = others[others.size() / 2];
        if (std::fabs((*gaps[s])[0] - median) > agreement || std::fabs((*gaps[s])[1] - median) > agreement) {
            std::snprintf(text, sizeof text,
                          "%s: the fainter line inside the line first taken lies %.1f and %.1f pixels inside the "
                          "border's outer frame, the other sides' neat lines %.1f (a road along the side?)",
                          SideName(side), (*gaps[s])[0], (*gaps[s])[1], median);
            return std::string(text);
        }
    }
    return std::nullopt;
}

}  // namespace georef::corners
