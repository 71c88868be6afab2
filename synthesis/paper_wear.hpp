#pragma once
// What paper and scanner add to a printed sheet: stains, folds and a torn
// corner on the paper (canvas frame, see scan_layout.hpp), uneven lighting,
// mottling and grain on the scan (image frame). Images are CV_8UC3, changed
// in place; everything random comes from the given source.

#include <opencv2/core.hpp>

#include "synthesis/realistic_scan.hpp"
#include "synthesis/scan_layout.hpp"
#include "synthesis/seeded_random.hpp"

namespace georef::synthesis {

// Soft brownish blotches anywhere on the paper, some over the neat line.
// pixelsPer300: canvas pixels per pixel at 300 dpi.
void DrawStains(cv::Mat& canvas, int count, double pixelsPer300, SeededRandom& random);

// Creases across the whole paper, parallel to its edges: a dark line with
// a lighter band beside it. The first runs down the middle, the second
// across it, further ones at thirds.
void DrawFolds(cv::Mat& canvas, int count, double pixelsPer300, SeededRandom& random);

// Paints a ragged piece of the paper's corner in the colour of what lies
// under the paper; borderPixels is the paper from the neat line to the edge.
// Without a reach the tear stays at least a third of the way from the paper
// corner to the neat line's corner, which is never touched; with one
// (neat: the neat line's corners, LD first; reach: share of each side) the
// tear cuts both sides of the corner that far from it.
void TearCorner(cv::Mat& canvas, SheetCorner corner, double borderPixels, const cv::Scalar& under,
                SeededRandom& random);
void TearCornerAcrossLine(cv::Mat& canvas, SheetCorner corner, const Quad& neat, double reach,
                          const cv::Scalar& under, SeededRandom& random);

// Brightness falling off towards one side and the image's corners by up to
// `lighting` (a fraction), slow mottling of the paper, and per-pixel grain
// of standard deviation `grain` grey levels.
void LightAndGrain(cv::Mat& image, double lighting, double grain, SeededRandom& random);

}  // namespace georef::synthesis
