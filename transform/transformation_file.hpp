#pragma once
// Reader of config.bin: an index of sheets and, per sheet, the boundary
// polygon and the transformation grid. Little-endian, 32-bit signed integers
// and IEEE doubles, no header. Output frame: X metres southward, Y metres
// westward.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

namespace georef::transform {

// config.bin is damaged: a short read, an offset past its end, a count that
// is negative or larger than the file can hold, an unusable grid.
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
    // Opens the file for binary reading; empty when it cannot be opened.
    static std::optional<TransformationFile> Open(const std::string& path = "config.bin");

    // The first index entry for the sheet; empty when the index holds none
    // (an index count of 0 or below included). Throws DamagedFile.
    std::optional<SheetIndexEntry> FindSheet(std::int32_t sheetNumber);

    // Throws DamagedFile.
    SheetBoundary ReadBoundary(const SheetIndexEntry& entry);

    // Throws DamagedFile; a grid with cellSize < 1, or fewer than 2 nodes per
    // row or rows, is damaged.
    TransformGrid ReadGrid(const SheetIndexEntry& entry);

    std::int64_t Size() const noexcept { return m_size; }

private:
    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    TransformationFile(std::unique_ptr<std::FILE, Closer> file, std::int64_t size);

    std::unique_ptr<std::FILE, Closer> m_file;
    std::int64_t m_size = 0;
};

}  // namespace georef::transform
