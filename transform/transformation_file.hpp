#pragma once
// Reader of config.bin: an index of sheets and, per sheet, the boundary
// polygon and the transformation grid. Little-endian, 32-bit signed integers
// and IEEE doubles, no header. Output frame: X metres southward, Y metres
// westward.
//
// Layout (offsets in bytes; block offsets are absolute from the file start):
//   index at 0:       indexCount, then per entry: sheet number,
//                     boundaryOffset, gridOffset (12 bytes)
//   boundary block:   auxCount, auxCount records of 16 bytes (skipped),
//                     vertexCount, per vertex X, Y (doubles)
//   grid block:       originX, originY, cellSize, nodesPerRow, rowCount,
//                     then rowCount rows of nodesPerRow nodes: lon, lat
//                     (doubles, degrees)

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/stdio_file.hpp"
#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::transform {

// config.bin is damaged: a short read, an offset past its end, a count that
// is negative or larger than the file can hold, an unusable grid. The message
// is a short English detail; the caller prints its own text.
class DamagedFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SheetIndexEntry {
    std::int32_t sheetNumber = 0;
    std::int32_t boundaryOffset = 0;  // absolute byte offset of the boundary block
    std::int32_t gridOffset = 0;      // absolute byte offset of the grid block
};

class TransformationFile {
public:
    // Opens the file for binary reading; empty when it cannot be opened or is
    // a directory. The default name is relative to the working directory.
    static std::optional<TransformationFile> Open(const std::string& path = "config.bin");

    // The first index entry for the sheet; empty when the index holds none
    // (an index count of 0 or below included). Reads the index from the
    // start of the file, one entry at a time, and stops at the first match.
    // Throws DamagedFile when the index does not fit in the file.
    std::optional<SheetIndexEntry> FindSheet(std::int32_t sheetNumber);

    // The boundary polygon of the entry, vertices in file order, and their
    // bounding box. Auxiliary records are read and discarded.
    // Every index entry in file order, repeated ones included; empty for an
    // index count of 0 or below. Throws DamagedFile.
    std::vector<SheetIndexEntry> ReadIndex();

    // Throws DamagedFile.
    SheetBoundary ReadBoundary(const SheetIndexEntry& entry);

    // The grid of the entry. Throws DamagedFile, also for a grid with
    // cellSize < 1, fewer than 2 nodes per row or rows, or an origin that is
    // not a multiple of cellSize.
    TransformGrid ReadGrid(const SheetIndexEntry& entry);

    std::int64_t Size() const noexcept { return m_size; }  // bytes

private:
    TransformationFile(platform::StdioFile file, std::int64_t size);

    // Moves to an absolute offset; DamagedFile when it lies outside the file.
    void SeekTo(std::int64_t offset, const char* what);
    // Reads exactly count bytes at the current position; DamagedFile otherwise.
    void ReadExact(unsigned char* out, std::size_t count, const char* what);
    std::int32_t ReadInt32(const char* what);
    SheetIndexEntry ReadIndexEntry();
    // DamagedFile unless 0 <= count and count records of recordSize bytes
    // fit between the current position and the end of the file.
    void RequireRoom(std::int64_t count, std::int64_t recordSize, const char* what) const;

    platform::StdioFile m_file;
    std::int64_t m_size = 0;      // bytes, taken when the file was opened
    std::int64_t m_position = 0;  // current read position, bytes from the start
};

}  // namespace georef::transform
