#pragma once
// What a look sees along each side and the line each side takes there,
// shared by the choice of each side's line (side_choice.hpp) and the check
// of the border's place around the lines taken (border_place.hpp).

#include <array>
#include <optional>
#include <vector>

#include "corners/frame.hpp"
#include "corners/side_choice.hpp"
#include "corners/stretch.hpp"

namespace georef::corners {

// Least share of a side's profiles on which the neat line shows both edges
// (a filled border may hide the outer edge on the others).
inline constexpr double kLineShare = 0.1;
// Least share of the profiles next to a corner that must show the neat line.
inline constexpr double kCornerShare = 0.5;
// On the second look, a line of a stretch shows on this share of its
// profiles (an eighth of the side).
inline constexpr double kWholeKeptShare = 0.25;
// Lines looked for in each such stretch: a road, its other edge, the
// border's lines may all run beside the neat line there.
inline constexpr int kWholeLines = 6;
// A line worn away or hidden next to a corner where a line outside it runs
// on shows on this share of the side's profiles.
inline constexpr double kWornPresent = 0.6;
// The line outside a worn one lies as far outside the other sides' lines
// within this, millimetres on the paper (the border is printed alike on
// every side).
inline constexpr double kBorderAgreementMm = 0.1;

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
inline double HalfWidth(const StretchLine& l, std::optional<double> width) noexcept {
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

// A side's line as one look chose it.
struct SideChoice {
    SideLinesSeen seen;
    SidePairing pairing;
    const Look* look = nullptr;
    // Placed from the border's outer frame (border_gap.hpp): the gap from
    // the frame's outer edge inward to the neat line's centre, pixels.
    std::optional<double> frameGap;
};

// The lines a look sees along a side: keptShare, mostLines and nearCorner
// as for StretchLines.
SideLinesSeen SeeSide(Side side, const Look& look, std::optional<double> width, double dpi, double keptShare,
                      int mostLines, bool nearCorner = false);

// How far outside the chosen line's centre at each end the inner edges of
// the lines seen outside it there lie, pixels.
std::vector<double> LinesOutside(const SideLinesSeen& seen, const std::array<StretchLine, 2>& chosen,
                                 const std::vector<StretchPlan>& plans);

}  // namespace georef::corners
