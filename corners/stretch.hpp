#pragma once
// A stretch: one side's line next to one corner, measured at full
// resolution on short profiles across it, every few pixels along it, and
// the straight lines those measurements show.
//
// Frames: plane pixels of the scan (frame.hpp); "along" is the row for a
// left or right side and the column for a top or bottom side, "across" the
// other. A stretch's window is read in the plane frame and turned so that
// along runs down its rows ("oriented").

#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "corners/frame.hpp"
#include "corners/line_fit.hpp"
#include "corners/line_profile.hpp"
#include "geometry/map_scale.hpp"

namespace georef::corners {

// Least share of a stretch's profiles on which a line must be measured to
// count as a straight line of that stretch.
inline constexpr double kKeptShare = 0.4;
// Least number of profiles for a line, and for the drawn width.
inline constexpr int kMinimumProfiles = 8;

constexpr double MmToPixels(double mm, double dpi) noexcept { return mm * dpi / geometry::kMillimetresPerInch; }

// A line's least darkness against the paper, share of the window's
// contrast. A line thinner than the blur is a dip about as deep as it is
// wide in pixels: a faint look at a scan below kFullDepthDpi asks for this
// much less in proportion to its resolution (0.15 at 150 dpi).
inline constexpr double kMinimumDepth = 0.2;
inline constexpr double kFullDepthDpi = 200.0;
constexpr double FaintDepth(double dpi) noexcept { return dpi < kFullDepthDpi ? kMinimumDepth * dpi / kFullDepthDpi : kMinimumDepth; }

// Where a stretch is measured and how; sizes in pixels.
struct StretchPlan {
    Side side = Side::left;
    int corner = 0;          // LD, LH, PH, PD
    int end = 0;             // the side's end it lies at: 0 at the smaller along coordinate
    SideLine searchEdge;     // the reduced search's inner edge of the side
    double start = 0.0;      // along coordinate of the profile next to the corner
    double stop = 0.0;       // and of the last one, away from the corner
    int outwardSign = 1;     // Outward(side): across grows away from the map (+1) or towards it (-1)
    int maxLineWidth = 2;    // the widest neat line
    int edgeSearchInward = 0;   // inner edges are looked for this far from the search's edge into the map
    int edgeSearchOutward = 0;  // and this far out of it
    int profileInward = 0;      // a profile reaches this far from the search's edge into the map
    int profileOutward = 0;     // and this far out of it
    double minimumDepth = kMinimumDepth;  // a line's least darkness, share of the window's contrast
    int halfRows = 1;        // rows averaged on each side of a profile
    int profileStep = 2;     // between profiles
    cv::Rect oriented;       // the window, along as rows, across as columns
    cv::Rect window;         // the same in the plane frame
};

// The stretch of a side next to a corner. corner: LD, LH, PH, PD;
// searchEdge: the search's inner edge of the side, full resolution;
// cornerAlong: the corner's along coordinate; direction: +1 when the side
// runs on from the corner towards larger along; span: length measured;
// factor: the search's reduction; dpi: the scan's resolution;
// furtherOutMm: lines this much further out of the search's edge are
// measured too, millimetres on the paper; minimumDepth: a line's least
// darkness, share of the window's contrast.
StretchPlan PlanStretch(Side side, int corner, const SideLine& searchEdge, double cornerAlong, int direction,
                        double span, int factor, double dpi, double furtherOutMm = 0.0,
                        double minimumDepth = kMinimumDepth);

// A dark line crossed by one profile of a stretch, its edges as across
// coordinates in the plane frame.
struct ProfileCrossing {
    int profile = 0;  // the profile's number in the stretch
    double along = 0.0;
    LineCrossing line;
};

// What the profiles of a stretch show: every dark line near the search's
// inner edge.
struct Stretch {
    std::vector<ProfileCrossing> crossings;  // in profile order
    int profiles = 0;
    int seen = 0;      // profiles with a line
    double ink = 0.0;  // grey level of solid ink in the window
    // Where the profiles come back from ink to paper going outward
    // (frame_edge.hpp); across in the plane frame, bothEdges unused.
    std::vector<CentrePoint> rises;
};

// The stretch's window as grey levels, oriented (rows along the side).
// pixels: RGB, plane frame, as read for the plan's window.
cv::Mat OrientedGrey(const StretchPlan& plan, const cv::Mat& pixels);

// Measures the profiles of a stretch in its window's pixels (RGB, plane frame).
Stretch MeasureStretch(const StretchPlan& plan, const cv::Mat& pixels);

// A straight line seen along a stretch: its fit to the line's centres, and
// the share of the first profiles next to the corner that show it.
struct StretchLine {
    SideLine line;
    int used = 0;
    int bothEdges = 0;  // of the profiles used, those that show both edges of the line
    double width = 0.0; // mean distance between its edges on those profiles, pixels
    double rms = 0.0;
    double atCorner = 0.0;
    // Along distance from the profile next to the corner to the nearest
    // profile that shows the line: how far the line is carried on to the
    // corner when it does not run into it.
    double fromCorner = 0.0;
    // Seen only on the half of the stretch next to the corner (StretchLines
    // with nearCorner).
    bool nearCornerOnly = false;
};

// Lines seen only next to the corner looked for at most, and the share of
// the profiles next to the corner they show on.
inline constexpr int kNearCornerLines = 2;
inline constexpr double kNearCornerShare = 0.5;

// The straight lines of a stretch, most supported first. width: the line's
// width from edge to edge (EdgeToEdgeWidth), when known, to place the
// centre of a line whose outer edge does not show; keptShare: the least share of the profiles a line
// shows on; mostLines: how many lines at most. nearCorner: then also up to
// kNearCornerLines lines seen only on the half of the stretch next to the
// corner (on keptShare of that half's profiles) that run into the corner,
// after the others: a faint line hidden beside a road over the rest of the
// stretch.
std::vector<StretchLine> StretchLines(const StretchPlan& plan, const Stretch& stretch, std::optional<double> width,
                                      double dpi, double keptShare = kKeptShare, int mostLines = 4,
                                      bool nearCorner = false);

// The line of a stretch that continues `expected`, a side's line seen at
// its other end: the centres within `reach` pixels of it (the nearest on
// each profile) fitted again, described as StretchLines describes a line.
// Empty when fewer than kMinimumProfiles show it.
std::optional<StretchLine> FollowLine(const StretchPlan& plan, const Stretch& stretch, const SideLine& expected,
                                      std::optional<double> width, double dpi, double reach);

// The line fitted again to its own centres (within kSupportDistance of it)
// on the profiles from `from` to `to` pixels along from the one next to the
// corner: a line seen over a long stretch, measured where it lies nearest
// the corner. Empty when fewer than kMinimumProfiles show it there.
std::optional<SideLine> FitNearCorner(const StretchPlan& plan, const Stretch& stretch, const SideLine& line,
                                      std::optional<double> width, double from, double to);

// The width between the line's edges, half-way between paper and ink, on
// the profiles where both show: the median over all stretches (plans[k]
// measured stretches[k]), or, given the lines chosen, over their profiles.
// A profile whose outer edge is hidden has its centre this half width beyond
// its inner edge: both edges of a blurred thin line lie well outside its
// drawn edges, and by as much on either side. Empty when fewer than
// kMinimumProfiles show both edges.
std::optional<double> EdgeToEdgeWidth(const std::vector<StretchPlan>& plans, const std::vector<Stretch>& stretches,
                                      const SideEndLines* chosen);

// The drawn width of the line from the profiles where both its edges show:
// its darkness integrated across (twice its half towards the map, as the
// border may lie within its blur beyond), over the depth of solid ink; the median
// over all stretches (plans[k] measured stretches[k]), or, given the lines
// chosen, over their profiles. Empty when too few profiles show both edges,
// or when their darkness is no more than the paper's beside them.
std::optional<double> DrawnWidth(const std::vector<StretchPlan>& plans, const std::vector<Stretch>& stretches,
                                 const SideEndLines* chosen);

}  // namespace georef::corners
