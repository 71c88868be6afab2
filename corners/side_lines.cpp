#include "corners/side_lines.hpp"

#include "corners/line_fit.hpp"

namespace georef::corners {

// The lines a look sees along a side.
SideLinesSeen SeeSide(Side side, const Look& look, std::optional<double> width, double dpi, double keptShare,
                      int mostLines, bool nearCorner) {
    SideLinesSeen seen;
    seen.side = side;
    seen.stretch = StretchesOf(side, look.plans);
    for (std::size_t end = 0; end < 2; ++end) {
        const std::size_t k = seen.stretch[end];
        seen.lines[end] = StretchLines(look.plans[k], look.stretches[k], width, dpi, keptShare, mostLines, nearCorner);
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
            if (l.nearCornerOnly) {
                continue;
            }
            const double centre = Outward(seen.side) * (l.line.Across(along) - chosen[end].line.Across(along));
            if (centre > 2.0 * kSupportDistance) {
                outside.push_back(centre - HalfWidth(l, seen.width));
            }
        }
    }
    return outside;
}

}  // namespace georef::corners
