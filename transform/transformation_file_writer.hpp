#pragma once
// Writer of config.bin in the layout that TransformationFile reads: the
// index first, then each sheet's boundary block and grid block.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::transform {

struct SheetRecord {
    std::int32_t sheetNumber = 0;
    std::vector<OutputPoint> boundary;
    // 16-byte auxiliary records stored before the vertices; readers skip them.
    std::vector<std::array<unsigned char, 16>> auxiliary;
    TransformGrid grid;
};

// The complete file content. Throws std::length_error when the file would
// exceed what 32-bit offsets address.
std::vector<unsigned char> EncodeTransformationFile(const std::vector<SheetRecord>& sheets);

// Writes the content atomically (temporary file, then rename). Throws
// std::runtime_error when the file cannot be written; the target is then
// unchanged.
void WriteTransformationFile(const std::string& path, const std::vector<SheetRecord>& sheets);

}  // namespace georef::transform
