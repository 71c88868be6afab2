#include "corners/line_profile.hpp"

#include <algorithm>
#include <cmath>

namespace georef::corners {

namespace {

// An outer edge counts when the paper beyond the line comes back to this
// share of the depth.
constexpr double kReturnShare = 0.6;
// Two dips are apart where the profile rises this share of the depth between them.
constexpr float kSplitShare = 0.15f;

// The paper beside the line and the line's darkness, from its half towards
// the map: the border close outside a thin line at a low resolution lies
// within its blur, while the map's side is paper up to the line. The half
// reaches a pixel further beyond the inner edge than the edges lie apart,
// where a blurred line has faded into the paper; the paper level is the mean
// of three pixels beyond that (a maximum would sit on the grain's peaks).
void MeasureInnerHalf(const std::vector<float>& P, LineCrossing& edges) {
    const double centre = 0.5 * (edges.innerEdge + *edges.outerEdge);
    const double half = 0.5 * (*edges.outerEdge - edges.innerEdge);
    const int first = static_cast<int>(std::floor(centre - 3.0 * half - 1.0));
    const int mid = static_cast<int>(std::lround(centre));  // the pixel that holds the centre
    if (first < 3 || mid >= static_cast<int>(P.size())) {
        return;
    }
    const double paper = (P[static_cast<std::size_t>(first - 3)] + P[static_cast<std::size_t>(first - 2)] +
                          P[static_cast<std::size_t>(first - 1)]) / 3.0;
    double darkness = 0.0;
    for (int i = first; i < mid; ++i) {
        darkness += paper - P[static_cast<std::size_t>(i)];
    }
    // Pixel mid samples [mid - 0.5, mid + 0.5): its part up to the centre.
    darkness += (centre - (mid - 0.5)) * (paper - P[static_cast<std::size_t>(mid)]);
    edges.paper = paper;
    edges.area = 2.0 * darkness;
}

// The line whose inner edge is the steepest fall at index step.
std::optional<LineCrossing> MeasureDip(const std::vector<float>& P, int step, int maxWidth, double minDepth) {
    const int n = static_cast<int>(P.size());
    float lightIn = P[static_cast<std::size_t>(step)];
    for (int i = std::max(0, step - 5); i <= step; ++i) {
        lightIn = std::max(lightIn, P[static_cast<std::size_t>(i)]);
    }
    // The bottom of this dip only: the search stops where the profile has
    // come back part of the way to the paper, before a line beside it.
    int darkest = step;
    for (int i = step; i <= std::min(n - 1, step + maxWidth + 2); ++i) {
        const float v = P[static_cast<std::size_t>(i)];
        if (v < P[static_cast<std::size_t>(darkest)]) {
            darkest = i;
        } else if (v > P[static_cast<std::size_t>(darkest)] + kSplitShare * (lightIn - P[static_cast<std::size_t>(darkest)])) {
            break;
        }
    }
    const float dark = P[static_cast<std::size_t>(darkest)];
    float lightOut = dark;
    const int last = std::min(n - 1, darkest + maxWidth + 4);
    for (int i = darkest + 1; i <= last; ++i) {
        lightOut = std::max(lightOut, P[static_cast<std::size_t>(i)]);
    }
    // The paper on either side: a road close inside the line may keep the
    // inner side from coming back all the way.
    const double depth = std::max(lightIn, lightOut) - dark;
    if (depth < minDepth) {
        return std::nullopt;
    }
    const double levelIn = 0.5 * (lightIn + dark);
    int j = darkest;
    while (j >= 0 && P[static_cast<std::size_t>(j)] < levelIn) {
        --j;
    }
    // j == darkest: no fall into the line from the map's side (solid ink,
    // as in a dark patch pressed against the line, runs on inward), no
    // inner edge to place.
    if (j < 0 || j == darkest) {
        return std::nullopt;
    }
    LineCrossing edges;
    edges.paper = lightIn;
    edges.innerEdge = j + (P[static_cast<std::size_t>(j)] - levelIn) /
                          (P[static_cast<std::size_t>(j)] - P[static_cast<std::size_t>(j + 1)]);
    if (lightOut - dark >= kReturnShare * depth) {
        const double levelOut = 0.5 * (lightOut + dark);
        int k = darkest;
        while (k <= last && P[static_cast<std::size_t>(k)] < levelOut) {
            ++k;
        }
        if (k <= last && k > 0) {
            const double outer = (k - 1) + (levelOut - P[static_cast<std::size_t>(k - 1)]) /
                                               (P[static_cast<std::size_t>(k)] - P[static_cast<std::size_t>(k - 1)]);
            if (outer - edges.innerEdge <= maxWidth + 1) {
                edges.outerEdge = outer;
                MeasureInnerHalf(P, edges);
            }
        }
    }
    return edges;
}

}  // namespace

std::vector<LineCrossing> FindLineCrossings(const std::vector<float>& P, int expected, int searchInward,
                                            int searchOutward, int maxWidth, double minDepth) {
    const int n = static_cast<int>(P.size());
    const int from = std::max(2, expected - searchInward);
    const int to = std::min(n - 3, expected + searchOutward);
    const auto fall = [&P](int i) { return P[static_cast<std::size_t>(i + 1)] - P[static_cast<std::size_t>(i - 1)]; };
    std::vector<LineCrossing> found;
    for (int i = from; i <= to; ++i) {
        const float d = fall(i);
        if (d < 0.0f && d <= fall(i - 1) && d < fall(i + 1)) {
            if (const std::optional<LineCrossing> edges = MeasureDip(P, i, maxWidth, minDepth)) {
                if (found.empty() || std::fabs(found.back().innerEdge - edges->innerEdge) > 0.5) {
                    found.push_back(*edges);
                }
            }
        }
    }
    return found;
}

}  // namespace georef::corners
