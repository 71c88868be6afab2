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

#include "corners/border_gap.hpp"
#include "corners/fainter_line.hpp"
#include "corners/side_choice.hpp"
#include "corners/stretch.hpp"


namespace georef::corners {

namespace {

std::string Where(Side side, int corner) {
    return std::string(SideName(side)) + " near " + kCornerNames[static_cast<std::size_t>(corner)];
}

// ---- Planning --------------------------------------------------------------

// Two stretches per corner, the downward side's then the sideways side's,
// placed along the search's inner edges.
std::vector<StretchPlan> PlanStretches(const CoarseFrame& coarse, double dpi, double spanShare, double furtherOutMm,
                                       double minimumDepth) {
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
                                    EndOfDownwardSide(sides) == 0 ? 1 : -1, spanShare * downLength, coarse.factor,
                                    dpi, furtherOutMm, minimumDepth));
        plans.push_back(PlanStretch(sides.sideways, k, coarse.inner[static_cast<int>(sides.sideways)],
                                    rough[k].column, EndOfSidewaysSide(sides) == 0 ? 1 : -1, spanShare * sideLength,
                                    coarse.factor, dpi, furtherOutMm, minimumDepth));
    }
    return plans;
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

// The fainter line's centre lies at least this far inside the line taken,
// pixels, and its two ends' places inside it differ by at most this much.
constexpr double kFainterInside = 1.0;
constexpr double kFainterEndsApart = 2.0;

std::string FainterRefusal(Side side, const FainterLine& near0, const FainterLine& near1) {
    char text[300];
    std::snprintf(text, sizeof text,
                  ": near both corners a fainter line runs %.1f and %.1f pixels inside the line taken (the neat "
                  "line, merged with the border or a road?)",
                  near0.innerEdge, near1.innerEdge);
    return SideName(side) + std::string(text);
}

// The fainter lines inside each side's line taken near its two corners,
// where both show.
using FainterPairs = std::array<std::optional<std::array<FainterLine, 2>>, 4>;
// Per side and end: carried on to a corner torn off while the side's other
// end runs into its own (ChosenLines::fromOtherEnd).
using TornEnds = std::array<std::array<bool, 2>, 4>;

// A side carried on to a corner torn off shows nothing next to that corner:
// its fainter line lies there as far inside the line taken as next to the
// other corner (the border is printed parallel to the neat line).
FainterPairs FainterLinesInside(const std::vector<StretchPlan>& plans, const std::vector<cv::Mat>& greys,
                                const SideEndLines& lines, double dpi, const TornEnds& torn) {
    FainterPairs pairs;
    for (Side side : kSides) {
        const auto s = static_cast<std::size_t>(side);
        const std::array<std::size_t, 2> at = StretchesOf(side, plans);
        std::array<std::optional<FainterLine>, 2> seen;
        for (std::size_t end = 0; end < 2; ++end) {
            if (!torn[s][end]) {
                seen[end] = FainterLineInside(plans[at[end]], greys[at[end]], lines[s][end], dpi);
            }
        }
        for (std::size_t end = 0; end < 2; ++end) {
            if (torn[s][end]) {
                seen[end] = seen[1 - end];
            }
        }
        if (seen[0] && seen[1] && std::min(seen[0]->edge, seen[1]->edge) >= kFainterEdge) {
            pairs[static_cast<std::size_t>(side)] = std::array<FainterLine, 2>{*seen[0], *seen[1]};
        }
    }
    return pairs;
}

// The sides whose line taken has a fainter line inside it near both
// corners moved onto that line: the line taken is then the border's (the
// neat line merged with it at this resolution) and the fainter line, running
// parallel to it near both corners, the neat line. Refused when a fainter
// line's centre cannot be told, lies barely inside the line taken, or lies
// so differently inside it at the two corners that the two are not one
// straight line beside it; when a side placed from its frame with the gap
// of sides so moved cannot be moved as they were; and when the lines moved
// onto show yet another fainter line inside them (a road along the side?).
// fromFrame: the gap each side was placed with from its frame, if so,
// corrected where the sides that gave it were moved; torn: the ends carried
// on to a corner torn off. moved: per side, how far inside the line taken
// the neat line was taken near each corner.
StageResult<SideEndLines> OntoFainterLines(const std::vector<StretchPlan>& plans, const std::vector<cv::Mat>& greys,
                                           SideEndLines lines, std::array<std::optional<double>, 4>& fromFrame,
                                           double dpi, const TornEnds& torn,
                                           std::array<std::optional<std::array<double, 2>>, 4>& moved) {
    const FainterPairs pairs = FainterLinesInside(plans, greys, lines, dpi, torn);
    for (Side side : kSides) {
        const auto s = static_cast<std::size_t>(side);
        if (!pairs[s]) {
            continue;
        }
        const std::array<FainterLine, 2>& seen = *pairs[s];
        if (!seen[0].centre || !seen[1].centre || std::min(*seen[0].centre, *seen[1].centre) < kFainterInside ||
            std::fabs(*seen[0].centre - *seen[1].centre) > kFainterEndsApart) {
            return StageResult<SideEndLines>::Refused(FainterRefusal(side, seen[0], seen[1]));
        }
        for (std::size_t end = 0; end < 2; ++end) {
            SideLine& line = lines[s][end];
            line.a -= Outward(side) * *seen[end].centre * std::sqrt(1.0 + line.b * line.b);
        }
        moved[s] = std::array<double, 2>{*seen[0].centre, *seen[1].centre};
    }
    // A side placed from its frame took the gap measured on the other
    // sides' lines: where those were the border's, its place lies as far
    // outside the neat line as theirs did, unless it was moved onto its own
    // fainter line too. It is moved by their mean when every side that gave
    // the gap was moved so and alike; otherwise its place cannot be told.
    const bool anyMoved = std::any_of(moved.begin(), moved.end(), [](const auto& m) { return m.has_value(); });
    std::vector<double> givers;  // how far the sides that gave the gap were moved, near each corner
    bool everyGiverMoved = true;
    for (Side side : kSides) {
        const auto s = static_cast<std::size_t>(side);
        if (!fromFrame[s]) {
            everyGiverMoved = everyGiverMoved && moved[s].has_value();
            if (moved[s]) {
                givers.insert(givers.end(), moved[s]->begin(), moved[s]->end());
            }
        }
    }
    for (Side side : kSides) {
        const auto s = static_cast<std::size_t>(side);
        if (!anyMoved || !fromFrame[s] || moved[s]) {
            continue;
        }
        const auto [least, most] = std::minmax_element(givers.begin(), givers.end());
        if (!everyGiverMoved || givers.empty() || *most - *least > kFainterEndsApart) {
            return StageResult<SideEndLines>::Refused(
                SideName(side) + std::string(" was placed from the border's outer frame with the gap measured on "
                                             "sides whose neat line merges with the border's line, and shows no "
                                             "fainter line inside near both corners"));
        }
        double shift = 0.0;
        for (const double g : givers) {
            shift += g / static_cast<double>(givers.size());
        }
        for (SideLine& line : lines[s]) {
            line.a -= Outward(side) * shift * std::sqrt(1.0 + line.b * line.b);
        }
        *fromFrame[s] += shift;
    }
    if (!anyMoved) {
        return lines;
    }
    const FainterPairs again = FainterLinesInside(plans, greys, lines, dpi, torn);
    for (Side side : kSides) {
        const auto s = static_cast<std::size_t>(side);
        if (again[s]) {
            return StageResult<SideEndLines>::Refused(FainterRefusal(side, (*again[s])[0], (*again[s])[1]));
        }
    }
    return lines;
}

// The neat line as the innermost line inside the border's outer frame.
// At a low resolution a thin neat line may merge with the border on every
// side: near one corner it shows only as a shoulder on the inner flank of
// filled minutes, near the other as one line with the border's thin inner
// line, so no side takes one line at both its ends. Next to every corner
// the neat line is still the innermost line inside the frame, and the
// border is printed alike on the four sides: the gap from the frame's outer
// edge inward to that line's centre, measured next to each of the eight
// side ends, must agree within kMovedGapAgreementMm of their median
// everywhere; each end of a side is then its frame moved inward by its own
// gap (the line's own place there, as measured).
// One corner may be torn off, the frame with it: its two sides' frames
// and gaps are then measured from where the frame is first seen beyond the
// tear, and their lines carried on to the corner, as long as half the side
// is present (kLongestFrameCarry of the look's stretch).
// A road, hatching or lettering against the line next to a corner, more
// than one corner torn off or a frame not seen leave it empty (the scan
// keeps its refusal). second: the look over each side to its middle, which
// reaches the frame; pixels: its windows' pixels, as read for its plans.
constexpr double kLongestFrameCarry = 0.7;
std::optional<ChosenLines> InsideTheFrames(const Look& second, const std::vector<cv::Mat>& pixels, double dpi) {
    std::array<std::array<FrameEnd, 2>, 4> frames;
    std::optional<int> torn;  // the corner torn off, if any
    for (Side side : kSides) {
        const std::optional<std::array<FrameEnd, 2>> frame = FrameEndsOf(side, second, dpi);
        if (!frame) {
            return std::nullopt;
        }
        const std::array<std::size_t, 2> at = StretchesOf(side, second.plans);
        for (std::size_t end = 0; end < 2; ++end) {
            const StretchPlan& plan = second.plans[at[end]];
            if ((*frame)[end].fromCorner <= 0.0) {
                continue;
            }
            if ((torn && *torn != plan.corner) ||
                (*frame)[end].fromCorner > kLongestFrameCarry * std::fabs(plan.stop - plan.start)) {
                return std::nullopt;
            }
            torn = plan.corner;
        }
        frames[static_cast<std::size_t>(side)] = *frame;
    }
    std::vector<double> gaps;
    for (Side side : kSides) {
        const std::array<std::size_t, 2> at = StretchesOf(side, second.plans);
        for (std::size_t end = 0; end < 2; ++end) {
            const StretchPlan& plan = second.plans[at[end]];
            const FrameEnd& frame = frames[static_cast<std::size_t>(side)][end];
            const std::vector<double> centres =
                LineCentresInside(plan, OrientedGrey(plan, pixels[at[end]]), frame.line, dpi, frame.fromCorner);
            if (centres.empty()) {
                return std::nullopt;
            }
            gaps.push_back(centres.back());
        }
    }
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const double median = 0.5 * (sorted[3] + sorted[4]);
    const double agreement = std::max(1.0, MmToPixels(kMovedGapAgreementMm, dpi));
    if (sorted.front() < median - agreement || sorted.back() > median + agreement) {
        return std::nullopt;
    }
    ChosenLines chosen;
    for (Side side : kSides) {
        const auto s = static_cast<std::size_t>(side);
        const std::array<std::size_t, 2> at = StretchesOf(side, second.plans);
        for (std::size_t end = 0; end < 2; ++end) {
            const FrameEnd& frame = frames[s][end];
            SideLine line = frame.line;
            line.a -= Outward(side) * gaps[2 * s + end] * std::sqrt(1.0 + line.b * line.b);
            chosen.lines[s][end] = line;
            if (frame.fromCorner > 0.0) {
                double& far = chosen.carried[static_cast<std::size_t>(second.plans[at[end]].corner)];
                far = std::max(far, frame.fromCorner);
                chosen.fromOtherEnd[s][end] = true;
            }
        }
        chosen.fromFrame[s] = 0.5 * (gaps[2 * s] + gaps[2 * s + 1]);
    }
    return chosen;
}

// The corners with each combination of the side ends that may be carried
// on from the side's other end taken so (all but the one taking none).
std::vector<FrameCorners> FromOtherEnds(const ChosenLines& chosen, Edge edge, double width) {
    std::vector<std::pair<std::size_t, std::size_t>> ends;  // side, end
    for (std::size_t s = 0; s < 4; ++s) {
        for (std::size_t end = 0; end < 2; ++end) {
            if (chosen.fromOtherEnd[s][end]) {
                ends.emplace_back(s, end);
            }
        }
    }
    std::vector<FrameCorners> corners;
    for (unsigned mask = 1; mask < (1u << ends.size()); ++mask) {
        SideEndLines lines = chosen.lines;
        for (std::size_t k = 0; k < ends.size(); ++k) {
            if (mask & (1u << k)) {
                lines[ends[k].first][ends[k].second] = chosen.lines[ends[k].first][1 - ends[k].second];
            }
        }
        corners.push_back(IntersectSides(MovedToEdge(lines, edge, width)));
    }
    return corners;
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

// The pixels of the refinement's windows, read in one pass over the scan
// (a JPEG is decoded once for them all): the stretches of the look next to
// the corners, of the look over each side to its middle (none when those
// run off the scan), and the windows asked to be read along. RGB, plane
// frame, each in its plan's order. The windows do not depend on the depth
// of the lines counted, so both refinements below measure the same pixels.
struct WindowPixels {
    std::optional<std::string> refusal;  // a stretch next to a corner runs off the scan
    std::vector<cv::Mat> first;
    std::vector<cv::Mat> second;
    std::vector<cv::Mat> along;
};

// The look next to the corners and the look over each side to its middle
// as planned with lines as faint as minimumDepth counted.
std::vector<StretchPlan> FirstPlans(const CoarseFrame& coarse, double dpi, double minimumDepth) {
    return PlanStretches(coarse, dpi, kSpanShare, 0.0, minimumDepth);
}
std::vector<StretchPlan> SecondPlans(const CoarseFrame& coarse, double dpi, double minimumDepth) {
    return PlanStretches(coarse, dpi, kWholeSpanShare, kWholeFurtherOutMm, minimumDepth);
}

bool OnScan(const std::vector<StretchPlan>& plans, const cv::Rect& image) {
    return std::all_of(plans.begin(), plans.end(),
                       [&image](const StretchPlan& p) { return (p.window & image).area() == p.window.area(); });
}

// Reads every window of the refinement in one pass, or none when a stretch
// next to a corner runs off the scan.
WindowPixels ReadRefinementWindows(const ScanImage& scan, const CoarseFrame& coarse, double dpi,
                                   const std::vector<cv::Rect>& alsoRead) {
    const std::vector<StretchPlan> first = FirstPlans(coarse, dpi, kMinimumDepth);
    const std::vector<StretchPlan> second = SecondPlans(coarse, dpi, kMinimumDepth);
    const cv::Rect image(0, 0, scan.Width(), scan.Height());
    std::vector<cv::Rect> windows;
    for (const StretchPlan& p : first) {
        if ((p.window & image).area() < p.window.area()) {
            WindowPixels refused;
            refused.refusal = Where(p.side, p.corner) + ": the line runs off the scan";
            return refused;
        }
        windows.push_back(p.window);
    }
    windows.insert(windows.end(), alsoRead.begin(), alsoRead.end());
    const bool secondOnScan = OnScan(second, image);
    if (secondOnScan) {
        for (const StretchPlan& p : second) {
            windows.push_back(p.window);
        }
    }
    std::vector<cv::Mat> pixels = scan.ReadWindows(windows);
    const auto take = [&pixels](std::size_t from, std::size_t count) {
        const auto begin = pixels.begin() + static_cast<std::ptrdiff_t>(from);
        return std::vector<cv::Mat>(std::make_move_iterator(begin),
                                    std::make_move_iterator(begin + static_cast<std::ptrdiff_t>(count)));
    };
    WindowPixels read;
    read.first = take(0, first.size());
    read.along = take(first.size(), alsoRead.size());
    if (secondOnScan) {
        read.second = take(first.size() + alsoRead.size(), second.size());
    }
    return read;
}

// The refinement with lines as faint as minimumDepth (share of the
// contrast) counted, on the windows' pixels.
RefineResult RefineWithDepth(const CoarseFrame& coarse, double dpi, Edge edge, const WindowPixels& pixels,
                             int threads, double minimumDepth) {
    Look first;
    first.plans = FirstPlans(coarse, dpi, minimumDepth);
    std::vector<cv::Mat> greys;  // each stretch's window, oriented
    first.stretches = MeasureStretches(first.plans, pixels.first, threads);
    for (std::size_t k = 0; k < first.plans.size(); ++k) {
        greys.push_back(OrientedGrey(first.plans[k], pixels.first[k]));
    }
    // The second look, over each side to its middle, measured only when
    // the first refuses or the frame is checked; none when its stretches
    // would run off the scan.
    std::optional<Look> second;
    const auto lookAgain = [&]() {
        if (second || pixels.second.empty()) {
            return false;
        }
        Look look;
        look.plans = SecondPlans(coarse, dpi, minimumDepth);
        look.stretches = MeasureStretches(look.plans, pixels.second, threads);
        second = std::move(look);
        return true;
    };
    // The lines are chosen with the width of every line seen, then again
    // with the width of the neat line alone. A profile whose outer edge is
    // hidden may show a line's own dip (its centre half the width between
    // its edges beyond the inner edge) or a step into solid ink (half the
    // drawn width beyond): the first is tried on both looks, the second
    // only when neither chooses every side. Lines carried on to a corner
    // torn off that show only their inner edge (a band's) are taken only
    // when nothing else chooses every side, and after them lines followed
    // through hatching that hides them next to one corner; the refusal is
    // then the first.
    bool bandsTaken = false;  // the lines last chosen were chosen so
    const auto choose = [&](std::optional<double> edgeToEdge, std::optional<double> drawn) {
        std::optional<StageResult<ChosenLines>> refused;
        for (const int pass : {0, 1, 2}) {
            const bool bands = pass == 1;
            const bool hidden = pass == 2;
            bandsTaken = bands;
            StageResult<ChosenLines> lines =
                ChooseLines(first, second ? &*second : nullptr, edgeToEdge, dpi, bands, hidden);
            if (!lines.Found() && lookAgain()) {
                lines = ChooseLines(first, &*second, edgeToEdge, dpi, bands, hidden);
            }
            if (!lines.Found() && drawn != edgeToEdge) {
                StageResult<ChosenLines> stepped =
                    ChooseLines(first, second ? &*second : nullptr, drawn, dpi, bands, hidden);
                if (stepped.Found()) {
                    return stepped;
                }
            }
            if (lines.Found() || !second) {
                return lines;
            }
            if (!refused) {
                refused = lines;
            }
        }
        return *refused;
    };
    const StageResult<ChosenLines> chosen = choose(EdgeToEdgeWidth(first.plans, first.stretches, nullptr),
                                                   DrawnWidth(first.plans, first.stretches, nullptr));
    // No side takes one line at both ends even counting fainter lines (the
    // last look, below kFullDepthDpi): the neat line may be merged with the
    // border on every side, and is then looked for as the innermost line
    // inside the border's outer frame.
    std::optional<ChosenLines> inside;
    if (!chosen.Found() && minimumDepth < kMinimumDepth && (second || lookAgain())) {
        inside = InsideTheFrames(*second, pixels.second, dpi);
    }
    if (!chosen.Found() && !inside) {
        return RefineResult::Refused(chosen.Refusal());
    }
    const SideEndLines& firstTaken = inside ? inside->lines : chosen->lines;
    const std::optional<double> width = DrawnWidth(first.plans, first.stretches, &firstTaken);
    if (edge != Edge::centre && !width) {
        return RefineResult::Refused("the neat line's width cannot be measured (too few profiles show both its "
                                     "edges); only its centre can be found");
    }
    // A line drawn less than half as wide as its edges lie apart is a thin
    // line blurred at a low resolution: its drawn width put the centres of
    // its profiles merged with the border up to 1.5 px inside (and so the
    // gap to the border's frame measured on its sides), and is not tried.
    const std::optional<double> edges = EdgeToEdgeWidth(first.plans, first.stretches, &firstTaken);
    const std::optional<double> step = width && edges && *width < 0.5 * *edges ? edges : width;
    const StageResult<ChosenLines> centres = inside ? StageResult<ChosenLines>(*inside) : choose(edges, step);
    if (!centres.Found()) {
        return RefineResult::Refused(centres.Refusal());
    }
    RefinedFrame frame;
    frame.fromFrame = centres->fromFrame;
    // Lines found inside the frames are the innermost already: a fainter
    // line inside them is the map's. The ends carried on to a corner torn
    // off, on lines chosen as a band's inner edge.
    const TornEnds torn = bandsTaken && !inside ? centres->fromOtherEnd : TornEnds{};
    const StageResult<SideEndLines> neat =
        inside ? StageResult<SideEndLines>(centres->lines)
               : OntoFainterLines(first.plans, greys, centres->lines, frame.fromFrame, dpi, torn, frame.fromFainter);
    if (!neat.Found()) {
        return RefineResult::Refused(neat.Refusal());
    }
    std::array<bool, 4> moved{};
    for (std::size_t s = 0; s < 4; ++s) {
        moved[s] = frame.fromFainter[s].has_value();
    }
    // Every side is checked against the border's outer frame where the look
    // over the sides' halves can be read; a side moved onto a fainter line
    // must be.
    const bool anyMoved = std::any_of(moved.begin(), moved.end(), [](bool m) { return m; });
    if (!second && !lookAgain() && anyMoved) {
        return RefineResult::Refused("the neat line taken on fainter lines inside the border's cannot be checked "
                                     "against the border's outer frame (it runs off the scan)");
    }
    if (second) {
        if (const std::optional<std::string> why =
                LinesMeetFrame(*neat, moved, torn, first, *second, dpi)) {
            return RefineResult::Refused(*why);
        }
    }
    frame.lines = MovedToEdge(*neat, edge, width.value_or(0.0));
    frame.carried = centres->carried;
    frame.corners = IntersectSides(frame.lines);
    ChosenLines taken = *centres;
    taken.lines = *neat;
    frame.otherEnds = FromOtherEnds(taken, edge, width.value_or(0.0));
    frame.lineWidth = width.value_or(0.0);
    return frame;
}

}  // namespace

RefineResult RefineFullResolution(const ScanImage& scan, const CoarseFrame& coarse, double dpi, Edge edge,
                                  const std::vector<cv::Rect>& alsoRead, int threads) {
    WindowPixels pixels = ReadRefinementWindows(scan, coarse, dpi, alsoRead);
    if (pixels.refusal) {
        return RefineResult::Refused(*pixels.refusal);
    }
    RefineResult refined = RefineWithDepth(coarse, dpi, edge, pixels, threads, kMinimumDepth);
    // Below kFullDepthDpi a thin neat line blurred next to its corners may
    // be too faint to count: a refused scan is looked at once more counting
    // fainter lines, and keeps its first refusal when that refuses too.
    if (!refined.Found() && FaintDepth(dpi) < kMinimumDepth) {
        RefineResult faint = RefineWithDepth(coarse, dpi, edge, pixels, threads, FaintDepth(dpi));
        if (faint.Found()) {
            refined = std::move(faint);
        }
    }
    if (!refined.Found()) {
        return refined;
    }
    RefinedFrame frame = *refined;
    frame.alsoRead = std::move(pixels.along);
    return frame;
}

}  // namespace georef::corners
