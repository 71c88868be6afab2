#include "corners/side_choice.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "corners/line_fit.hpp"

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
// Least share of a side's profiles on which the neat line shows both edges
// (a filled border may hide the outer edge on the others).
constexpr double kLineShare = 0.1;
// Least share of the profiles next to a corner that must show the neat line.
constexpr double kCornerShare = 0.5;
// A line that does not run into its corner (torn off, hidden, worn away) is
// carried on to it only when it shows on the half of the stretch next to
// the corner.
constexpr double kLongestCarry = 0.5;

// On the second look, a line of a stretch shows on this share of its
// profiles (an eighth of the side).
constexpr double kWholeKeptShare = 0.25;
// Lines looked for in each such stretch: a road, its other edge, the
// border's lines may all run beside the neat line there.
constexpr int kWholeLines = 6;
// A line carried on to an empty corner shows on this share of the side's
// profiles (about half the side is present), and is carried on at most this
// share of its stretch (a third of the side).
constexpr double kWholePresent = 0.5;
constexpr double kWholeCarry = 0.7;
// A line worn away or hidden next to a corner where a line outside it runs
// on shows on this share of the side's profiles.
constexpr double kWornPresent = 0.6;
// The line outside a worn one lies as far outside the other sides' lines
// within this, millimetres on the paper (the border is printed alike on
// every side).
constexpr double kBorderAgreementMm = 0.1;
// The line taken at both ends of a side lies equally far inside the
// side's outermost line within this, pixels or millimetres on the paper.
constexpr double kGapAgreement = 1.5;
constexpr double kGapAgreementMm = 0.2;

// ---- Choosing each side's line ---------------------------------------------

// The lines of a side's two stretches, and where they are compared.
struct SideLinesSeen {
    Side side = Side::left;
    std::array<std::size_t, 2> stretch{};           // indices of the plans, end 0 then end 1
    std::array<std::vector<StretchLine>, 2> lines;  // of each stretch, most supported first
    std::array<int, 2> profiles{};                  // of each stretch
    double middle = 0.0;                            // along coordinate half-way between the two
    std::optional<double> width;                    // the drawn width the lines were measured with
};

// Half the width of a line seen: its own where it shows both edges, else
// the drawn width its centre was placed with beyond its inner edge.
double HalfWidth(const StretchLine& l, std::optional<double> width) noexcept {
    return 0.5 * (2 * l.bothEdges >= l.used ? l.width : width.value_or(0.0));
}

// The pair of lines taken as the side's neat line, one per end, and what the
// search for it saw, to word a refusal.
struct SidePairing {
    std::optional<std::array<StretchLine, 2>> chosen;
    std::array<bool, 2> carried{};  // the chosen line stops short of the corner at that end
    double closestGap = -1.0;  // of the pairs that do not meet, the closest (-1 when none)
    double bestCorner = 0.0;   // of the pairs that meet, the best share of profiles next to a corner
    bool onlyEdges = false;    // a pair was passed over as a one-sided edge
    // Of the pairs that meet but stop too far short of an empty corner, the
    // nearest: its distance from the corner and the end.
    double shortOf = -1.0;
    std::size_t shortEnd = 0;
    // When the line chosen is worn away or hidden next to a corner, where a
    // line outside it runs on: how far outside the chosen line's centre the
    // other's inner edge lies, pixels (0 otherwise). The outer line must be
    // the border's, as far outside the other sides' lines.
    double outerLine = 0.0;
};

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
// (by hatching), the line outside it the border's.
SidePairing PairEnds(const SideLinesSeen& seen, const std::vector<StretchPlan>& plans, double tolerance, bool whole) {
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
                                        [](const StretchLine& l) { return l.atCorner >= kCornerShare; });
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
            if (gap > tolerance) {
                pairing.closestGap = pairing.closestGap < 0.0 ? gap : std::min(pairing.closestGap, gap);
                continue;
            }
            pairing.bestCorner = std::max(pairing.bestCorner, atCorner);
            // A drawn line shows both its edges somewhere along the side;
            // the paper's edge against a dark scanner bed never does.
            const bool drawn = a.bothEdges + b.bothEdges >= kLineShare * (a.used + b.used);
            if (atCorner < kCornerShare) {
                if (drawn && carriable(a, 0) && carriable(b, 1) && (!whole || present(a, b) >= kWholePresent)) {
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
    if (seen.lines[0].empty() || seen.lines[1].empty()) {
        const std::size_t k = seen.lines[0].empty() ? seen.stretch[0] : seen.stretch[1];
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
            if (inside > 2.0 * kSupportDistance && l.atCorner >= kCornerShare) {
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

// Both ends of a side must have taken the same line. Its outermost line
// seen at both ends (the outer frame, as a rule) is one line; the line
// taken lies as far inside it near one corner as near the other, bowed or
// not, when it is one line. At a low resolution a side may otherwise pair
// the neat line near one corner with the border's line next to it near
// the other, where the two agree within the bow allowed at the side's
// middle. The refusal, after the side's name, or empty.
std::optional<std::string> EndsTakeOtherLines(const SideLinesSeen& seen, const std::array<StretchLine, 2>& chosen,
                                              const std::vector<StretchPlan>& plans, double tolerance, double dpi) {
    const int outward = Outward(seen.side);
    std::array<const StretchLine*, 2> outermost{};
    for (std::size_t end = 0; end < 2; ++end) {
        for (const StretchLine& l : seen.lines[end]) {
            if (!outermost[end] || outward * (l.line.Across(seen.middle) - outermost[end]->line.Across(seen.middle)) > 0.0) {
                outermost[end] = &l;
            }
        }
    }
    if (!outermost[0] || !outermost[1] ||
        std::fabs(outermost[0]->line.Across(seen.middle) - outermost[1]->line.Across(seen.middle)) > tolerance) {
        return std::nullopt;
    }
    std::array<double, 2> gap{};
    for (std::size_t end = 0; end < 2; ++end) {
        const double at = plans[seen.stretch[end]].start;
        gap[end] = outward * (outermost[end]->line.Across(at) - chosen[end].line.Across(at));
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

// The lines a look sees along a side.
SideLinesSeen SeeSide(Side side, const Look& look, std::optional<double> width, double dpi, double keptShare,
                      int mostLines) {
    SideLinesSeen seen;
    seen.side = side;
    seen.stretch = StretchesOf(side, look.plans);
    for (std::size_t end = 0; end < 2; ++end) {
        const std::size_t k = seen.stretch[end];
        seen.lines[end] = StretchLines(look.plans[k], look.stretches[k], width, dpi, keptShare, mostLines);
        seen.profiles[end] = look.stretches[k].profiles;
    }
    seen.middle = 0.5 * (look.plans[seen.stretch[0]].start + look.plans[seen.stretch[1]].start);
    seen.width = width;
    return seen;
}

// How far outside the chosen line's centre at each end the inner edges of
// the lines seen outside it there lie, pixels.
std::vector<double> LinesOutside(const SideLinesSeen& seen, const std::array<StretchLine, 2>& chosen,
                                 const std::vector<StretchPlan>& plans) {
    std::vector<double> outside;
    for (std::size_t end = 0; end < 2; ++end) {
        const StretchPlan& plan = plans[seen.stretch[end]];
        const double along = 0.5 * (plan.start + plan.stop);
        for (const StretchLine& l : seen.lines[end]) {
            const double centre = Outward(seen.side) * (l.line.Across(along) - chosen[end].line.Across(along));
            if (centre > 2.0 * kSupportDistance) {
                outside.push_back(centre - HalfWidth(l, seen.width));
            }
        }
    }
    return outside;
}

// A side's line as one look chose it.
struct SideChoice {
    SideLinesSeen seen;
    SidePairing pairing;
    const Look* look = nullptr;
};

// The neat line of a side: on the first look, and when that refuses and a
// second look was taken, on the second. The refusal is the first look's
// when the second sees no more.
StageResult<SideChoice> ChooseSide(Side side, const Look& first, const Look* second, std::optional<double> width,
                                   double dpi, double tolerance) {
    SideChoice choice;
    choice.look = &first;
    choice.seen = SeeSide(side, first, width, dpi, kKeptShare, 4);
    choice.pairing = PairEnds(choice.seen, first.plans, tolerance, false);
    std::string refusal;
    if (!choice.pairing.chosen) {
        refusal = SideName(side) + WhyNoPair(choice.seen, choice.pairing, first.plans, first.stretches, tolerance);
    } else if (const std::optional<std::string> why = InnerLineAtOneEnd(choice.seen, *choice.pairing.chosen, first.plans)) {
        refusal = SideName(side) + *why;
    } else if (const std::optional<std::string> other =
                   EndsTakeOtherLines(choice.seen, *choice.pairing.chosen, first.plans, tolerance, dpi)) {
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
    again.pairing = PairEnds(again.seen, second->plans, tolerance, true);
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
            EndsTakeOtherLines(again.seen, *again.pairing.chosen, second->plans, tolerance, dpi)) {
        return StageResult<SideChoice>::Refused(SideName(side) + *why);
    }
    return again;
}

// The border is printed alike on every side: lines some way outside the
// neat line that two or more sides show outside the line taken there. A
// side whose profiles reach as far out but show none of them outside its
// line has taken the border's line (its neat line hidden next to both
// corners, by hatching, say): the one line as far inside it is taken
// instead, carried on to the corners it does not reach, when it is drawn
// along most of the side (found on the second look when the first does
// not show it); without it the side is refused, as it is when a line lies
// as far inside and what lies outside is not seen. sides: the choices,
// changed in place; slack: how closely the border's offsets agree, pixels.
// Offsets are taken from the centre of the line taken to the inner edge of
// the line outside it: a border line whose outer edge is hidden gives the
// same as one that shows both.
std::optional<std::string> AgreeWithBorder(std::array<std::optional<SideChoice>, 4>& sides, const Look* second,
                                           std::optional<double> width, double dpi, double tolerance, double slack) {
    std::array<std::vector<double>, 4> outside;
    for (Side side : kSides) {
        const SideChoice& c = *sides[static_cast<std::size_t>(side)];
        outside[static_cast<std::size_t>(side)] = LinesOutside(c.seen, *c.pairing.chosen, c.look->plans);
    }
    const auto near = [slack](const std::vector<double>& offsets, double d) {
        return std::any_of(offsets.begin(), offsets.end(), [&](double o) { return std::fabs(o - d) <= slack; });
    };
    // The border's offsets: each seen on two sides or more.
    std::vector<double> border;
    for (std::size_t s = 0; s < 4; ++s) {
        for (const double d : outside[s]) {
            int sidesShowing = 0;
            for (std::size_t t = 0; t < 4; ++t) {
                sidesShowing += near(outside[t], d);
            }
            if (sidesShowing >= 2) {
                border.push_back(d);
            }
        }
    }
    if (border.empty()) {
        return std::nullopt;
    }
    const double nearest = *std::min_element(border.begin(), border.end());
    const auto anyBorder = [&](const std::vector<double>& offsets) {
        return std::any_of(border.begin(), border.end(), [&](double d) { return near(offsets, d); });
    };
    for (Side side : kSides) {
        const std::size_t s = static_cast<std::size_t>(side);
        const SideChoice& c = *sides[s];
        if (anyBorder(outside[s])) {
            continue;
        }
        const int outward = Outward(side);
        const std::array<StretchLine, 2>& taken = *c.pairing.chosen;
        // Whether a look's profiles reach the border's nearest line outside
        // the line taken, and the lines it shows there.
        const auto reached = [&](const SideLinesSeen& seen, const Look& look) {
            for (std::size_t end = 0; end < 2; ++end) {
                const StretchPlan& plan = look.plans[seen.stretch[end]];
                const double along = 0.5 * (plan.start + plan.stop);
                const double reach =
                    outward * (plan.searchEdge.Across(along) - taken[end].line.Across(along)) + plan.edgeSearchOutward;
                if (nearest + slack > reach) {
                    return false;
                }
            }
            return true;
        };
        const auto beyond = [&](const SideLinesSeen& seen, const Look& look) { return LinesOutside(seen, taken, look.plans); };
        // The lines as far inside the line taken as the border lies outside
        // the others', told apart by more than a road's two edges are.
        std::vector<double> inside;
        for (std::size_t end = 0; end < 2; ++end) {
            const StretchPlan& plan = c.look->plans[c.seen.stretch[end]];
            const double along = 0.5 * (plan.start + plan.stop);
            for (const StretchLine& l : c.seen.lines[end]) {
                const double in =
                    outward * (taken[end].line.Across(along) - l.line.Across(along)) - HalfWidth(taken[end], c.seen.width);
                if (near(border, in) && !near(inside, in)) {
                    inside.push_back(in);
                }
            }
        }
        bool seenOutside = reached(c.seen, *c.look);
        if (!seenOutside && second != nullptr && c.look != second) {
            const SideLinesSeen further = SeeSide(side, *second, width, dpi, kWholeKeptShare, kWholeLines);
            if (anyBorder(beyond(further, *second))) {
                continue;
            }
            seenOutside = reached(further, *second);
        }
        char text[300];
        if (!seenOutside) {
            if (inside.empty()) {
                continue;  // nothing tells
            }
            std::snprintf(text, sizeof text,
                          ": a line %.1f pixels inside the line taken lies as far inside it as the border lies "
                          "outside the other sides' lines, and what lies outside it is not seen",
                          inside.front());
            return std::string(SideName(side)) + text;
        }
        if (inside.size() != 1) {
            std::snprintf(text, sizeof text,
                          ": the line taken shows none of the border's lines outside it (%.1f pixels outside the "
                          "other sides' lines) and %zu lines lie as far inside it",
                          nearest, inside.size());
            return std::string(SideName(side)) + text;
        }
        // The line inside, on this look or the second.
        const double takenAt = outward * 0.5 * (taken[0].line.Across(c.seen.middle) + taken[1].line.Across(c.seen.middle)) -
                               0.5 * (HalfWidth(taken[0], c.seen.width) + HalfWidth(taken[1], c.seen.width));
        std::optional<SideChoice> inner;
        for (const Look* look : {c.look, second}) {
            if (inner || look == nullptr) {
                continue;
            }
            SideChoice again;
            again.look = look;
            again.seen = look == c.look ? c.seen : SeeSide(side, *look, width, dpi, kWholeKeptShare, kWholeLines);
            const int profiles = again.seen.profiles[0] + again.seen.profiles[1];
            for (const StretchLine& a : again.seen.lines[0]) {
                for (const StretchLine& b : again.seen.lines[1]) {
                    const double a0 = outward * a.line.Across(again.seen.middle);
                    const double b0 = outward * b.line.Across(again.seen.middle);
                    const bool drawn = a.bothEdges + b.bothEdges >= kLineShare * (a.used + b.used);
                    const double present = profiles > 0 ? static_cast<double>(a.used + b.used) / profiles : 0.0;
                    if (std::fabs(a0 - b0) <= tolerance && std::fabs(0.5 * (a0 + b0) - (takenAt - inside[0])) <= slack &&
                        drawn && present >= kWornPresent && !inner) {
                        again.pairing.chosen = std::array<StretchLine, 2>{a, b};
                        again.pairing.carried = {a.atCorner < kCornerShare, b.atCorner < kCornerShare};
                        again.pairing.outerLine = inside[0];
                        inner = again;
                    }
                }
            }
        }
        if (!inner) {
            std::snprintf(text, sizeof text,
                          ": the line taken shows none of the border's lines outside it, and the line %.1f pixels "
                          "inside it is not drawn along most of the side",
                          inside[0]);
            return std::string(SideName(side)) + text;
        }
        sides[s] = inner;
    }
    return std::nullopt;
}

}  // namespace

StageResult<ChosenLines> ChooseLines(const Look& first, const Look* second, std::optional<double> width, double dpi) {
    const double tolerance = std::max(3.0, MmToPixels(kBowToleranceMm, dpi));
    std::array<std::optional<SideChoice>, 4> sides;
    for (Side side : kSides) {
        StageResult<SideChoice> choice = ChooseSide(side, first, second, width, dpi, tolerance);
        if (!choice.Found()) {
            return StageResult<ChosenLines>::Refused(choice.Refusal());
        }
        sides[static_cast<std::size_t>(side)] = *choice;
    }
    const double agreement = std::max(1.0, MmToPixels(kBorderAgreementMm, dpi));
    if (const std::optional<std::string> why = AgreeWithBorder(sides, second, width, dpi, tolerance, agreement)) {
        return StageResult<ChosenLines>::Refused(*why);
    }
    // A line worn away or hidden next to a corner is the neat line only
    // when the line outside it, running on into the corner, is the
    // border's: another side shows a line as far outside its own (or is
    // worn with the same line outside).
    for (Side side : kSides) {
        const SideChoice& c = *sides[static_cast<std::size_t>(side)];
        if (!(c.pairing.outerLine > 0.0)) {
            continue;
        }
        bool border = false;
        for (Side other : kSides) {
            const SideChoice& o = *sides[static_cast<std::size_t>(other)];
            if (other == side) {
                continue;
            }
            if (o.pairing.outerLine > 0.0) {
                // Two sides worn alike: the same border outside both.
                border = border || std::fabs(o.pairing.outerLine - c.pairing.outerLine) <= agreement;
                continue;
            }
            for (const double out : LinesOutside(o.seen, *o.pairing.chosen, o.look->plans)) {
                border = border || std::fabs(out - c.pairing.outerLine) <= agreement;
            }
        }
        if (!border) {
            const std::size_t end = c.pairing.carried[0] ? 0 : 1;
            char text[300];
            std::snprintf(text, sizeof text,
                          ": its line stops short of corner %s, where a line %.1f pixels outside it runs on; no other "
                          "side shows a line as far outside its own (the border?)",
                          kCornerNames[static_cast<std::size_t>(c.look->plans[c.seen.stretch[end]].corner)],
                          c.pairing.outerLine);
            return StageResult<ChosenLines>::Refused(std::string(SideName(side)) + text);
        }
    }
    ChosenLines chosen;
    for (Side side : kSides) {
        const SideChoice& c = *sides[static_cast<std::size_t>(side)];
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
        }
    }
    return chosen;
}


}  // namespace georef::corners
