// Reading config.bin: the index, the boundary and grid blocks, damaged files,
// and the writer's output read back.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "support/transform/config_file.hpp"
#include "transform/transformation_file.hpp"
#include "transform/transformation_file_writer.hpp"

namespace georef::transform {
namespace {

using test::ConfigFileBuilder;

TransformGrid SmallGrid(double lonBase) {
    std::vector<GraticulePoint> nodes;
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 2; ++k) {
            nodes.push_back({lonBase + 0.25 * k + 0.125 * r, 49.5 - 0.0625 * r + 0.03125 * k});
        }
    }
    return TransformGrid(-1000, 3000, 1000, 2, 3, std::move(nodes));
}

void ExpectSameGrid(const TransformGrid& expected, const TransformGrid& actual) {
    EXPECT_EQ(expected.OriginX(), actual.OriginX());
    EXPECT_EQ(expected.OriginY(), actual.OriginY());
    EXPECT_EQ(expected.CellSize(), actual.CellSize());
    EXPECT_EQ(expected.NodesPerRow(), actual.NodesPerRow());
    ASSERT_EQ(expected.RowCount(), actual.RowCount());
    for (std::size_t n = 0; n < expected.Nodes().size(); ++n) {
        EXPECT_EQ(expected.Nodes()[n].lon, actual.Nodes()[n].lon) << "node " << n;
        EXPECT_EQ(expected.Nodes()[n].lat, actual.Nodes()[n].lat) << "node " << n;
    }
}

void ExpectSameVertices(const std::vector<OutputPoint>& expected, const std::vector<OutputPoint>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t v = 0; v < expected.size(); ++v) {
        EXPECT_EQ(expected[v].X, actual[v].X) << "vertex " << v;
        EXPECT_EQ(expected[v].Y, actual[v].Y) << "vertex " << v;
    }
}

class TransformationFileTest : public ::testing::Test {
protected:
    TransformationFile OpenBytes(const std::string& bytes) {
        test::WriteFileBytes(m_path, bytes);
        std::optional<TransformationFile> file = TransformationFile::Open(m_path);
        if (!file) {
            throw std::runtime_error("cannot open " + m_path);
        }
        return std::move(*file);
    }

    test::TempDir m_dir;
    std::string m_path = m_dir.File("config.bin");
};

TEST_F(TransformationFileTest, Open_IsEmptyForAMissingFileOrADirectory) {
    EXPECT_FALSE(TransformationFile::Open(m_dir.File("absent.bin")).has_value());
    EXPECT_FALSE(TransformationFile::Open(m_dir.Path()).has_value());
    std::filesystem::create_directory(m_dir.File("config.bin"));
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());
    const bool openedDirectory = TransformationFile::Open().has_value();
    std::filesystem::remove(m_dir.File("config.bin"));
    test::WriteFileBytes(m_dir.File("config.bin"), test::SoundSheetConfigBytes(40571));
    std::optional<TransformationFile> byDefaultName = TransformationFile::Open();
    std::filesystem::current_path(previous);
    EXPECT_FALSE(openedDirectory);
    ASSERT_TRUE(byDefaultName.has_value());
    EXPECT_TRUE(byDefaultName->FindSheet(40571).has_value());
}

TEST_F(TransformationFileTest, FindSheet_TakesTheFirstOfDuplicateEntries) {
    ConfigFileBuilder builder;
    const auto b1 = builder.AddBoundary({{1.0, 2.0}});
    const auto g1 = builder.AddGrid(SmallGrid(15.0));
    const auto b2 = builder.AddBoundary({{3.0, 4.0}});
    const auto g2 = builder.AddGrid(SmallGrid(16.0));
    builder.AddEntry(40571, b1, g1);
    builder.AddEntry(40572, b2, g2);
    builder.AddEntry(40572, b1, g1);
    TransformationFile file = OpenBytes(builder.Bytes());

    const std::optional<SheetIndexEntry> entry = file.FindSheet(40572);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->sheetNumber, 40572);
    EXPECT_EQ(entry->boundaryOffset, static_cast<std::int32_t>(builder.OffsetOf(b2)));
    EXPECT_EQ(entry->gridOffset, static_cast<std::int32_t>(builder.OffsetOf(g2)));
    EXPECT_FALSE(file.FindSheet(40573).has_value());
    EXPECT_TRUE(file.FindSheet(40571).has_value());  // the index is searched from its start again

    // The whole index, repeated entries included, in file order.
    const std::vector<SheetIndexEntry> index = file.ReadIndex();
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0].sheetNumber, 40571);
    EXPECT_EQ(index[2].sheetNumber, 40572);
    EXPECT_EQ(index[2].boundaryOffset, static_cast<std::int32_t>(builder.OffsetOf(b1)));
}

TEST_F(TransformationFileTest, FindSheet_FindsNothingInAnEmptyOrNegativeIndex) {
    // Whatever follows a count below 1 is never read, not even a valid entry.
    const std::string sound = test::SoundSheetConfigBytes(40571);
    for (const std::int32_t count : {0, -1, -2147483647 - 1}) {
        std::string bytes = sound;
        test::PatchInt32(bytes, 0, count);
        TransformationFile file = OpenBytes(bytes);
        EXPECT_FALSE(file.FindSheet(40571).has_value()) << count;
    }
}

TEST_F(TransformationFileTest, ReadBoundary_KeepsFileOrderAndBoxesTheVertices) {
    const std::vector<OutputPoint> vertices = {
        {1105000.5, 548000.0}, {1101000.0, 549500.25}, {1109999.75, 541000.0}, {1105000.5, 548000.0}};
    ConfigFileBuilder builder;
    const auto g = builder.AddGrid(SmallGrid(15.0));         // grid before boundary
    const auto b = builder.AddBoundary(vertices, 3, 0xFF);   // auxiliary records of NaN bytes
    builder.AddEntry(40571, b, g);
    TransformationFile file = OpenBytes(builder.Bytes());

    const SheetIndexEntry entry = file.FindSheet(40571).value();
    const SheetBoundary boundary = file.ReadBoundary(entry);
    ExpectSameVertices(vertices, boundary.vertices);
    EXPECT_EQ(boundary.box.minX, 1101000.0);
    EXPECT_EQ(boundary.box.maxX, 1109999.75);
    EXPECT_EQ(boundary.box.minY, 541000.0);
    EXPECT_EQ(boundary.box.maxY, 549500.25);
    ExpectSameGrid(SmallGrid(15.0), file.ReadGrid(entry));
}

TEST_F(TransformationFileTest, ReadBoundary_WithoutVerticesKeepsTheSentinelBox) {
    ConfigFileBuilder builder;
    const auto b = builder.AddBoundary({});
    const auto g = builder.AddGrid(SmallGrid(15.0));
    builder.AddEntry(40571, b, g);
    TransformationFile file = OpenBytes(builder.Bytes());

    const SheetBoundary boundary = file.ReadBoundary(file.FindSheet(40571).value());
    EXPECT_TRUE(boundary.vertices.empty());
    EXPECT_EQ(boundary.box.minX, 999999999.0);
    EXPECT_EQ(boundary.box.minY, 999999999.0);
    EXPECT_EQ(boundary.box.maxX, -999999999.0);
    EXPECT_EQ(boundary.box.maxY, -999999999.0);
}

TEST_F(TransformationFileTest, ReadsEachSheetFromInterleavedBlocks) {
    // Blocks of two sheets interleaved, one sheet's grid before its boundary,
    // and a large auxiliary section that must be skipped in several pieces.
    ConfigFileBuilder builder;
    const auto gridB = builder.AddGrid(SmallGrid(16.0));
    const auto boundA = builder.AddBoundary({{10.0, 20.0}, {30.0, 40.0}}, 1000, 0x00);
    const auto boundB = builder.AddBoundary({{50.0, 60.0}}, 0);
    const auto gridA = builder.AddGrid(SmallGrid(15.0));
    builder.AddEntry(34011, boundA, gridA);
    builder.AddEntry(45994, boundB, gridB);
    TransformationFile file = OpenBytes(builder.Bytes());

    const SheetIndexEntry b = file.FindSheet(45994).value();
    ExpectSameVertices({{50.0, 60.0}}, file.ReadBoundary(b).vertices);
    ExpectSameGrid(SmallGrid(16.0), file.ReadGrid(b));
    const SheetIndexEntry a = file.FindSheet(34011).value();
    ExpectSameVertices({{10.0, 20.0}, {30.0, 40.0}}, file.ReadBoundary(a).vertices);
    ExpectSameGrid(SmallGrid(15.0), file.ReadGrid(a));
}

// Reads the sheet as the run does; DamagedFile propagates.
void ReadSheet(TransformationFile& file, std::int32_t sheetNumber) {
    const std::optional<SheetIndexEntry> entry = file.FindSheet(sheetNumber);
    if (!entry) {
        throw std::runtime_error("sheet not found");
    }
    file.ReadBoundary(*entry);
    file.ReadGrid(*entry);
}

TEST_F(TransformationFileTest, Reader_RejectsEachBrokenVariantAsDamaged) {
    for (const test::NamedBytes& variant : test::BrokenSheetConfigs(40571)) {
        SCOPED_TRACE(variant.name);
        TransformationFile file = OpenBytes(variant.bytes);
        EXPECT_THROW(ReadSheet(file, 40571), DamagedFile);
    }
}

TEST_F(TransformationFileTest, Reader_RejectsEveryTruncationOfASoundFile) {
    // Every byte of this file belongs to the sheet, so any shorter prefix is damaged.
    const std::string sound = test::SoundSheetConfigBytes(40571);
    {
        TransformationFile file = OpenBytes(sound);
        EXPECT_NO_THROW(ReadSheet(file, 40571));
    }
    for (std::size_t length = 0; length < sound.size(); ++length) {
        TransformationFile file = OpenBytes(sound.substr(0, length));
        EXPECT_THROW(ReadSheet(file, 40571), DamagedFile) << "length " << length;
    }
}

TEST_F(TransformationFileTest, Writer_MatchesTheLayoutAndReadsBack) {
    std::array<unsigned char, 16> aux{};
    aux.fill(0xA5);
    const std::vector<OutputPoint> first = {{1101000.0, 541000.0}, {1109000.0, 549000.0}, {1101000.0, 549000.0}};
    const std::vector<OutputPoint> second = {{-5.5, 7.25}};
    const std::vector<SheetRecord> sheets = {
        SheetRecord{40571, first, {aux, aux}, SmallGrid(15.0)},
        SheetRecord{40572, second, {}, SmallGrid(16.0)},
    };

    // The same content, laid out by the independent test encoder.
    ConfigFileBuilder builder;
    const auto b1 = builder.AddBoundary(first, 2, 0xA5);
    const auto g1 = builder.AddGrid(SmallGrid(15.0));
    const auto b2 = builder.AddBoundary(second);
    const auto g2 = builder.AddGrid(SmallGrid(16.0));
    builder.AddEntry(40571, b1, g1);
    builder.AddEntry(40572, b2, g2);
    const std::vector<unsigned char> encoded = EncodeTransformationFile(sheets);
    EXPECT_EQ(std::string(encoded.begin(), encoded.end()), builder.Bytes());

    test::WriteFileBytes(m_path, "previous content");
    WriteTransformationFile(m_path, sheets);
    std::optional<TransformationFile> file = TransformationFile::Open(m_path);
    ASSERT_TRUE(file.has_value());
    for (const SheetRecord& sheet : sheets) {
        SCOPED_TRACE(sheet.sheetNumber);
        const SheetIndexEntry entry = file->FindSheet(sheet.sheetNumber).value();
        ExpectSameVertices(sheet.boundary, file->ReadBoundary(entry).vertices);
        ExpectSameGrid(sheet.grid, file->ReadGrid(entry));
    }
    // Only the target remains: the temporary file was renamed over it.
    std::size_t entries = 0;
    for (const auto& item : std::filesystem::directory_iterator(m_dir.Path())) {
        (void)item;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace georef::transform
