#pragma once
// The border's place around the lines the sides took (side_lines.hpp): the
// border is printed alike on every side, so a line taken that shows none of
// the border's lines outside it, or a worn line whose outer line lies
// further out than the border does on the other sides, is not the neat
// line.

#include <array>
#include <optional>
#include <string>

#include "corners/side_lines.hpp"

namespace georef::corners {

// A side whose line taken is not where the border tells, and why (with
// the side's name).
struct BorderDisagreement {
    Side side = Side::left;
    std::string why;
};

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
// A side placed from the border's outer frame (border_gap.hpp) is not
// checked: it lies at the gap the other sides show. The refusal names the
// side, so that it can be placed from its frame instead.
std::optional<BorderDisagreement> AgreeWithBorder(std::array<std::optional<SideChoice>, 4>& sides, const Look* second,
                                                  std::optional<double> width, double dpi, double tolerance,
                                                  double slack);

// A line worn away or hidden next to a corner is the neat line only when
// the line outside it, running on into the corner, is the border's:
// another side shows a line as far outside its own (or is worn with the
// same line outside). The refusal, with the side's name, or empty. agreement: how closely the
// border's offsets agree, pixels.
std::optional<std::string> WornLinesMeetBorder(const std::array<std::optional<SideChoice>, 4>& sides, double agreement);

}  // namespace georef::corners
