#pragma once
// A side's neat line placed from the border's outer frame, when the neat
// line itself cannot be told from the lines beside it along that side (at a
// low resolution a thin neat line merges with the border's inner line or a
// road pressed against it).
//
// The border's outer frame is its outermost line: every profile across a
// side comes back from ink to paper at the frame's outer edge, whether the
// frame stands alone or merges with filled minutes inside it, and nothing
// else runs as straight beyond it (frame_edge.hpp). The gap from the neat
// line's centre to that edge is printed alike on the four sides of a sheet
// but differs from sheet to sheet. It is measured on the sides whose neat
// line was found next to their corners and carried to the others: their
// neat line is their frame's outer edge moved inward by that gap, next to
// each corner.
//
// Frames: plane pixels of the scan (frame.hpp).

#include <array>
#include <optional>
#include <string>

#include "corners/frame.hpp"
#include "corners/side_choice.hpp"
#include "corners/side_lines.hpp"

namespace georef::corners {

// The outer edge of a side's frame next to each of its corners, end 0 then
// end 1, from the look over the side to its middle: the outermost straight
// line along which the profiles come back from ink to paper, on most of
// them, the same line at both ends; each fitted again over the part of the
// stretch next to its corner that the first look measures. Empty when it
// is not seen so.
std::optional<std::array<SideLine, 2>> FrameOf(Side side, const Look& second, double dpi);

// The same where a corner of the side may be torn off, the frame with it:
// next to such a corner the frame is fitted over as much of the side from
// where it is first seen on half the profiles, and fromCorner says how far
// along from the profile next to the corner that is (pixels; 0 where the
// frame runs into the corner). Empty when the two ends' outermost lines
// do not agree or an end shows too little of its frame.
struct FrameEnd {
    SideLine line;
    double fromCorner = 0.0;
};
std::optional<std::array<FrameEnd, 2>> FrameEndsOf(Side side, const Look& second, double dpi);

// Places from their frame the sides not chosen (empty in `sides`), and
// the sides chosen next to their corners whose gap to the frame next to a
// corner differs from the other sides' (they took another line there).
// Nothing changes when every side is chosen and no gap is measured or all
// agree. sides: the choices, changed in place; first: the look that
// measured next to the corners; second: the look over each side to its
// middle, which reaches far enough out to see the frame; width: the neat
// line's drawn width, when known. The refusal, with the sides unchanged,
// when a side is to be placed and the gap does not agree on two other
// sides, its frame is not one line from corner to corner, or the neat line
// placed from it is seen near neither corner of its side.
// unseenWithAllSides: a side is placed even where no line of its own is
// seen near its corners (a thin neat line merged with the border's), when
// every other side shows the gap alike, two of them measured next to their
// corners at least.
std::optional<std::string> PlaceFromFrame(std::array<std::optional<SideChoice>, 4>& sides, const Look& first,
                                          const Look& second, std::optional<double> width, double dpi,
                                          bool unseenWithAllSides = false);

// The sides taken on a fainter line inside the line first taken (those
// marked in `moved`, fainter_line.hpp) checked against the border: next to
// each of its corners such a side's neat line lies as far inside its frame's
// outer edge as the other sides' neat lines lie inside theirs (the median of
// theirs), within kMovedGapAgreementMm. A road along the side, taken
// for a neat line merged with the border's, lies further in. lines: every
// side's neat line (centre) next to each corner; first: the look that
// measured next to the corners; second: the look over each side to its
// middle. The refusal, or empty; refused too when the frame of a side moved
// or of every other side is not seen. A side not moved is refused only when
// its neat line lies further inside its frame than the other sides' by more
// than twice that agreement, where its frame and two other sides' are seen
// (a road drawn along the whole side, into both corners, taken for the neat
// line). torn: per side and end, carried on to a corner torn off while the
// other end runs into its own; such a side's frame and gap are seen next to
// that other corner only, and taken for both ends. When a side was carried
// so and another moved, a side not moved lying further out than the others'
// median by more than the agreement is refused too: it kept the border's
// line, its fainter line unseen.
inline constexpr double kMovedGapAgreementMm = 0.25;
std::optional<std::string> LinesMeetFrame(const SideEndLines& lines, const std::array<bool, 4>& moved,
                                          const std::array<std::array<bool, 2>, 4>& torn, const Look& first,
                                          const Look& second, double dpi);

}  // namespace georef::corners
