#pragma once
// Straight lines through the centres of a line measured on many profiles:
// the line most profiles agree on, and a robust least-squares fit to it.
// Plane frame, pixels: across = a + b * along.

#include <optional>
#include <vector>

#include "corners/frame.hpp"

namespace georef::corners {

// Points within this distance of a line support it, pixels.
inline constexpr double kSupportDistance = 0.8;

// The centre of a dark line seen on one profile.
struct CentrePoint {
    int profile = 0;
    double along = 0.0;
    double across = 0.0;
    bool bothEdges = false;  // midway between two edges, not half a width beyond the inner edge alone
    double width = 0.0;      // between the two edges, when both show, pixels
};

struct LineFit {
    SideLine line;
    int used = 0;      // points within the final fit
    double rms = 0.0;  // of their residuals, pixels
};

// Least squares across = a + b * along over the points, refitted three
// times without the points far off the line (beyond three robust standard
// deviations, and never closer than 0.3 px). Empty for fewer than two
// points or points at one along coordinate.
std::optional<LineFit> FitRobustly(const std::vector<CentrePoint>& points);

// The points of the line that most profiles support: lines through pairs of
// points from the two ends of the stretch are tried, and for the one that
// runs within kSupportDistance of a point on the most profiles, the nearest
// such point of each profile is kept. points: in profile order. least: a
// line supported on fewer profiles is of no use to the caller; when no line
// reaches it, fewer than least points are returned, and lines that cannot
// reach it are left early.
std::vector<CentrePoint> Consensus(const std::vector<CentrePoint>& points, int least = 0);

// The nearest point of each profile within reach of the line (pixels).
// points: in profile order.
std::vector<CentrePoint> PointsNearLine(const std::vector<CentrePoint>& points, const SideLine& line,
                                        double reach = kSupportDistance);

// The points farther than twice kSupportDistance from the line: what is
// left for the next line once a line has been taken.
std::vector<CentrePoint> PointsAwayFrom(const std::vector<CentrePoint>& points, const SideLine& line);

// The middle value (the upper of the two middle ones); 0 for none.
double Median(std::vector<double> values);

}  // namespace georef::corners
