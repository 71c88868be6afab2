#include "support/transform/config_file.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "support/temp_dir.hpp"

namespace georef::test {

namespace {

void PutUint32(char* out, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) {
        out[b] = static_cast<char>((value >> (8 * b)) & 0xFFu);
    }
}

}  // namespace

ByteWriter& ByteWriter::Int32(std::int32_t value) {
    char raw[4];
    PutUint32(raw, static_cast<std::uint32_t>(value));
    m_bytes.append(raw, 4);
    return *this;
}

ByteWriter& ByteWriter::Double(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    char raw[8];
    PutUint32(raw, static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
    PutUint32(raw + 4, static_cast<std::uint32_t>(bits >> 32));
    m_bytes.append(raw, 8);
    return *this;
}

ByteWriter& ByteWriter::Fill(std::size_t count, unsigned char value) {
    m_bytes.append(count, static_cast<char>(value));
    return *this;
}

void PatchInt32(std::string& bytes, std::size_t offset, std::int32_t value) {
    if (offset + 4 > bytes.size()) {
        throw std::out_of_range("PatchInt32: offset " + std::to_string(offset) + " past the end");
    }
    PutUint32(&bytes[offset], static_cast<std::uint32_t>(value));
}

ConfigFileBuilder::Block ConfigFileBuilder::AddBoundary(const std::vector<transform::OutputPoint>& vertices,
                                                        std::int32_t auxCount, unsigned char auxFill) {
    ByteWriter w;
    w.Int32(auxCount).Fill(16 * static_cast<std::size_t>(auxCount), auxFill);
    w.Int32(static_cast<std::int32_t>(vertices.size()));
    for (const transform::OutputPoint& v : vertices) {
        w.Double(v.X).Double(v.Y);
    }
    return AddRaw(w.Bytes());
}

ConfigFileBuilder::Block ConfigFileBuilder::AddGrid(const transform::TransformGrid& grid) {
    ByteWriter w;
    w.Int32(grid.OriginX()).Int32(grid.OriginY()).Int32(grid.CellSize());
    w.Int32(grid.NodesPerRow()).Int32(grid.RowCount());
    for (std::int32_t r = 0; r < grid.RowCount(); ++r) {
        for (std::int32_t k = 0; k < grid.NodesPerRow(); ++k) {
            w.Double(grid.Node(r, k).lon).Double(grid.Node(r, k).lat);
        }
    }
    return AddRaw(w.Bytes());
}

ConfigFileBuilder::Block ConfigFileBuilder::AddRaw(std::string bytes) {
    m_blocks.push_back(std::move(bytes));
    return m_blocks.size() - 1;
}

void ConfigFileBuilder::AddEntry(std::int32_t sheetNumber, Block boundary, Block grid) {
    if (boundary >= m_blocks.size() || grid >= m_blocks.size()) {
        throw std::out_of_range("AddEntry: no such block");
    }
    m_entries.push_back(Entry{sheetNumber, false, boundary, grid, 0, 0});
}

void ConfigFileBuilder::AddRawEntry(std::int32_t sheetNumber, std::int32_t boundaryOffset, std::int32_t gridOffset) {
    m_entries.push_back(Entry{sheetNumber, true, 0, 0, boundaryOffset, gridOffset});
}

std::size_t ConfigFileBuilder::OffsetOf(Block block) const {
    std::size_t offset = IndexEntryOffset(m_entries.size());
    for (Block b = 0; b < block; ++b) {
        offset += m_blocks.at(b).size();
    }
    return offset;
}

std::string ConfigFileBuilder::Bytes() const {
    ByteWriter index;
    index.Int32(static_cast<std::int32_t>(m_entries.size()));
    for (const Entry& e : m_entries) {
        index.Int32(e.sheetNumber);
        index.Int32(e.raw ? e.rawBoundary : static_cast<std::int32_t>(OffsetOf(e.boundary)));
        index.Int32(e.raw ? e.rawGrid : static_cast<std::int32_t>(OffsetOf(e.grid)));
    }
    std::string bytes = index.Bytes();
    for (const std::string& block : m_blocks) {
        bytes += block;
    }
    return bytes;
}

void ConfigFileBuilder::Write(const std::string& path) const {
    WriteFileBytes(path, Bytes());
}

void WriteSheetConfig(const std::string& path, std::int32_t sheetNumber,
                      const std::vector<transform::OutputPoint>& boundary, const transform::TransformGrid& grid) {
    ConfigFileBuilder builder;
    const auto b = builder.AddBoundary(boundary);
    const auto g = builder.AddGrid(grid);
    builder.AddEntry(sheetNumber, b, g);
    builder.Write(path);
}

transform::TransformGrid AnalyticGrid(const transform::BoundingBox& box, double margin, std::int32_t cellSize,
                                      const GraticuleFunction& f) {
    if (cellSize < 1) {
        throw std::invalid_argument("AnalyticGrid: cell size must be positive");
    }
    const double minX = box.minX - margin;
    const double maxX = box.maxX + margin;
    const double minY = box.minY - margin;
    const double maxY = box.maxY + margin;
    if (!(minX <= maxX) || !(minY <= maxY)) {
        throw std::invalid_argument("AnalyticGrid: empty box");
    }
    const double S = static_cast<double>(cellSize);
    const double originX = std::floor(minX / S) * S;
    const double originY = std::floor(minY / S) * S;
    // A point at the far edge must still find nodes i + 1 and j + 1.
    const double nodesPerRow = std::floor((maxX - originX) / S) + 2.0;
    const double rowCount = std::floor((maxY - originY) / S) + 2.0;
    const double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (std::fabs(originX) > limit || std::fabs(originY) > limit || nodesPerRow * rowCount > 1e8) {
        throw std::invalid_argument("AnalyticGrid: box too large for the cell size");
    }
    const auto x0 = static_cast<std::int32_t>(originX);
    const auto y0 = static_cast<std::int32_t>(originY);
    const auto n = static_cast<std::int32_t>(nodesPerRow);
    const auto rows = static_cast<std::int32_t>(rowCount);
    std::vector<transform::GraticulePoint> nodes;
    nodes.reserve(static_cast<std::size_t>(n) * static_cast<std::size_t>(rows));
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t k = 0; k < n; ++k) {
            const double X = static_cast<double>(x0) + static_cast<double>(k) * S;
            const double Y = static_cast<double>(y0) + static_cast<double>(r) * S;
            nodes.push_back(f(X, Y));
        }
    }
    return transform::TransformGrid(x0, y0, cellSize, n, rows, std::move(nodes));
}

namespace {

constexpr std::int32_t kSoundAuxCount = 2;

transform::TransformGrid SoundGrid() {
    std::vector<transform::GraticulePoint> nodes;
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            nodes.push_back({15.0 + 0.05 * k + 0.001 * r, 49.0 + 0.04 * r - 0.002 * k});
        }
    }
    return transform::TransformGrid(1100000, 540000, 5000, 3, 3, std::move(nodes));
}

// The sound file and the offsets of its two blocks.
struct SoundFile {
    std::string bytes;
    std::size_t boundary = 0;
    std::size_t grid = 0;
};

SoundFile MakeSoundFile(std::int32_t sheetNumber) {
    ConfigFileBuilder builder;
    const auto b = builder.AddBoundary(
        {{1101000.0, 541000.0}, {1101000.0, 549000.0}, {1109000.0, 549000.0}, {1109000.0, 541000.0}},
        kSoundAuxCount);
    const auto g = builder.AddGrid(SoundGrid());
    builder.AddEntry(sheetNumber, b, g);
    return SoundFile{builder.Bytes(), builder.OffsetOf(b), builder.OffsetOf(g)};
}

}  // namespace

std::string SoundSheetConfigBytes(std::int32_t sheetNumber) {
    return MakeSoundFile(sheetNumber).bytes;
}

std::vector<NamedBytes> BrokenSheetConfigs(std::int32_t sheetNumber) {
    const SoundFile sound = MakeSoundFile(sheetNumber);
    const auto size = static_cast<std::int32_t>(sound.bytes.size());
    const std::size_t entryBoundary = IndexEntryOffset(0) + kEntryBoundaryOffset;
    const std::size_t entryGrid = IndexEntryOffset(0) + kEntryGridOffset;
    const std::size_t auxCount = sound.boundary;
    const std::size_t vertexCount = sound.boundary + BoundaryVertexCountOffset(kSoundAuxCount);
    const std::size_t grid = sound.grid;
    constexpr std::int32_t kHuge = std::numeric_limits<std::int32_t>::max();

    std::vector<NamedBytes> variants;
    const auto patched = [&](const std::string& name, std::size_t offset, std::int32_t value) {
        std::string bytes = sound.bytes;
        PatchInt32(bytes, offset, value);
        variants.push_back({name, std::move(bytes)});
    };
    variants.push_back({"empty file", std::string()});
    variants.push_back({"index count cut short", sound.bytes.substr(0, 3)});
    patched("index count huge", 0, kHuge);
    patched("index count one entry past the file", 0, (size - 4) / 12 + 1);
    patched("boundary offset negative", entryBoundary, -4);
    patched("boundary offset past the end", entryBoundary, size + 1);
    patched("boundary offset at the end", entryBoundary, size);
    patched("grid offset negative", entryGrid, -20);
    patched("grid offset past the end", entryGrid, size + 100);
    patched("grid offset at the end", entryGrid, size);
    patched("grid header cut by the end", entryGrid, size - 12);
    patched("auxiliary count negative", auxCount, -1);
    patched("auxiliary count huge", auxCount, kHuge);
    patched("auxiliary count overflowing 32-bit bytes", auxCount, 0x10000000);
    patched("vertex count negative", vertexCount, -2);
    patched("vertex count huge", vertexCount, kHuge);
    patched("vertex count overflowing 32-bit bytes", vertexCount, 0x10000000);
    patched("cell size zero", grid + kGridCellSize, 0);
    patched("cell size negative", grid + kGridCellSize, -5000);
    patched("one node per row", grid + kGridNodesPerRow, 1);
    patched("nodes per row negative", grid + kGridNodesPerRow, -3);
    patched("nodes per row huge", grid + kGridNodesPerRow, kHuge);
    patched("one row", grid + kGridRowCount, 1);
    patched("no row", grid + kGridRowCount, 0);
    patched("row count huge", grid + kGridRowCount, kHuge);
    {
        std::string bytes = sound.bytes;
        PatchInt32(bytes, grid + kGridNodesPerRow, 0x10000000);
        PatchInt32(bytes, grid + kGridRowCount, 0x10000000);
        variants.push_back({"node count overflowing 64-bit bytes", std::move(bytes)});
    }
    patched("origin X off the cell raster", grid + kGridOriginX, 1100001);
    patched("origin Y half a cell off", grid + kGridOriginY, 542500);
    const auto vertexPatched = [&](const std::string& name, std::size_t offset, double value) {
        std::string bytes = sound.bytes;
        const std::string encoded = ByteWriter().Double(value).Bytes();
        bytes.replace(offset, encoded.size(), encoded);
        variants.push_back({name, std::move(bytes)});
    };
    vertexPatched("vertex X not a number", vertexCount + 4, std::numeric_limits<double>::quiet_NaN());
    vertexPatched("vertex Y infinite", vertexCount + 4 + 8, std::numeric_limits<double>::infinity());
    vertexPatched("vertex X far off the Earth", vertexCount + 4, 1.0e12);
    variants.push_back({"last node byte missing", sound.bytes.substr(0, sound.bytes.size() - 1)});
    variants.push_back({"file ends inside the vertices", sound.bytes.substr(0, grid - 8)});
    return variants;
}

}  // namespace georef::test
