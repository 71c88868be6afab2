#include "transform/transformation_file_writer.hpp"

#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "platform/atomic_file.hpp"
#include "transform/byte_order.hpp"

namespace georef::transform {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::int32_t CheckedInt32(std::int64_t value, const char* what) {
    if (value < 0 || value > kInt32Max) {
        throw std::length_error(std::string("config.bin: ") + what + " " + std::to_string(value) +
                                " does not fit in a 32-bit field");
    }
    return static_cast<std::int32_t>(value);
}

// Bytes of a sheet's boundary block: auxCount, records, vertexCount, vertices.
std::int64_t BoundaryBytes(const SheetRecord& sheet) {
    return 4 + 16 * static_cast<std::int64_t>(sheet.auxiliary.size()) + 4 +
           16 * static_cast<std::int64_t>(sheet.boundary.size());
}

// Bytes of a sheet's grid block: five integers, then the nodes.
std::int64_t GridBytes(const SheetRecord& sheet) {
    return 20 + 16 * static_cast<std::int64_t>(sheet.grid.Nodes().size());
}

}  // namespace

std::vector<unsigned char> EncodeTransformationFile(const std::vector<SheetRecord>& sheets) {
    const std::int32_t indexCount = CheckedInt32(static_cast<std::int64_t>(sheets.size()), "sheet count");

    // Lay the blocks out first, so every offset is known and checked before
    // a byte is written.
    std::vector<std::int32_t> boundaryOffsets;
    std::vector<std::int32_t> gridOffsets;
    std::int64_t position = 4 + 12 * static_cast<std::int64_t>(indexCount);
    for (const SheetRecord& sheet : sheets) {
        CheckedInt32(static_cast<std::int64_t>(sheet.auxiliary.size()), "auxiliary record count");
        CheckedInt32(static_cast<std::int64_t>(sheet.boundary.size()), "vertex count");
        boundaryOffsets.push_back(CheckedInt32(position, "boundary block offset"));
        position += BoundaryBytes(sheet);
        gridOffsets.push_back(CheckedInt32(position, "grid block offset"));
        position += GridBytes(sheet);
    }

    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(position));
    detail::AppendInt32(out, indexCount);
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        detail::AppendInt32(out, sheets[s].sheetNumber);
        detail::AppendInt32(out, boundaryOffsets[s]);
        detail::AppendInt32(out, gridOffsets[s]);
    }
    for (const SheetRecord& sheet : sheets) {
        detail::AppendInt32(out, static_cast<std::int32_t>(sheet.auxiliary.size()));
        for (const std::array<unsigned char, 16>& record : sheet.auxiliary) {
            out.insert(out.end(), record.begin(), record.end());
        }
        detail::AppendInt32(out, static_cast<std::int32_t>(sheet.boundary.size()));
        for (const OutputPoint& vertex : sheet.boundary) {
            detail::AppendDouble(out, vertex.X);
            detail::AppendDouble(out, vertex.Y);
        }
        const TransformGrid& grid = sheet.grid;
        detail::AppendInt32(out, grid.OriginX());
        detail::AppendInt32(out, grid.OriginY());
        detail::AppendInt32(out, grid.CellSize());
        detail::AppendInt32(out, grid.NodesPerRow());
        detail::AppendInt32(out, grid.RowCount());
        for (const GraticulePoint& node : grid.Nodes()) {  // row-major, as stored
            detail::AppendDouble(out, node.lon);
            detail::AppendDouble(out, node.lat);
        }
    }
    return out;
}

void WriteTransformationFile(const std::string& path, const std::vector<SheetRecord>& sheets) {
    const std::vector<unsigned char> content = EncodeTransformationFile(sheets);
    platform::AtomicFile file(path);
    if (std::fwrite(content.data(), 1, content.size(), file.Stream()) != content.size()) {
        throw std::runtime_error("cannot write " + file.TemporaryName());
    }
    file.Commit();
}

}  // namespace georef::transform
