#pragma once
// Choosing each side's neat line among the straight lines its stretches
// show (stretch.hpp), for the refinement (refine.hpp): the innermost line
// that runs from corner to corner, carried on to a corner torn off, worn
// away or hidden, and placed as the border is on the other sides.
//
// A first look measures each side next to its corners; a second look,
// taken only when the first refuses, measures each side from its corners
// to its middle and a little further out.

#include <array>
#include <optional>
#include <vector>

#include "corners/frame.hpp"
#include "corners/stage_result.hpp"
#include "corners/stretch.hpp"

namespace georef::corners {

// Share of each side measured next to each corner on the first look, and
// on the second.
inline constexpr double kSpanShare = 0.2;
inline constexpr double kWholeSpanShare = 0.5;
// The second look also reaches this much further out of the search's
// edge, to see the border outside a line taken, millimetres on the paper.
inline constexpr double kWholeFurtherOutMm = 4.5;

// The stretches of one look at the sides (two per corner, as planned) and
// what they show (stretches[k] measured plans[k]).
struct Look {
    std::vector<StretchPlan> plans;
    std::vector<Stretch> stretches;
};

// Each side's neat line, at both its ends: the centre of the drawn line,
// and how far it is carried on to each corner (pixels, 0 where it runs into
// the corner).
struct ChosenLines {
    SideEndLines lines;
    std::array<double, 4> carried{};
    // Per side and end: the end is carried on to its corner from the second
    // look while the side's other end runs into its own corner, so the
    // other end's line (lines[side][1 - end]) may be carried on instead.
    std::array<std::array<bool, 2>, 4> fromOtherEnd{};
    // Per side, the gap from the border's outer frame inward at which its
    // neat line was placed (border_gap.hpp), pixels; empty where the side's
    // own line was taken.
    std::array<std::optional<double>, 4> fromFrame{};
};

// A side's two stretches in a look's plans: indices, end 0 then end 1.
std::array<std::size_t, 2> StretchesOf(Side side, const std::vector<StretchPlan>& plans);

// width: the drawn width, when known, for lines whose outer edge is hidden;
// second: the second look, when taken; bands: on the second look, a line
// that shows only its inner edge may be carried on to a corner torn off when
// a band's outer edge runs outside it (a filled border merged with the neat
// line); hidden: a line inside the border's that runs into one corner is
// followed through hatching that hides it next to the other (on the first
// look, when the second is taken) before the second look is tried. The
// refusal names the side and why.
StageResult<ChosenLines> ChooseLines(const Look& first, const Look* second, std::optional<double> width, double dpi,
                                     bool bands = false, bool hidden = false);

}  // namespace georef::corners
