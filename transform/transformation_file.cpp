#include "transform/transformation_file.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.hpp"
#include "transform/byte_order.hpp"

namespace georef::transform {

namespace {

constexpr std::int64_t kIntBytes = 4;
constexpr std::int64_t kIndexEntryBytes = 12;  // sheet number, boundaryOffset, gridOffset
constexpr double kLargestCoordinate = 1.0e8;  // metres; the Earth's circumference is 4e7
constexpr std::int64_t kRecordBytes = 16;      // auxiliary record, vertex (X, Y) or node (lon, lat)

// Prefixes the sheet number to the detail of a damage found while reading
// one sheet's blocks.
[[noreturn]] void RethrowForSheet(std::int32_t sheetNumber, const DamagedFile& damage) {
    throw DamagedFile("sheet " + std::to_string(sheetNumber) + ": " + damage.what());
}

}  // namespace

std::optional<TransformationFile> TransformationFile::Open(const std::string& path) {
    // fopen succeeds on a directory here; reading it would then fail.
    if (platform::IsDirectory(path)) {
        return std::nullopt;
    }
    platform::StdioFile file = platform::OpenStdioFile(path, "rb");
    if (!file) {
        return std::nullopt;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        return std::nullopt;
    }
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return std::nullopt;
    }
    return TransformationFile(std::move(file), static_cast<std::int64_t>(size));
}

TransformationFile::TransformationFile(platform::StdioFile file, std::int64_t size)
    : m_file(std::move(file)), m_size(size) {}

void TransformationFile::SeekTo(std::int64_t offset, const char* what) {
    if (offset < 0 || offset > m_size) {
        throw DamagedFile(std::string(what) + " offset " + std::to_string(offset) + " lies outside the file (" +
                          std::to_string(m_size) + " bytes)");
    }
    // Offsets come from 32-bit fields, so they fit a long.
    if (std::fseek(m_file.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        throw DamagedFile(std::string("cannot seek to the ") + what + " at offset " + std::to_string(offset));
    }
    m_position = offset;
}

void TransformationFile::ReadExact(unsigned char* out, std::size_t count, const char* what) {
    if (count == 0) {
        return;
    }
    const std::size_t got = std::fread(out, 1, count, m_file.get());
    m_position += static_cast<std::int64_t>(got);
    if (got != count) {
        throw DamagedFile(std::string("file ends inside the ") + what + " (short read at byte " +
                          std::to_string(m_position) + ")");
    }
}

std::int32_t TransformationFile::ReadInt32(const char* what) {
    std::array<unsigned char, kIntBytes> raw{};
    ReadExact(raw.data(), raw.size(), what);
    return detail::DecodeInt32(raw.data());
}

void TransformationFile::RequireRoom(std::int64_t count, std::int64_t recordSize, const char* what) const {
    if (count < 0) {
        throw DamagedFile(std::string(what) + " count " + std::to_string(count) + " is negative");
    }
    const std::int64_t room = m_size - m_position;  // >= 0: every read stays inside the file
    // count * recordSize <= room, without forming a product that could overflow.
    if (count > room / recordSize) {
        throw DamagedFile(std::string(what) + " count " + std::to_string(count) + " at " +
                          std::to_string(recordSize) + " bytes each exceeds the " + std::to_string(room) +
                          " bytes left at offset " + std::to_string(m_position));
    }
}

std::optional<SheetIndexEntry> TransformationFile::FindSheet(std::int32_t sheetNumber) {
    SeekTo(0, "index");
    const std::int32_t indexCount = ReadInt32("index count");
    if (indexCount < 1) {
        return std::nullopt;
    }
    RequireRoom(indexCount, kIndexEntryBytes, "index entry");
    for (std::int32_t k = 0; k < indexCount; ++k) {
        const SheetIndexEntry entry = ReadIndexEntry();
        if (entry.sheetNumber == sheetNumber) {
            return entry;  // the first entry wins; the rest is not read
        }
    }
    return std::nullopt;
}

std::vector<SheetIndexEntry> TransformationFile::ReadIndex() {
    SeekTo(0, "index");
    const std::int32_t indexCount = ReadInt32("index count");
    std::vector<SheetIndexEntry> entries;
    if (indexCount < 1) {
        return entries;
    }
    RequireRoom(indexCount, kIndexEntryBytes, "index entry");
    entries.reserve(static_cast<std::size_t>(indexCount));
    for (std::int32_t k = 0; k < indexCount; ++k) {
        entries.push_back(ReadIndexEntry());
    }
    return entries;
}

SheetIndexEntry TransformationFile::ReadIndexEntry() {
    std::array<unsigned char, kIndexEntryBytes> raw{};
    ReadExact(raw.data(), raw.size(), "index");
    SheetIndexEntry entry;
    entry.sheetNumber = detail::DecodeInt32(raw.data());
    entry.boundaryOffset = detail::DecodeInt32(raw.data() + 4);
    entry.gridOffset = detail::DecodeInt32(raw.data() + 8);
    return entry;
}

SheetBoundary TransformationFile::ReadBoundary(const SheetIndexEntry& entry) {
    try {
        SeekTo(entry.boundaryOffset, "boundary block");

        // Auxiliary records: read through a small buffer and dropped.
        const std::int32_t auxCount = ReadInt32("auxiliary record count");
        RequireRoom(auxCount, kRecordBytes, "auxiliary record");
        std::array<unsigned char, 256 * kRecordBytes> discard{};
        std::int64_t auxLeft = static_cast<std::int64_t>(auxCount) * kRecordBytes;
        while (auxLeft > 0) {
            const std::int64_t chunk = std::min<std::int64_t>(auxLeft, static_cast<std::int64_t>(discard.size()));
            ReadExact(discard.data(), static_cast<std::size_t>(chunk), "auxiliary records");
            auxLeft -= chunk;
        }

        const std::int32_t vertexCount = ReadInt32("vertex count");
        RequireRoom(vertexCount, kRecordBytes, "vertex");
        // Bounded by the file size (checked above).
        std::vector<unsigned char> raw(static_cast<std::size_t>(vertexCount) * kRecordBytes);
        ReadExact(raw.data(), raw.size(), "boundary vertices");

        SheetBoundary boundary;
        boundary.vertices.reserve(static_cast<std::size_t>(vertexCount));
        for (std::size_t v = 0; v < static_cast<std::size_t>(vertexCount); ++v) {
            const unsigned char* record = raw.data() + v * kRecordBytes;
            const OutputPoint vertex{detail::DecodeDouble(record), detail::DecodeDouble(record + 8)};
            // Output coordinates are metres on the Earth; anything else would send
            // the tile loop over an absurd number of tiles.
            if (!(std::fabs(vertex.X) < kLargestCoordinate) || !(std::fabs(vertex.Y) < kLargestCoordinate)) {
                throw DamagedFile("boundary vertex " + std::to_string(v) + " is not a position on the Earth");
            }
            boundary.vertices.push_back(vertex);
        }
        boundary.box = BoundingBoxOf(boundary.vertices);
        return boundary;
    } catch (const DamagedFile& damage) {
        RethrowForSheet(entry.sheetNumber, damage);
    }
}

TransformGrid TransformationFile::ReadGrid(const SheetIndexEntry& entry) {
    try {
        SeekTo(entry.gridOffset, "grid block");
        const std::int32_t originX = ReadInt32("grid origin X");
        const std::int32_t originY = ReadInt32("grid origin Y");
        const std::int32_t cellSize = ReadInt32("grid cell size");
        const std::int32_t nodesPerRow = ReadInt32("grid nodes per row");
        const std::int32_t rowCount = ReadInt32("grid row count");

        if (cellSize < 1) {
            throw DamagedFile("grid cell size " + std::to_string(cellSize) + " is not positive");
        }
        if (nodesPerRow < 2 || rowCount < 2) {
            throw DamagedFile("grid of " + std::to_string(nodesPerRow) + " nodes per row and " +
                              std::to_string(rowCount) + " rows has no cell");
        }
        // Lookup takes the fractions of X / cellSize and Y / cellSize: they are
        // positions inside the cell only when the origin lies on a multiple of
        // the cell size.
        if (originX % cellSize != 0 || originY % cellSize != 0) {
            throw DamagedFile("grid origin (" + std::to_string(originX) + ", " + std::to_string(originY) +
                              ") is not a multiple of the cell size " + std::to_string(cellSize));
        }
        const std::int64_t rowBytes = static_cast<std::int64_t>(nodesPerRow) * kRecordBytes;
        RequireRoom(rowCount, rowBytes, "grid row");

        // Bounded by the file size (checked above): one node per 16 bytes.
        const std::size_t perRow = static_cast<std::size_t>(nodesPerRow);
        std::vector<GraticulePoint> nodes;
        nodes.reserve(perRow * static_cast<std::size_t>(rowCount));
        std::vector<unsigned char> raw(static_cast<std::size_t>(rowBytes));
        for (std::int32_t r = 0; r < rowCount; ++r) {
            ReadExact(raw.data(), raw.size(), "grid nodes");
            for (std::size_t k = 0; k < perRow; ++k) {
                const unsigned char* record = raw.data() + k * kRecordBytes;
                nodes.push_back(GraticulePoint{detail::DecodeDouble(record), detail::DecodeDouble(record + 8)});
            }
        }
        return TransformGrid(originX, originY, cellSize, nodesPerRow, rowCount, std::move(nodes));
    } catch (const DamagedFile& damage) {
        RethrowForSheet(entry.sheetNumber, damage);
    }
}

}  // namespace georef::transform
