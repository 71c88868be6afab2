#pragma once
// config.bin files for tests, sound and broken. The bytes are built here by
// hand, independently of the program's own writer, so a test can check the
// reader and the writer against a second encoder of the layout.
//
// Layout reminder (little-endian int32 and double; offsets absolute):
//   index:     indexCount, entries of (sheet, boundaryOffset, gridOffset)
//   boundary:  auxCount, auxCount * 16 bytes, vertexCount, vertices (X, Y)
//   grid:      originX, originY, cellSize, nodesPerRow, rowCount, nodes (lon, lat)

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::test {

// Raw little-endian bytes, appended in order.
class ByteWriter {
public:
    ByteWriter& Int32(std::int32_t value);
    ByteWriter& Double(double value);
    ByteWriter& Fill(std::size_t count, unsigned char value);

    std::size_t Size() const noexcept { return m_bytes.size(); }
    const std::string& Bytes() const noexcept { return m_bytes; }

private:
    std::string m_bytes;
};

// Overwrites four bytes at offset with value (little-endian); the bytes must
// exist.
void PatchInt32(std::string& bytes, std::size_t offset, std::int32_t value);

// Field positions, relative to the start of their record or block.
constexpr std::size_t IndexEntryOffset(std::size_t k) noexcept { return 4 + 12 * k; }
inline constexpr std::size_t kEntryBoundaryOffset = 4;  // within an index entry
inline constexpr std::size_t kEntryGridOffset = 8;      // within an index entry
inline constexpr std::size_t kGridOriginX = 0;
inline constexpr std::size_t kGridOriginY = 4;
inline constexpr std::size_t kGridCellSize = 8;
inline constexpr std::size_t kGridNodesPerRow = 12;
inline constexpr std::size_t kGridRowCount = 16;
inline constexpr std::size_t kGridNodes = 20;
// Within a boundary block: auxCount at 0, vertexCount after the records.
constexpr std::size_t BoundaryVertexCountOffset(std::size_t auxCount) noexcept { return 4 + 16 * auxCount; }

// A config.bin assembled from blocks: the index at offset 0, then the blocks
// in the order they were added (so a grid may come before a boundary, and
// the blocks of different sheets may interleave). Entries refer to blocks by
// the handle their Add call returned, or carry raw offsets.
class ConfigFileBuilder {
public:
    using Block = std::size_t;

    // A boundary block: auxCount auxiliary records, each 16 bytes of auxFill,
    // then the vertices (output frame, metres).
    Block AddBoundary(const std::vector<transform::OutputPoint>& vertices, std::int32_t auxCount = 0,
                      unsigned char auxFill = 0xA5);
    // A grid block holding the grid's fields and nodes as they are.
    Block AddGrid(const transform::TransformGrid& grid);
    // Any bytes, for blocks that are deliberately wrong.
    Block AddRaw(std::string bytes);

    void AddEntry(std::int32_t sheetNumber, Block boundary, Block grid);
    // An entry whose offsets are written as given (negative, past the end...).
    void AddRawEntry(std::int32_t sheetNumber, std::int32_t boundaryOffset, std::int32_t gridOffset);

    // Absolute offset of a block in Bytes(); final once all entries are added.
    std::size_t OffsetOf(Block block) const;
    std::string Bytes() const;
    void Write(const std::string& path) const;  // throws std::runtime_error

private:
    struct Entry {
        std::int32_t sheetNumber;
        bool raw;
        std::size_t boundary;  // block handle, or the raw offset
        std::size_t grid;
        std::int32_t rawBoundary;
        std::int32_t rawGrid;
    };
    std::vector<std::string> m_blocks;
    std::vector<Entry> m_entries;
};

// The file of one sheet: index, boundary block (no auxiliary record), grid
// block. Throws std::runtime_error when it cannot be written.
void WriteSheetConfig(const std::string& path, std::int32_t sheetNumber,
                      const std::vector<transform::OutputPoint>& boundary, const transform::TransformGrid& grid);

// Graticule point (lon, lat in degrees) of an output point (X, Y in metres).
using GraticuleFunction = std::function<transform::GraticulePoint(double X, double Y)>;

// A grid whose nodes are f at their output points, covering the box widened
// by margin metres on every side: the origin is the widened box's minimum
// rounded down to a multiple of cellSize, and the grid reaches past the
// widened maximum, so every point of the widened box has all four nodes of
// its cell. Throws std::invalid_argument for an empty box or cellSize < 1.
transform::TransformGrid AnalyticGrid(const transform::BoundingBox& box, double margin, std::int32_t cellSize,
                                      const GraticuleFunction& f);

// A named file content.
struct NamedBytes {
    std::string name;
    std::string bytes;
};

// A sound one-sheet file for sheetNumber (two auxiliary records, a square
// boundary, a 3 x 3 grid), whose reading succeeds.
std::string SoundSheetConfigBytes(std::int32_t sheetNumber);

// Variants of SoundSheetConfigBytes, each broken in one way (an offset
// outside the file, a negative or huge count, a cell size of 0, a grid
// without cells, a misaligned origin, a truncated block, ...). Reading the
// sheet from any of them (FindSheet, ReadBoundary, ReadGrid) must end in
// DamagedFile.
std::vector<NamedBytes> BrokenSheetConfigs(std::int32_t sheetNumber);

}  // namespace georef::test
