#pragma once
// Writer of config.bin in the layout that TransformationFile reads: the
// index first (one entry per sheet, in the given order), then each sheet's
// boundary block followed by its grid block.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::transform {

// One sheet of the file. TransformGrid has no empty state, so a record is
// built with all its fields: SheetRecord{number, vertices, auxiliary, grid}.
struct SheetRecord {
    std::int32_t sheetNumber = 0;
    std::vector<OutputPoint> boundary;  // output frame, metres, file order
    // 16-byte auxiliary records stored before the vertices; readers skip them.
    std::vector<std::array<unsigned char, 16>> auxiliary;
    TransformGrid grid;
};

// The complete file content. Throws std::length_error when a block offset
// would not fit in 32 bits or a count exceeds a 32-bit integer.
std::vector<unsigned char> EncodeTransformationFile(const std::vector<SheetRecord>& sheets);

// Writes the content atomically (temporary file, then rename). Throws
// std::runtime_error when the file cannot be written; the target is then
// unchanged.
void WriteTransformationFile(const std::string& path, const std::vector<SheetRecord>& sheets);

}  // namespace georef::transform
