#include "corners/coarse_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "corners/candidate_lines.hpp"
#include "geometry/map_scale.hpp"

namespace georef::corners {

namespace {

// A side is accepted when its edge is present along this share of its length
// between the corners, and of each end stretch next to a corner.
constexpr double kSideCover = 0.6;
constexpr double kEndCover = 0.5;
constexpr double kEndStretch = 0.12;   // share of the side's length at each end
constexpr double kCornerSkip = 0.015;  // share left out at the corner itself
// An edge sample counts as present at this share of the edge cap.
constexpr double kPresent = 0.3;
// Least contrast between paper and ink, grey levels.
constexpr double kMinimumContrast = 30.0;
// Outside a drawn line the paper shows again within this band, millimetres
// on the paper outward from the line's inner edge: between the neat line,
// the border's bands and lines, and in the margin beyond. Outside the
// paper's edge the scanner's bed stays dark all the way.
constexpr double kBandFromMm = 0.5;
constexpr double kBandToMm = 6.0;
// A side is the paper's edge against a dark bed when nothing as light as
// half-way from ink to paper shows in that band over this share of its
// length.
constexpr double kBedShare = 0.6;

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", 100.0 * share);
    return text;
}

// Grey values at the given shares of a CV_8U image, from one count of its
// grey levels: the least level whose count from 0 reaches share * pixels.
std::array<double, 2> Percentiles(const cv::Mat& grey, const std::array<double, 2>& shares) {
    int histogram[256] = {};
    for (int r = 0; r < grey.rows; ++r) {
        const std::uint8_t* p = grey.ptr<std::uint8_t>(r);
        for (int c = 0; c < grey.cols; ++c) {
            ++histogram[p[c]];
        }
    }
    std::array<double, 2> levels{};
    for (std::size_t k = 0; k < shares.size(); ++k) {
        const double target = shares[k] * static_cast<double>(grey.total());
        double sum = 0.0;
        levels[k] = 255.0;
        for (int v = 0; v < 256; ++v) {
            sum += histogram[v];
            if (sum >= target) {
                levels[k] = v;
                break;
            }
        }
    }
    return levels;
}

// ---- Edge responses --------------------------------------------------------

// Per side (Side order), the response to an edge from the map's paper to the
// line's ink seen from that side: CV_8U, kFullResponse for a full step,
// image orientation of the reduced copy.
using EdgeResponses = std::array<cv::Mat, 4>;

// The reduced copy's edge responses, and its grey levels (the brightest
// channel) with the grey half-way from ink to paper.
struct ReducedEdges {
    EdgeResponses response;
    cv::Mat grey;
    double halfLight = 0.0;
};

StageResult<ReducedEdges> RespondToEdges(const cv::Mat& reduced) {
    // The darkest channel of colour features is light: the black line stays
    // dark in the brightest channel, red roads and blue water do not.
    cv::Mat grey(reduced.rows, reduced.cols, CV_8U);
    for (int r = 0; r < reduced.rows; ++r) {
        const std::uint8_t* p = reduced.ptr<std::uint8_t>(r);
        std::uint8_t* g = grey.ptr<std::uint8_t>(r);
        for (int c = 0; c < reduced.cols; ++c, p += 3) {
            g[c] = std::max(std::max(p[0], p[1]), p[2]);
        }
    }
    const std::array<double, 2> levels = Percentiles(grey, {0.9, 0.005});
    const double paper = levels[0];
    const double ink = levels[1];
    if (paper - ink < kMinimumContrast) {
        return StageResult<ReducedEdges>::Refused("the scan shows no dark lines on the paper (contrast " +
                                                   std::to_string(int(paper - ink)) + " grey levels)");
    }
    // Edge responses, 0..1: a sharp step from ink to paper gives 4 (paper - ink)
    // in the Sobel filter; a thin line seen at the reduced scale about a third.
    const double cap = 1.0 * (paper - ink);
    // Held as 8-bit images to keep memory low: four of them and two
    // gradients of the reduced copy.
    ReducedEdges edges;
    EdgeResponses& response = edges.response;
    cv::Mat gx, gy;
    cv::Sobel(grey, gx, CV_16S, 1, 0, 3);
    cv::Sobel(grey, gy, CV_16S, 0, 1, 3);
    const double scale = kFullResponse / cap;
    // convertTo saturates: negative gradients become 0.
    gx.convertTo(response[static_cast<int>(Side::left)], CV_8U, scale);
    gx.convertTo(response[static_cast<int>(Side::right)], CV_8U, -scale);
    gy.convertTo(response[static_cast<int>(Side::top)], CV_8U, scale);
    gy.convertTo(response[static_cast<int>(Side::bottom)], CV_8U, -scale);
    edges.halfLight = 0.5 * (paper + ink);
    edges.grey = grey;
    return edges;
}

// ---- Candidate lines -------------------------------------------------------

struct FrameCandidates {
    std::array<std::vector<CandidateLine>, 4> bySide;  // innermost first
    std::array<double, 4> alongCentre{};               // centre row of each side's oriented response
};

StageResult<FrameCandidates> FindCandidates(const EdgeResponses& response) {
    FrameCandidates candidates;
    for (Side side : kSides) {
        const int s = static_cast<int>(side);
        candidates.alongCentre[s] = 0.5 * (RunsDown(side) ? response[s].rows : response[s].cols);
        const SideCandidates found = FindCandidateLines(response[s], RunsDown(side), Outward(side) < 0);
        if (found.lines.empty()) {
            return StageResult<FrameCandidates>::Refused(
                std::string(SideName(side)) + ": no long straight edge of a dark line (the longest covers " +
                Percent(found.strongestCover) + " of the scan's " + (RunsDown(side) ? "height" : "width") +
                ", at least " + Percent(kCandidateCover) + " needed)");
        }
        candidates.bySide[s] = found.lines;
    }
    return candidates;
}

// ---- Scoring one combination -----------------------------------------------

struct SideCover {
    double whole = 0.0;
    double first = 0.0;  // end stretch at the start corner
    double last = 0.0;   // end stretch at the end corner
};

// How much of the segment between two corners the side's edge response
// covers.
SideCover Cover(const cv::Mat& response, Side side, const PlanePoint& from, const PlanePoint& to) {
    const double length = std::hypot(to.column - from.column, to.row - from.row);
    const int samples = std::max(8, static_cast<int>(length));
    int present = 0;
    int counted = 0;
    int firstPresent = 0, firstCount = 0, lastPresent = 0, lastCount = 0;
    for (int k = 0; k < samples; ++k) {
        const double s = (k + 0.5) / samples;
        if (s < kCornerSkip || s > 1.0 - kCornerSkip) {
            continue;
        }
        const double column = from.column + s * (to.column - from.column);
        const double row = from.row + s * (to.row - from.row);
        const int c = static_cast<int>(std::lround(column));
        const int r = static_cast<int>(std::lround(row));
        double strongest = 0.0;
        for (int d = -1; d <= 1; ++d) {
            const int cc = RunsDown(side) ? c + d : c;
            const int rr = RunsDown(side) ? r : r + d;
            if (cc >= 0 && rr >= 0 && cc < response.cols && rr < response.rows) {
                strongest = std::max(strongest, response.at<std::uint8_t>(rr, cc) / kFullResponse);
            }
        }
        const bool here = strongest >= kPresent;
        ++counted;
        present += here;
        if (s < kEndStretch) {
            ++firstCount;
            firstPresent += here;
        } else if (s > 1.0 - kEndStretch) {
            ++lastCount;
            lastPresent += here;
        }
    }
    SideCover cover;
    cover.whole = counted > 0 ? static_cast<double>(present) / counted : 0.0;
    cover.first = firstCount > 0 ? static_cast<double>(firstPresent) / firstCount : 0.0;
    cover.last = lastCount > 0 ? static_cast<double>(lastPresent) / lastCount : 0.0;
    return cover;
}

// Whether the scan outside the segment between two corners (reduced plane
// pixels) stays darker than half-way from ink to paper from `from` to `to`
// pixels outward, over kBedShare of the segment: the paper's edge against a
// dark scanner bed, not a drawn line. Samples whose band lies mostly off the
// scan do not count either way.
bool AgainstDarkBed(const ReducedEdges& edges, Side side, const PlanePoint& a, const PlanePoint& b, double from,
                    double to) {
    const cv::Mat& grey = edges.grey;
    const double length = std::hypot(b.column - a.column, b.row - a.row);
    const int samples = std::max(8, static_cast<int>(length / 4.0));
    const int first = static_cast<int>(std::ceil(from));
    const int last = static_cast<int>(std::floor(to));
    int dark = 0;
    int counted = 0;
    for (int k = 0; k < samples; ++k) {
        const double s = (k + 0.5) / samples;
        const int c = static_cast<int>(std::lround(a.column + s * (b.column - a.column)));
        const int r = static_cast<int>(std::lround(a.row + s * (b.row - a.row)));
        int inside = 0;
        bool light = false;
        for (int d = first; d <= last && !light; ++d) {
            const int cc = RunsDown(side) ? c + Outward(side) * d : c;
            const int rr = RunsDown(side) ? r : r + Outward(side) * d;
            if (cc >= 0 && rr >= 0 && cc < grey.cols && rr < grey.rows) {
                ++inside;
                light = grey.at<std::uint8_t>(rr, cc) > edges.halfLight;
            }
        }
        if (light || 2 * inside >= last - first + 1) {
            ++counted;
            dark += light ? 0 : 1;
        }
    }
    return counted > 0 && dark >= kBedShare * samples;
}

// How four side lines fare as the frame: the sides' covers summed (up to
// the first side that fails), and the first check that fails, if any.
struct FrameScore {
    double cover = 0.0;
    std::optional<std::string> failure;
    bool onBed = false;  // a side is the paper's edge against a dark bed (only when nothing failed)
};

// Empty when the lines make no quadrilateral at all. lines: reduced plane
// pixels. oneShortCorner: the sides may stop short of one corner (torn off,
// hidden or worn away there) when they cover their whole length.
std::optional<FrameScore> ScoreFrame(const SideLines& lines, const ReducedEdges& edges, const SheetShape& shape,
                                     int factor, bool oneShortCorner) {
    const EdgeResponses& response = edges.response;
    const FrameCorners corner = IntersectSides(lines);  // LD, LH, PH, PD
    const auto distance = [&corner](int p, int q) {
        return std::hypot(corner[p].column - corner[q].column, corner[p].row - corner[q].row);
    };
    const double width = 0.5 * (distance(1, 2) + distance(0, 3));
    const double height = 0.5 * (distance(0, 1) + distance(2, 3));
    if (!(height > 0.0) || !(width > 0.0)) {
        return std::nullopt;
    }
    // The sheet's shape: mean width over mean height, and the size in
    // reduced pixels when the resolution is known.
    const double nominalWidth = 0.5 * (shape.sideMetres[1] + shape.sideMetres[3]);
    const double nominalHeight = 0.5 * (shape.sideMetres[0] + shape.sideMetres[2]);
    const double nominalRatio = nominalWidth / nominalHeight;
    const double ratioError = (width / height) / nominalRatio - 1.0;
    double sizeError = 0.0;
    if (shape.dpi) {
        const double expected = nominalWidth * PixelsPerMetre(*shape.dpi) / factor;
        sizeError = width / expected - 1.0;
    }

    FrameScore score;
    // Sides from corner to corner: left LD->LH, top LH->PH, right PD->PH, bottom LD->PD.
    const std::array<std::pair<int, int>, 4> ends = {std::pair<int, int>{0, 1}, {1, 2}, {3, 2}, {0, 3}};
    int shortCorner = -1;  // the corner whose sides may stop short of it
    for (int s = 0; s < 4; ++s) {
        const SideCover c = Cover(response[s], static_cast<Side>(s), corner[ends[s].first], corner[ends[s].second]);
        score.cover += c.whole;
        bool endsHold = c.first >= kEndCover && c.last >= kEndCover;
        if (!endsHold && oneShortCorner && std::min(c.first, c.last) < kEndCover &&
            std::max(c.first, c.last) >= kEndCover) {
            const int at = c.first < kEndCover ? ends[s].first : ends[s].second;
            endsHold = shortCorner < 0 || shortCorner == at;
            shortCorner = at;
        }
        if (c.whole < kSideCover || !endsHold) {
            score.failure = std::string(SideName(static_cast<Side>(s))) + ": the straightest dark line covers " +
                            Percent(c.whole) + " of its length and " + Percent(std::min(c.first, c.last)) +
                            " next to a corner (" + Percent(kSideCover) + " and " + Percent(kEndCover) + " needed)";
            return score;
        }
    }
    char text[200];
    if (std::fabs(ratioError) > kSearchShapeTolerance) {
        std::snprintf(text, sizeof text,
                      "the frame found is %.0f x %.0f pixels, width / height %.4f against the sheet's %.4f",
                      width * factor, height * factor, width / height, nominalRatio);
        score.failure = text;
    } else if (std::fabs(sizeError) > kSearchShapeTolerance) {
        std::snprintf(text, sizeof text, "the frame found is %.0f pixels wide, the sheet at %.0f dpi is %.0f pixels wide",
                      width * factor, *shape.dpi, nominalWidth * PixelsPerMetre(*shape.dpi));
        score.failure = text;
    }
    if (!score.failure) {
        // Reduced pixels per millimetre on the paper, from the frame's own width.
        const double perMm = width / (nominalWidth * geometry::kMillimetresPerInch / geometry::kGroundMetresPerInch);
        for (int s = 0; s < 4 && !score.onBed; ++s) {
            score.onBed = AgainstDarkBed(edges, static_cast<Side>(s), corner[ends[s].first], corner[ends[s].second],
                                         kBandFromMm * perMm, kBandToMm * perMm);
        }
    }
    return score;
}

// ---- Choosing --------------------------------------------------------------

// Of every combination of candidates, the one with the fewest lines passed
// over inside it (the smallest sum of the sides' indices, the first in
// left-top-right-bottom order among equals) whose sides all run into their
// corners and whose shape is the sheet's. When none holds, the refusal of
// the combination whose sides covered most.
//
// When none holds, the same again with the sides allowed to stop short of
// one corner. A frame with a side that is the paper's edge against a dark
// bed is taken only when no frame of drawn lines holds either way: a sheet
// whose neat line is worn or hidden next to a corner may otherwise give way
// to its paper's edges, which can have the sheet's shape within the
// search's tolerance.
StageResult<SideLines> ChooseLines(const FrameCandidates& candidates, const ReducedEdges& edges,
                                   const SheetShape& shape, int factor) {
    const auto& c = candidates.bySide;
    // The best frame of each tier: drawn lines into every corner, drawn
    // lines short of one corner, then the same with a side on the bed.
    std::array<std::optional<SideLines>, 4> chosen;
    std::array<int, 4> chosenRank{};
    std::string bestFailure;
    double bestCover = -1.0;
    for (const bool oneShortCorner : {false, true}) {
        if (chosen[0]) {
            break;
        }
        std::array<std::size_t, 4> index{};
        for (index[0] = 0; index[0] < c[0].size(); ++index[0]) {
            for (index[1] = 0; index[1] < c[1].size(); ++index[1]) {
                for (index[2] = 0; index[2] < c[2].size(); ++index[2]) {
                    for (index[3] = 0; index[3] < c[3].size(); ++index[3]) {
                        const int rank = static_cast<int>(index[0] + index[1] + index[2] + index[3]);
                        const std::size_t drawnTier = oneShortCorner ? 1 : 0;
                        if (chosen[drawnTier] && rank >= chosenRank[drawnTier]) {
                            continue;
                        }
                        SideLines lines;
                        for (int s = 0; s < 4; ++s) {
                            lines[s] = ToSideLine(c[s][index[s]], candidates.alongCentre[s]);
                        }
                        const std::optional<FrameScore> score = ScoreFrame(lines, edges, shape, factor, oneShortCorner);
                        if (!score) {
                            continue;
                        }
                        if (score->failure) {
                            if (score->cover > bestCover && !chosen[0] && !oneShortCorner) {
                                bestCover = score->cover;
                                bestFailure = *score->failure;
                            }
                            continue;
                        }
                        const std::size_t tier = drawnTier + (score->onBed ? 2 : 0);
                        if (!chosen[tier] || rank < chosenRank[tier]) {
                            chosen[tier] = lines;
                            chosenRank[tier] = rank;
                        }
                    }
                }
            }
        }
    }
    for (const std::optional<SideLines>& frame : chosen) {
        if (frame) {
            return *frame;
        }
    }
    return StageResult<SideLines>::Refused(bestFailure.empty() ? std::string("no four lines make a frame") : bestFailure);
}

// The lines in full-resolution plane pixels: reduced pixel i spans full
// pixels [i f, (i + 1) f), its centre is at i f + (f - 1) / 2.
CoarseFrame AtFullResolution(const SideLines& reduced, int factor) {
    CoarseFrame frame;
    frame.factor = factor;
    const double half = 0.5 * (factor - 1);
    for (int s = 0; s < 4; ++s) {
        frame.inner[s] = {factor * reduced[s].a + half * (1.0 - reduced[s].b), reduced[s].b};
    }
    return frame;
}

}  // namespace

double PixelsPerMetre(double dpi) noexcept { return dpi / geometry::kGroundMetresPerInch; }

CoarseResult SearchReduced(const cv::Mat& reduced, int factor, const std::vector<SheetShape>& shapes) {
    CV_Assert(reduced.type() == CV_8UC3 && !shapes.empty());
    // The edges and the candidate lines do not depend on the shape.
    const StageResult<ReducedEdges> edges = RespondToEdges(reduced);
    if (!edges.Found()) {
        return CoarseResult::Refused(edges.Refusal());
    }
    const StageResult<FrameCandidates> candidates = FindCandidates(edges->response);
    if (!candidates.Found()) {
        return CoarseResult::Refused(candidates.Refusal());
    }
    std::optional<std::string> firstRefusal;
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        const StageResult<SideLines> lines = ChooseLines(*candidates, *edges, shapes[k], factor);
        if (lines.Found()) {
            CoarseFrame frame = AtFullResolution(*lines, factor);
            frame.shape = static_cast<int>(k);
            return frame;
        }
        if (!firstRefusal) {
            firstRefusal = lines.Refusal();
        }
    }
    return CoarseResult::Refused(*firstRefusal);
}

}  // namespace georef::corners
