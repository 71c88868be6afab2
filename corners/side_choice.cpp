#include "corners/side_choice.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "corners/border_gap.hpp"
#include "corners/border_place.hpp"
#include "corners/line_fit.hpp"
#include "corners/side_lines.hpp"

namespace georef::corners {

std::array<std::size_t, 2> StretchesOf(Side side, const std::vector<StretchPlan>& plans) {
    std::array<std::size_t, 2> at{};
    for (std::size_t k = 0; k < plans.size(); ++k) {
        if (plans[k].side == side) {
            at[static_cast<std::size_t>(plans[k].end)] = k;
        }
    }
    return at;
}

namespace {

constexpr double kBowToleranceMm = 0.35;  // the two ends of a side agree within this
// A line that does not run into its corner (torn off, hidden, worn away) is
// carried on to it only when it shows on the half of the stretch next to
// the corner.
constexpr double kLongestCarry = 0.5;
// A line carried on to an empty corner shows on this share of the side's
// profiles (about half the side is present), and is carried on at most this
// share of its stretch (a third of the side).
constexpr double kWholePresent = 0.5;
constexpr double kWholeCarry = 0.7;
// The line taken at both ends of a side lies equally far inside the
// side's outermost line within this, pixels or millimetres on the paper.
constexpr double kGapAgreement = 1.5;
constexpr double kGapAgreementMm = 0.2;
// The band an edge-only line is the inner edge of ends within this,
// millimetres on the paper, on this share of the line's profiles at least.
constexpr double kBandMm = 2.5;
constexpr double kBandShare = 0.5;

// ---- Choosing each side's line ---------------------------------------------

// A line seen only as an edge from paper into ink is the inner edge of a
// printed band (a filled border merged with a thin neat line at a low
// resolution) when the ink comes back to paper along a straight line a
// border's width outside it, parallel to it where it shows, on most of its
// profiles; the paper's edge against a dark scanner bed never does.
bool BandOutside(const StretchPlan& plan, const Stretch& stretch, const StretchLine& l, int outward, double dpi) {
    std::vector<CentrePoint> outside;
    for (const CentrePoint& p : stretch.rises) {
        const double d = outward * (p.across - l.line.Across(p.along));
        if (d > 2.0 * kSupportDistance && d < MmToPixels(kBandMm, dpi)) {
            outside.push_back(p);
        }
    }
    const std::optional<LineFit> fit = FitRobustly(Consensus(outside));
    if (!fit || fit->used < kBandShare * l.used) {
        return false;
    }
    const double from = plan.start + (plan.stop > plan.start ? 1.0 : -1.0) * l.fromCorner;
    const double apartFrom = fit->line.Across(from) - l.line.Across(from);
    const double apartStop = fit->line.Across(plan.stop) - l.line.Across(plan.stop);
    return std::fabs(apartFrom - apartStop) <= 2.0 * kSupportDistance;
}

// Of the lines seen at both ends of the side, the neat line is the
// innermost that runs straight from one end to the other and shows right up
// to both corners; a road beside it stops short of a corner.
//
// When no line runs into both corners, the corner may be torn off, hidden
// or its line worn away there: a line that stops short of a corner is
// carried on to it when nothing at all runs into that corner and it shows
// over the half of the stretch next to the corner; of such lines, again the
// innermost.
//
// On the second look (whole: stretches to the side's middle), a line is
// carried on further, over a third of the side, when it shows on half the
// side's profiles; and a line inside the one chosen that runs into one
// corner, shows on most of the side and stops short of the other corner,
// where the chosen line runs on, is the neat line worn away or hidden there
// (by hatching), the line outside it the border's. A line carried on so
// may show only its inner edge when a filled border merges with it, if a
// band's outer edge runs outside it at both ends (stretches: the look's,
// given on the second look).
SidePairing PairEnds(const SideLinesSeen& seen, const std::vector<StretchPlan>& plans, double tolerance, bool whole,
                     const std::vector<Stretch>* stretches = nullptr, double dpi = 0.0) {
    const int outward = Outward(seen.side);
    SidePairing pairing;
    double innermost = 0.0;
    std::vector<std::array<StretchLine, 2>> carried;
    std::vector<std::array<StretchLine, 2>> worn;
    std::optional<double> edgeAt;  // the innermost edge that runs into both corners
    double edgeHalf = 0.0;         // and its half width
    const auto present = [&seen](const StretchLine& a, const StretchLine& b) {
        const int profiles = seen.profiles[0] + seen.profiles[1];
        return profiles > 0 ? static_cast<double>(a.used + b.used) / profiles : 0.0;
    };
    std::array<bool, 2> emptyCorner{};
    for (std::size_t end = 0; end < 2; ++end) {
        emptyCorner[end] = std::none_of(seen.lines[end].begin(), seen.lines[end].end(),
                                        [](const StretchLine& l) { return !l.nearCornerOnly && l.atCorner >= kCornerShare; });
    }
    // Which of two pairs lies further inside is told where their lines were
    // measured, next to the corners: a line fitted to pieces of two lines
    // (a border's filled minutes and its thin line) may lean, and at the
    // side's middle seem to lie inside the neat line. On the second look,
    // whose lines may be carried over a third of the side, at the middle.
    const std::array<double, 2> at = whole ? std::array<double, 2>{seen.middle, seen.middle}
                                           : std::array<double, 2>{plans[seen.stretch[0]].start,
                                                                   plans[seen.stretch[1]].start};
    const auto carriable = [&](const StretchLine& l, std::size_t end) {
        const StretchPlan& plan = plans[seen.stretch[end]];
        return l.atCorner >= kCornerShare ||
               (emptyCorner[end] && l.fromCorner <= (whole ? kWholeCarry : kLongestCarry) * std::fabs(plan.stop - plan.start));
    };
    for (const StretchLine& a : seen.lines[0]) {
        for (const StretchLine& b : seen.lines[1]) {
            const double gap = std::fabs(a.line.Across(seen.middle) - b.line.Across(seen.middle));
            const double atCorner = std::min(a.atCorner, b.atCorner);
            if (a.nearCornerOnly || b.nearCornerOnly) {
                // Seen only next to its corner at one end at least: taken
                // only as a drawn line that runs into both corners.
                if (gap <= tolerance && atCorner >= kCornerShare &&
                    a.bothEdges + b.bothEdges >= kLineShare * (a.used + b.used)) {
                    const double position = outward * 0.5 * (a.line.Across(at[0]) + b.line.Across(at[1]));
                    if (!pairing.chosen || position < innermost) {
                        pairing.chosen = std::array<StretchLine, 2>{a, b};
                        innermost = position;
                    }
                }
                continue;
            }
            if (gap > tolerance) {
                pairing.closestGap = pairing.closestGap < 0.0 ? gap : std::min(pairing.closestGap, gap);
                continue;
            }
            pairing.bestCorner = std::max(pairing.bestCorner, atCorner);
            // A drawn line shows both its edges somewhere along the side;
            // the paper's edge against a dark scanner bed never does.
            const bool drawn = a.bothEdges + b.bothEdges >= kLineShare * (a.used + b.used);
            if (atCorner < kCornerShare) {
                const bool band = !drawn && whole && stretches != nullptr &&
                                  BandOutside(plans[seen.stretch[0]], (*stretches)[seen.stretch[0]], a, outward, dpi) &&
                                  BandOutside(plans[seen.stretch[1]], (*stretches)[seen.stretch[1]], b, outward, dpi);
                if ((drawn || band) && carriable(a, 0) && carriable(b, 1) && (!whole || present(a, b) >= kWholePresent)) {
                    carried.push_back({a, b});
                } else if (whole && drawn && std::max(a.atCorner, b.atCorner) >= kCornerShare &&
                           present(a, b) >= kWornPresent) {
                    worn.push_back({a, b});
                } else if (drawn && emptyCorner[a.atCorner < kCornerShare ? 0 : 1]) {
                    const std::size_t end = a.atCorner < kCornerShare ? 0 : 1;
                    const double from = end == 0 ? a.fromCorner : b.fromCorner;
                    if (pairing.shortOf < 0.0 || from < pairing.shortOf) {
                        pairing.shortOf = from;
                        pairing.shortEnd = end;
                    }
                }
                continue;
            }
            if (!drawn) {
                pairing.onlyEdges = true;
                // The edge of a border line whose outer edge does not show
                // runs on into a corner as well as a drawn line.
                const double position = outward * 0.5 * (a.line.Across(seen.middle) + b.line.Across(seen.middle));
                if (!edgeAt || position < *edgeAt) {
                    edgeAt = position;
                    edgeHalf = 0.5 * (HalfWidth(a, seen.width) + HalfWidth(b, seen.width));
                }
                continue;
            }
            const double position = outward * 0.5 * (a.line.Across(at[0]) + b.line.Across(at[1]));
            if (!pairing.chosen || position < innermost) {
                pairing.chosen = std::array<StretchLine, 2>{a, b};
                innermost = position;
            }
        }
    }
    // Of the lines worn away or hidden next to one corner, the innermost,
    // when it lies inside the line chosen (or an edge running into both
    // corners).
    if (pairing.chosen || (edgeAt && !worn.empty())) {
        const auto position = [&](const std::array<StretchLine, 2>& pair) {
            return outward * 0.5 * (pair[0].line.Across(seen.middle) + pair[1].line.Across(seen.middle));
        };
        const double chosenAt = pairing.chosen ? position(*pairing.chosen) : *edgeAt;
        const double chosenHalf =
            pairing.chosen ? 0.5 * (HalfWidth((*pairing.chosen)[0], seen.width) + HalfWidth((*pairing.chosen)[1], seen.width))
                           : edgeHalf;
        const std::array<StretchLine, 2>* inner = nullptr;
        for (const std::array<StretchLine, 2>& pair : worn) {
            if (position(pair) < chosenAt - 2.0 * kSupportDistance && (inner == nullptr || position(pair) < position(*inner))) {
                inner = &pair;
            }
        }
        if (inner != nullptr) {
            pairing.outerLine = chosenAt - chosenHalf - position(*inner);
            pairing.chosen = *inner;
            for (std::size_t end = 0; end < 2; ++end) {
                pairing.carried[end] = (*inner)[end].atCorner < kCornerShare;
            }
        }
        if (pairing.chosen) {
            return pairing;
        }
    }
    // Of the lines carried on, the innermost, as above: a border line
    // outside the neat line is torn off with it.
    for (const std::array<StretchLine, 2>& pair : carried) {
        const double position = outward * 0.5 * (pair[0].line.Across(at[0]) + pair[1].line.Across(at[1]));
        if (!pairing.chosen || position < innermost) {
            pairing.chosen = pair;
            innermost = position;
        }
    }
    if (pairing.chosen) {
        for (std::size_t end = 0; end < 2; ++end) {
            pairing.carried[end] = (*pairing.chosen)[end].atCorner < kCornerShare;
        }
    }
    return pairing;
}

// Why no pair was taken, after the side's name.
std::string WhyNoPair(const SideLinesSeen& seen, const SidePairing& pairing, const std::vector<StretchPlan>& plans,
                      const std::vector<Stretch>& stretches, double tolerance) {
    char text[300];
    const auto none = [](const std::vector<StretchLine>& lines) {
        return std::all_of(lines.begin(), lines.end(), [](const StretchLine& l) { return l.nearCornerOnly; });
    };
    if (none(seen.lines[0]) || none(seen.lines[1])) {
        const std::size_t k = none(seen.lines[0]) ? seen.stretch[0] : seen.stretch[1];
        std::snprintf(text, sizeof text, " near %s: no straight dark line over %.0f %% of %d profiles",
                      kCornerNames[static_cast<std::size_t>(plans[k].corner)], 100.0 * kKeptShare,
                      stretches[k].profiles);
    } else if (pairing.shortOf >= 0.0) {
        const StretchPlan& plan = plans[seen.stretch[pairing.shortEnd]];
        std::snprintf(text, sizeof text,
                      ": its line stops %.0f pixels short of corner %s, where nothing is seen (torn off or hidden?); "
                      "at most %.0f are carried on",
                      pairing.shortOf, kCornerNames[static_cast<std::size_t>(plan.corner)],
                      kLongestCarry * std::fabs(plan.stop - plan.start));
    } else if (pairing.onlyEdges) {
        std::snprintf(text, sizeof text,
                      ": the only line along it is an edge from paper to dark (the paper's edge?), not a drawn line");
    } else if (pairing.bestCorner > 0.0 || pairing.closestGap < 0.0) {
        std::snprintf(text, sizeof text,
                      ": no line runs into both corners (best: %.0f %% of the profiles next to a corner, %.0f %% "
                      "needed)",
                      100.0 * pairing.bestCorner, 100.0 * kCornerShare);
    } else {
        std::snprintf(text, sizeof text, ": the lines at its two ends are %.1f pixels apart at its middle (%.1f allowed)",
                      pairing.closestGap, tolerance);
    }
    return text;
}

// A line inside the one chosen that also runs into its corner may be the
// neat line, missed at the other end: the refusal, after the side's name,
// or empty.
std::optional<std::string> InnerLineAtOneEnd(const SideLinesSeen& seen, const std::array<StretchLine, 2>& chosen,
                                             const std::vector<StretchPlan>& plans) {
    const int outward = Outward(seen.side);
    for (std::size_t end = 0; end < 2; ++end) {
        for (const StretchLine& l : seen.lines[end]) {
            const double inside = outward * (chosen[end].line.Across(seen.middle) - l.line.Across(seen.middle));
            if (!l.nearCornerOnly && inside > 2.0 * kSupportDistance && l.atCorner >= kCornerShare) {
                char text[300];
                std::snprintf(text, sizeof text,
                              ": a line %.1f pixels inside the one that runs along the whole side reaches the "
                              "corner %s but is not seen near the other end",
                              inside, kCornerNames[static_cast<std::size_t>(plans[seen.stretch[end]].corner)]);
                return std::string(text);
            }
        }
    }
    return std::nullopt;
}

// A line inside the one chosen that runs into its corner at one end, where
// no line of its own is seen at the other: at a low resolution the neat line
// may fade beside the border's darker line, or show only its inner edge
// there, over too few profiles to count as a line. Followed along its own
// straight place to the other end, it is the side's line when it shows
// there next to the corner, or over most of the stretch up to a stretch
// next to the corner hidden by hatching, and lies as far inside the line
// chosen (the border's, running into both corners) near one corner as near
// the other.
// The pair, end 0 then end 1, or empty.
std::optional<std::array<StretchLine, 2>> FollowInnerLine(const SideLinesSeen& seen,
                                                          const std::array<StretchLine, 2>& chosen,
                                                          const Look& look, double dpi, bool hiddenToo) {
    const int outward = Outward(seen.side);
    const double agreement = std::max(kGapAgreement, MmToPixels(kGapAgreementMm, dpi));
    std::optional<std::array<StretchLine, 2>> followed;
    for (std::size_t end = 0; end < 2; ++end) {
        const std::size_t other = 1 - end;
        const StretchPlan& here = look.plans[seen.stretch[end]];
        const StretchPlan& there = look.plans[seen.stretch[other]];
        for (const StretchLine& l : seen.lines[end]) {
            const double inside = outward * (chosen[end].line.Across(here.start) - l.line.Across(here.start));
            if (l.nearCornerOnly || inside <= 2.0 * kSupportDistance || l.atCorner < kCornerShare) {
                continue;
            }
            const std::optional<StretchLine> on =
                FollowLine(there, look.stretches[seen.stretch[other]], l.line, seen.width, dpi, 2.0 * kSupportDistance);
            if (!on || std::fabs(on->line.Across(there.start) - l.line.Across(there.start)) > kSupportDistance) {
                continue;
            }
            // Hidden next to that corner (by hatching) while the line
            // outside it runs into it: carried on as a worn line is, when it
            // shows on most of the stretch and stops short of the corner by
            // at most half the stretch.
            const bool hidden = hiddenToo && on->atCorner < kCornerShare && chosen[other].atCorner >= kCornerShare &&
                                on->used >= kWornPresent * look.stretches[seen.stretch[other]].profiles &&
                                on->fromCorner <= kLongestCarry * std::fabs(there.stop - there.start);
            if (on->atCorner < kCornerShare && !hidden) {
                continue;
            }
            const double insideThere = outward * (chosen[other].line.Across(there.start) - on->line.Across(there.start));
            if (insideThere <= 2.0 * kSupportDistance || std::fabs(insideThere - inside) > agreement) {
                continue;
            }
            if (followed) {
                return std::nullopt;  // two lines could be followed: neither is told from the other
            }
            followed = std::array<StretchLine, 2>{};
            (*followed)[end] = l;
            (*followed)[other] = *on;
        }
    }
    return followed;
}

// Both ends of a side must have taken the same line. Its outermost line
// seen at both ends (the outer frame, as a rule) is one line; the line
// taken lies as far inside it near one corner as near the other, bowed or
// not, when it is one line. At a low resolution a side may otherwise pair
// the neat line near one corner with the border's line next to it near
// the other, where the two agree within the bow allowed at the side's
// middle.
//
// The outermost line near one corner, followed along its own straight
// place to the other corner and seen there where it is carried, is that
// line; the two ends' outermost lines are compared only when neither can
// be followed so. Lines fitted next to their corners may agree within the
// bow allowed at the middle and yet be two lines: the border's near one
// corner, where the outer frame is not seen, and the frame near the other.
// torn: where the line taken is carried on to a corner torn off (nothing
// runs into it), the frame is torn off with it: the lines seen at that end
// are not compared with the other end's, only a line followed from one
// corner into the other tells.
// The refusal, after the side's name, or empty.
std::optional<std::string> EndsTakeOtherLines(const SideLinesSeen& seen, const std::array<StretchLine, 2>& chosen,
                                              const Look& look, double tolerance, double dpi, bool torn = false) {
    const std::vector<StretchPlan>& plans = look.plans;
    const int outward = Outward(seen.side);
    std::array<const StretchLine*, 2> outermost{};
    for (std::size_t end = 0; end < 2; ++end) {
        for (const StretchLine& l : seen.lines[end]) {
            if (l.nearCornerOnly) {
                continue;
            }
            if (!outermost[end] || outward * (l.line.Across(seen.middle) - outermost[end]->line.Across(seen.middle)) > 0.0) {
                outermost[end] = &l;
            }
        }
    }
    std::optional<std::array<SideLine, 2>> reference;
    for (std::size_t end = 0; end < 2; ++end) {
        if (!outermost[end]) {
            continue;
        }
        const std::size_t other = 1 - end;
        const StretchPlan& there = plans[seen.stretch[other]];
        const SideLine& line = outermost[end]->line;
        const std::optional<StretchLine> on =
            FollowLine(there, look.stretches[seen.stretch[other]], line, seen.width, dpi, 2.0 * kSupportDistance);
        if (!on || on->atCorner < kCornerShare ||
            std::fabs(on->line.Across(there.start) - line.Across(there.start)) > kSupportDistance) {
            continue;
        }
        // Of two lines followed so, the outer.
        if (!reference || outward * (line.Across(seen.middle) - (*reference)[end].Across(seen.middle)) > 0.0) {
            reference = std::array<SideLine, 2>{};
            (*reference)[end] = line;
            (*reference)[other] = on->line;
        }
    }
    if (!reference) {
        for (std::size_t end = 0; torn && end < 2; ++end) {
            if (chosen[end].atCorner < kCornerShare &&
                std::none_of(seen.lines[end].begin(), seen.lines[end].end(),
                             [](const StretchLine& l) { return !l.nearCornerOnly && l.atCorner >= kCornerShare; })) {
                return std::nullopt;
            }
        }
        if (!outermost[0] || !outermost[1] ||
            std::fabs(outermost[0]->line.Across(seen.middle) - outermost[1]->line.Across(seen.middle)) > tolerance) {
            return std::nullopt;
        }
        reference = std::array<SideLine, 2>{outermost[0]->line, outermost[1]->line};
    }
    std::array<double, 2> gap{};
    for (std::size_t end = 0; end < 2; ++end) {
        const double at = plans[seen.stretch[end]].start;
        gap[end] = outward * ((*reference)[end].Across(at) - chosen[end].line.Across(at));
    }
    if (std::fabs(gap[0] - gap[1]) <= std::max(kGapAgreement, MmToPixels(kGapAgreementMm, dpi))) {
        return std::nullopt;
    }
    char text[300];
    std::snprintf(text, sizeof text,
                  ": the line taken lies %.1f pixels inside the outermost line near %s but %.1f near %s (not one line)",
                  gap[0], kCornerNames[static_cast<std::size_t>(plans[seen.stretch[0]].corner)], gap[1],
                  kCornerNames[static_cast<std::size_t>(plans[seen.stretch[1]].corner)]);
    return std::string(text);
}

// The neat line of a side: on the first look, and when that refuses and a
// second look was taken, on the second. The refusal is the first look's
// when the second sees no more.
StageResult<SideChoice> ChooseSide(Side side, const Look& first, const Look* second, std::optional<double> width,
                                   double dpi, double tolerance, bool bands, bool hiddenFirst) {
    SideChoice choice;
    choice.look = &first;
    choice.seen = SeeSide(side, first, width, dpi, kKeptShare, 4, true);
    choice.pairing = PairEnds(choice.seen, first.plans, tolerance, false);
    std::string refusal;
    if (!choice.pairing.chosen) {
        refusal = SideName(side) + WhyNoPair(choice.seen, choice.pairing, first.plans, first.stretches, tolerance);
    } else if (const std::optional<std::string> why = InnerLineAtOneEnd(choice.seen, *choice.pairing.chosen, first.plans)) {
        refusal = SideName(side) + *why;
        const auto follow = [&](bool hiddenToo) -> std::optional<SideChoice> {
            const std::optional<std::array<StretchLine, 2>> followed =
                FollowInnerLine(choice.seen, *choice.pairing.chosen, first, dpi, hiddenToo);
            if (!followed || InnerLineAtOneEnd(choice.seen, *followed, first.plans) ||
                EndsTakeOtherLines(choice.seen, *followed, first, tolerance, dpi)) {
                return std::nullopt;
            }
            SideChoice inner = choice;
            inner.pairing.chosen = followed;
            for (std::size_t end = 0; end < 2; ++end) {
                inner.pairing.carried[end] = (*followed)[end].atCorner < kCornerShare;
            }
            return inner;
        };
        if (std::optional<SideChoice> inner = follow(false)) {
            return *inner;
        }
        if (hiddenFirst && second != nullptr) {
            if (std::optional<SideChoice> inner = follow(true)) {
                return *inner;
            }
        }
    } else if (const std::optional<std::string> other =
                   EndsTakeOtherLines(choice.seen, *choice.pairing.chosen, first, tolerance, dpi)) {
        refusal = SideName(side) + *other;
    } else {
        return choice;
    }
    if (second == nullptr) {
        return StageResult<SideChoice>::Refused(refusal);
    }
    SideChoice again;
    again.look = second;
    again.seen = SeeSide(side, *second, width, dpi, kWholeKeptShare, kWholeLines);
    again.pairing = PairEnds(again.seen, second->plans, tolerance, true, bands ? &second->stretches : nullptr, dpi);
    if (!again.pairing.chosen) {
        // The second look's figures when it saw a line stop short of an empty corner.
        if (again.pairing.shortOf >= 0.0) {
            return StageResult<SideChoice>::Refused(
                SideName(side) + WhyNoPair(again.seen, again.pairing, second->plans, second->stretches, tolerance));
        }
        return StageResult<SideChoice>::Refused(refusal);
    }
    if (const std::optional<std::string> why = InnerLineAtOneEnd(again.seen, *again.pairing.chosen, second->plans)) {
        return StageResult<SideChoice>::Refused(SideName(side) + *why);
    }
    if (const std::optional<std::string> why =
            EndsTakeOtherLines(again.seen, *again.pairing.chosen, *second, tolerance, dpi, bands)) {
        return StageResult<SideChoice>::Refused(SideName(side) + *why);
    }
    return again;
}

}  // namespace

StageResult<ChosenLines> ChooseLines(const Look& first, const Look* second, std::optional<double> width, double dpi,
                                     bool bands, bool hidden) {
    const double tolerance = std::max(3.0, MmToPixels(kBowToleranceMm, dpi));
    std::array<std::optional<SideChoice>, 4> sides;
    std::optional<std::string> refusal;  // the first side's refused
    for (Side side : kSides) {
        StageResult<SideChoice> choice = ChooseSide(side, first, second, width, dpi, tolerance, bands, hidden);
        if (choice.Found()) {
            sides[static_cast<std::size_t>(side)] = *choice;
        } else if (!refusal) {
            refusal = choice.Refusal();
        }
    }
    // Sides refused placed from the border's outer frame (border_gap.hpp).
    if (refusal && (second == nullptr || PlaceFromFrame(sides, first, *second, width, dpi, true))) {
        return StageResult<ChosenLines>::Refused(*refusal);
    }
    const double agreement = std::max(1.0, MmToPixels(kBorderAgreementMm, dpi));
    // A side whose line does not lie where the border tells is placed from
    // its frame instead, when the other sides give the gap; each side once
    // at most, as a side placed is not checked again.
    for (std::optional<BorderDisagreement> why = AgreeWithBorder(sides, second, width, dpi, tolerance, agreement); why;
         why = AgreeWithBorder(sides, second, width, dpi, tolerance, agreement)) {
        std::array<std::optional<SideChoice>, 4> placed = sides;
        placed[static_cast<std::size_t>(why->side)].reset();
        if (second == nullptr || PlaceFromFrame(placed, first, *second, width, dpi, true)) {
            return StageResult<ChosenLines>::Refused(why->why);
        }
        sides = placed;
    }
    // Once more for the sides taken that lie otherwise inside their frame.
    if (second != nullptr) {
        if (const std::optional<std::string> why = PlaceFromFrame(sides, first, *second, width, dpi)) {
            return StageResult<ChosenLines>::Refused(*why);
        }
    }
    if (const std::optional<std::string> why = WornLinesMeetBorder(sides, agreement)) {
        return StageResult<ChosenLines>::Refused(*why);
    }
    ChosenLines chosen;
    for (Side side : kSides) {
        const SideChoice& c = *sides[static_cast<std::size_t>(side)];
        chosen.fromFrame[static_cast<std::size_t>(side)] = c.frameGap;
        for (std::size_t end = 0; end < 2; ++end) {
            const StretchLine& line = (*c.pairing.chosen)[end];
            const std::size_t k = c.seen.stretch[end];
            const StretchPlan& plan = c.look->plans[k];
            SideLine fitted = line.line;
            if (c.look == second) {
                // Where it lies nearest the corner: over as much of the side
                // as the first look measures, from where it shows.
                const double reach = kSpanShare / kWholeSpanShare * std::fabs(plan.stop - plan.start);
                fitted = FitNearCorner(plan, c.look->stretches[k], line.line, width, line.fromCorner,
                                       line.fromCorner + reach)
                             .value_or(line.line);
            }
            chosen.lines[static_cast<std::size_t>(side)][end] = fitted;
            if (c.pairing.carried[end]) {
                double& far = chosen.carried[static_cast<std::size_t>(plan.corner)];
                far = std::max(far, line.fromCorner);
            }
            chosen.fromOtherEnd[static_cast<std::size_t>(side)][end] =
                c.look == second && c.pairing.carried[end] && !c.pairing.carried[1 - end];
        }
    }
    return chosen;
}

}  // namespace georef::corners
