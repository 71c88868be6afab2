#include "corners/refine.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <iterator>
#include <cstdio>
#include <optional>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "corners/line_fit.hpp"
#include "corners/stretch.hpp"


namespace georef::corners {

namespace {

constexpr double kBowToleranceMm = 0.35;  // the two ends of a side agree within this
// Share of each side measured next to each corner.
constexpr double kSpanShare = 0.2;
// Least share of a side's profiles on which the neat line shows both edges
// (a filled border may hide the outer edge on the others).
constexpr double kLineShare = 0.1;
// Least share of the profiles next to a corner that must show the neat line.
constexpr double kCornerShare = 0.5;
// A line that does not run into its corner (torn off, hidden, worn away) is
// carried on to it only when it shows on the half of the stretch next to
// the corner.
constexpr double kLongestCarry = 0.5;

std::string Where(Side side, int corner) {
    return std::string(SideName(side)) + " near " + kCornerNames[static_cast<std::size_t>(corner)];
}

// ---- Planning --------------------------------------------------------------

// Two stretches per corner, the downward side's then the sideways side's,
// placed along the search's inner edges.
std::vector<StretchPlan> PlanStretches(const CoarseFrame& coarse, double dpi) {
    // Corners from the search's inner edges, to place the stretches measured.
    const FrameCorners rough = IntersectSides(coarse.inner);
    std::vector<StretchPlan> plans;
    for (int k = 0; k < 4; ++k) {
        const CornerSides sides = kCornerSides[static_cast<std::size_t>(k)];
        // Neighbouring corners along each side, for the length measured.
        const int downNeighbour = k == 0 ? 1 : k == 1 ? 0 : k == 2 ? 3 : 2;
        const int sideNeighbour = 3 - k;
        const double downLength = std::hypot(rough[k].column - rough[downNeighbour].column,
                                             rough[k].row - rough[downNeighbour].row);
        const double sideLength = std::hypot(rough[k].column - rough[sideNeighbour].column,
                                             rough[k].row - rough[sideNeighbour].row);
        plans.push_back(PlanStretch(sides.downward, k, coarse.inner[static_cast<int>(sides.downward)], rough[k].row,
                                    EndOfDownwardSide(sides) == 0 ? 1 : -1, kSpanShare * downLength, coarse.factor,
                                    dpi));
        plans.push_back(PlanStretch(sides.sideways, k, coarse.inner[static_cast<int>(sides.sideways)],
                                    rough[k].column, EndOfSidewaysSide(sides) == 0 ? 1 : -1, kSpanShare * sideLength,
                                    coarse.factor, dpi));
    }
    return plans;
}

// ---- Choosing each side's line ---------------------------------------------

// A side's two stretches: indices into the plans, end 0 then end 1.
std::array<std::size_t, 2> StretchesOf(Side side, const std::vector<StretchPlan>& plans) {
    std::array<std::size_t, 2> at{};
    for (std::size_t k = 0; k < plans.size(); ++k) {
        if (plans[k].side == side) {
            at[static_cast<std::size_t>(plans[k].end)] = k;
        }
    }
    return at;
}

// The lines of a side's two stretches, and where they are compared.
struct SideLinesSeen {
    Side side = Side::left;
    std::array<std::size_t, 2> stretch{};           // indices of the plans, end 0 then end 1
    std::array<std::vector<StretchLine>, 2> lines;  // of each stretch, most supported first
    double middle = 0.0;                            // along coordinate half-way between the two
};

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
SidePairing PairEnds(const SideLinesSeen& seen, const std::vector<StretchPlan>& plans, double tolerance) {
    const int outward = Outward(seen.side);
    SidePairing pairing;
    double innermost = 0.0;
    std::vector<std::array<StretchLine, 2>> carried;
    std::array<bool, 2> emptyCorner{};
    for (std::size_t end = 0; end < 2; ++end) {
        emptyCorner[end] = std::none_of(seen.lines[end].begin(), seen.lines[end].end(),
                                        [](const StretchLine& l) { return l.atCorner >= kCornerShare; });
    }
    const auto carriable = [&](const StretchLine& l, std::size_t end) {
        const StretchPlan& plan = plans[seen.stretch[end]];
        return l.atCorner >= kCornerShare ||
               (emptyCorner[end] && l.fromCorner <= kLongestCarry * std::fabs(plan.stop - plan.start));
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
                if (drawn && carriable(a, 0) && carriable(b, 1)) {
                    carried.push_back({a, b});
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
                continue;
            }
            const double position = outward * 0.5 * (a.line.Across(seen.middle) + b.line.Across(seen.middle));
            if (!pairing.chosen || position < innermost) {
                pairing.chosen = std::array<StretchLine, 2>{a, b};
                innermost = position;
            }
        }
    }
    // Of the lines carried on, the innermost, as above: a border line
    // outside the neat line is torn off with it.
    if (pairing.chosen) {
        return pairing;
    }
    for (const std::array<StretchLine, 2>& pair : carried) {
        const double position = outward * 0.5 * (pair[0].line.Across(seen.middle) + pair[1].line.Across(seen.middle));
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

// Each side's neat line, at both its ends: the centre of the drawn line,
// and how far it is carried on to each corner (pixels, 0 where it runs into
// the corner).
struct ChosenLines {
    SideEndLines lines;
    std::array<double, 4> carried{};
};

// width: the drawn width, when known, for lines whose outer edge is hidden.
StageResult<ChosenLines> ChooseLines(const std::vector<StretchPlan>& plans, const std::vector<Stretch>& stretches,
                                     std::optional<double> width, double dpi) {
    const double tolerance = std::max(3.0, MmToPixels(kBowToleranceMm, dpi));
    ChosenLines chosen;
    for (Side side : kSides) {
        SideLinesSeen seen;
        seen.side = side;
        seen.stretch = StretchesOf(side, plans);
        for (std::size_t end = 0; end < 2; ++end) {
            const std::size_t k = seen.stretch[end];
            seen.lines[end] = StretchLines(plans[k], stretches[k], width, dpi);
        }
        seen.middle = 0.5 * (plans[seen.stretch[0]].start + plans[seen.stretch[1]].start);
        const SidePairing pairing = PairEnds(seen, plans, tolerance);
        if (!pairing.chosen) {
            return StageResult<ChosenLines>::Refused(SideName(side) +
                                                     WhyNoPair(seen, pairing, plans, stretches, tolerance));
        }
        if (const std::optional<std::string> why = InnerLineAtOneEnd(seen, *pairing.chosen, plans)) {
            return StageResult<ChosenLines>::Refused(SideName(side) + *why);
        }
        for (std::size_t end = 0; end < 2; ++end) {
            chosen.lines[static_cast<std::size_t>(side)][end] = (*pairing.chosen)[end].line;
            if (pairing.carried[end]) {
                double& far = chosen.carried[static_cast<std::size_t>(plans[seen.stretch[end]].corner)];
                far = std::max(far, (*pairing.chosen)[end].fromCorner);
            }
        }
    }
    return chosen;
}

// The centre lines moved half the drawn width outward (outer edge) or
// inward (inner edge).
SideEndLines MovedToEdge(SideEndLines lines, Edge edge, double width) {
    if (edge == Edge::centre) {
        return lines;
    }
    const double shift = (edge == Edge::outer ? 0.5 : -0.5) * width;
    for (Side side : kSides) {
        for (SideLine& line : lines[static_cast<std::size_t>(side)]) {
            line.a += Outward(side) * shift * std::sqrt(1.0 + line.b * line.b);
        }
    }
    return lines;
}

// Each stretch from its own pixels; with two threads this one measures the
// even stretches and a helper the odd ones. Every stretch is measured alone
// from the same pixels either way, so the results are the same bit for bit.
std::vector<Stretch> MeasureStretches(const std::vector<StretchPlan>& plans, const std::vector<cv::Mat>& pixels,
                                      int threads) {
    std::vector<Stretch> stretches(plans.size());
    const auto measure = [&](std::size_t first) {
        for (std::size_t k = first; k < plans.size(); k += threads >= 2 ? 2 : 1) {
            stretches[k] = MeasureStretch(plans[k], pixels[k]);
        }
    };
    if (threads < 2) {
        measure(0);
        return stretches;
    }
    std::exception_ptr failed;
    std::thread odd([&] {
        try {
            measure(1);
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        measure(0);
    } catch (...) {
        odd.join();
        throw;
    }
    odd.join();
    if (failed) {
        std::rethrow_exception(failed);
    }
    return stretches;
}

}  // namespace

RefineResult RefineFullResolution(const ScanImage& scan, const CoarseFrame& coarse, double dpi, Edge edge,
                                  const std::vector<cv::Rect>& alsoRead, int threads) {
    const std::vector<StretchPlan> plans = PlanStretches(coarse, dpi);
    const cv::Rect image(0, 0, scan.Width(), scan.Height());
    std::vector<cv::Rect> windows;
    for (const StretchPlan& p : plans) {
        if ((p.window & image).area() < p.window.area()) {
            return RefineResult::Refused(Where(p.side, p.corner) + ": the line runs off the scan");
        }
        windows.push_back(p.window);
    }
    windows.insert(windows.end(), alsoRead.begin(), alsoRead.end());
    std::vector<Stretch> stretches;
    std::vector<cv::Mat> along;
    {
        std::vector<cv::Mat> pixels = scan.ReadWindows(windows);
        stretches = MeasureStretches(plans, pixels, threads);
        along.assign(std::make_move_iterator(pixels.begin() + static_cast<std::ptrdiff_t>(plans.size())),
                     std::make_move_iterator(pixels.end()));
    }
    // The lines are chosen with the width of every line seen, then again
    // with the width of the neat line alone.
    const StageResult<ChosenLines> first = ChooseLines(plans, stretches, DrawnWidth(plans, stretches, nullptr), dpi);
    if (!first.Found()) {
        return RefineResult::Refused(first.Refusal());
    }
    const std::optional<double> width = DrawnWidth(plans, stretches, &first->lines);
    if (edge != Edge::centre && !width) {
        return RefineResult::Refused("the neat line's width cannot be measured (too few profiles show both its "
                                     "edges); only its centre can be found");
    }
    const StageResult<ChosenLines> centres = ChooseLines(plans, stretches, width, dpi);
    if (!centres.Found()) {
        return RefineResult::Refused(centres.Refusal());
    }
    RefinedFrame frame;
    frame.lines = MovedToEdge(centres->lines, edge, width.value_or(0.0));
    frame.carried = centres->carried;
    frame.corners = IntersectSides(frame.lines);
    frame.lineWidth = width.value_or(0.0);
    frame.alsoRead = std::move(along);
    return frame;
}

}  // namespace georef::corners
