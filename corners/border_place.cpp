#include "corners/border_place.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "corners/line_fit.hpp"

namespace georef::corners {

std::optional<BorderDisagreement> AgreeWithBorder(std::array<std::optional<SideChoice>, 4>& sides, const Look* second,
                                                  std::optional<double> width, double dpi, double tolerance,
                                                  double slack) {
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
        if (c.frameGap || anyBorder(outside[s])) {
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
            return BorderDisagreement{side, std::string(SideName(side)) + text};
        }
        if (inside.size() != 1) {
            std::snprintf(text, sizeof text,
                          ": the line taken shows none of the border's lines outside it (%.1f pixels outside the "
                          "other sides' lines) and %zu lines lie as far inside it",
                          nearest, inside.size());
            return BorderDisagreement{side, std::string(SideName(side)) + text};
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
            return BorderDisagreement{side, std::string(SideName(side)) + text};
        }
        sides[s] = inner;
    }
    return std::nullopt;
}

std::optional<std::string> WornLinesMeetBorder(const std::array<std::optional<SideChoice>, 4>& sides, double agreement) {
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
            return std::string(SideName(side)) + text;
        }
    }
    return std::nullopt;
}

}  // namespace georef::corners
