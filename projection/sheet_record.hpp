#pragma once
// The content of config.bin for one sheet, computed through a
// ProjTransformer: the sheet's graticule rectangle as a polygon in the output
// frame, and a grid of graticule coordinates over it.

#include <cstdint>
#include <vector>

#include "projection/proj_transformer.hpp"
#include "transform/transformation_file_writer.hpp"

namespace georef::projection {

// Largest distance, in output metres, that a boundary edge may depart from
// the projected graticule line it stands for.
inline constexpr double kMaxChordError = 0.1;

// The sheet's graticule rectangle (MakeSheetGraticule) in the output frame:
// south-west corner first, then north along the west edge, east along the
// north edge, south along the east edge and west along the south edge; the
// first vertex is not repeated. Each edge is bisected until the midpoint of
// every piece lies within maxChordError / 2 metres of its chord, and at least
// 16 pieces per edge. Requires a valid sheet number. Throws georef::Failure.
std::vector<transform::OutputPoint> BuildSheetBoundary(int sheetNumber, ProjTransformer& proj,
                                                       double maxChordError = kMaxChordError);

// A grid with nodes every cellSize metres whose origin is a multiple of
// cellSize, reaching one cell beyond the box on every side, so that every
// point of the box (and its rounding neighbourhood) has all four nodes of its
// cell. Node values come from proj. Throws georef::Failure when the grid
// would reach below X = 0 or Y = 0 (where the file's cell fractions no longer
// hold) or beyond 32-bit coordinates.
transform::TransformGrid BuildTransformGrid(const transform::BoundingBox& box, std::int32_t cellSize,
                                            ProjTransformer& proj);

// Boundary and grid of one valid sheet, ready for the writer.
transform::SheetRecord BuildSheetRecord(int sheetNumber, std::int32_t cellSize, ProjTransformer& proj);

}  // namespace georef::projection
