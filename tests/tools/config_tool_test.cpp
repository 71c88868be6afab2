// georef-config: the files it writes, read back through the program's own
// reader and compared with PROJ; and the inputs it must refuse.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/sheet_geometry.hpp"
#include "platform/failure.hpp"
#include "projection/proj_transformer.hpp"
#include "projection/sheet_record.hpp"
#include "support/in_process.hpp"
#include "support/temp_dir.hpp"
#include "support/transform/config_file.hpp"
#include "tools/config_tool.hpp"
#include "transform/transformation_file.hpp"

namespace georef::tools {
namespace {

using projection::BuildSheetBoundary;
using projection::BuildSheetRecord;
using projection::ProjSettings;
using projection::ProjTransformer;
using test::ToolResult;

ToolResult RunConfig(std::vector<std::string> args) {
    args.insert(args.begin(), "georef-config");
    return test::RunInProcess(RunConfigTool, args);
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ConfigToolTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    ProjTransformer m_proj{ProjSettings{}};
};

TEST_F(ConfigToolTest, WrittenFileReadsBackThroughTheReaderWithEverySheetSound) {
    const std::string path = m_dir.File("config.bin");
    const ToolResult r = RunConfig({"40571-40574", "40581", "-o", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("5 sheets"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Transformation from MGI (Ferro) to S-JTSK"), std::string::npos) << r.out;

    std::optional<transform::TransformationFile> file = transform::TransformationFile::Open(path);
    ASSERT_TRUE(file);
    for (const int sheet : {40571, 40572, 40573, 40574, 40581}) {
        SCOPED_TRACE(sheet);
        const std::optional<transform::SheetIndexEntry> entry = file->FindSheet(sheet);
        ASSERT_TRUE(entry);
        const transform::SheetBoundary boundary = file->ReadBoundary(*entry);
        const transform::TransformGrid grid = file->ReadGrid(*entry);
        EXPECT_TRUE(CheckSheetContent(sheet, boundary, grid).empty());
        const std::vector<transform::OutputPoint> expected = BuildSheetBoundary(sheet, m_proj);
        ASSERT_EQ(boundary.vertices.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(boundary.vertices[k].X, expected[k].X);
            EXPECT_EQ(boundary.vertices[k].Y, expected[k].Y);
        }
        EXPECT_EQ(grid.CellSize(), 500);
        EXPECT_EQ(grid.OriginX() % 500, 0);
        EXPECT_EQ(grid.OriginY() % 500, 0);
    }
    EXPECT_FALSE(file->FindSheet(40582));

    const ToolResult list = RunConfig({"--list", path});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("40581"), std::string::npos);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 6) << list.out;
}

TEST_F(ConfigToolTest, RefusedInputsWriteNothingAndKeepAnExistingFile) {
    const std::string path = m_dir.File("config.bin");
    test::WriteFileBytes(path, "previous content");
    const std::vector<std::string> before = DirectoryEntries(m_dir.Path());

    const ToolResult unknownCrs = RunConfig({"40571", "--target", "EPSG:999999", "-o", path});
    EXPECT_EQ(unknownCrs.status, 1);
    EXPECT_NE(unknownCrs.err.find("EPSG:999999"), std::string::npos) << unknownCrs.err;

    const ToolResult geographicTarget = RunConfig({"40571", "--target", "EPSG:4326", "-o", path});
    EXPECT_EQ(geographicTarget.status, 1);
    const ToolResult projectedGraticule = RunConfig({"40571", "--graticule", "EPSG:5514", "-o", path});
    EXPECT_EQ(projectedGraticule.status, 1);
    const ToolResult badPipeline = RunConfig({"40571", "--pipeline", "+proj=nonsense", "-o", path});
    EXPECT_EQ(badPipeline.status, 1);
    // Positive eastings and northings put the sheet at negative X, Y.
    const ToolResult negative = RunConfig({"40571", "--target", "EPSG:32633", "-o", path});
    EXPECT_EQ(negative.status, 1);
    EXPECT_NE(negative.err.find("negative"), std::string::npos) << negative.err;

    for (const std::string sheet : {"40575", "33571", "46571", "40570", "40571-40579x"}) {
        SCOPED_TRACE(sheet);
        const ToolResult invalid = RunConfig({"40571", sheet, "-o", path});
        EXPECT_EQ(invalid.status, 1);
        EXPECT_NE(invalid.err.find(sheet), std::string::npos) << invalid.err;
    }
    // A grid too coarse to keep the boundary on its graticule would be
    // refused by --list, and so is never written; a cell larger than the
    // sheet's distance from X = 0 puts the grid's margin, not the sheet, at
    // negative coordinates. Both name the sheet, also under --zones.
    const ToolResult coarse = RunConfig({"--zones", "40", "--columns", "57", "--cell", "100000", "-o", path});
    EXPECT_EQ(coarse.status, 1);
    EXPECT_NE(coarse.err.find("sheet 40571: with a grid cell of 100000 m, the boundary does not follow the "
                              "sheet's graticule (a vertex lies 84.6 m off it)"),
              std::string::npos)
        << coarse.err;
    const ToolResult huge = RunConfig({"--zones", "40", "--columns", "57", "--cell", "600000", "-o", path});
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("sheet 40571: the grid's margin of one cell (600000 m)"), std::string::npos)
        << huge.err;
    EXPECT_EQ(huge.err.find("sheet lies at negative"), std::string::npos) << huge.err;
    EXPECT_EQ(test::ReadFileBytes(path), "previous content");
    EXPECT_EQ(DirectoryEntries(m_dir.Path()), before);

    const ToolResult unwritable = RunConfig({"40571", "-o", m_dir.File("missing/config.bin")});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
    EXPECT_EQ(DirectoryEntries(m_dir.Path()), before);
}

TEST_F(ConfigToolTest, CommandLineMistakesAreUsageErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--cell", "0", "40571"}, {"--cell", "5x", "40571"}, {"--frobnicate", "40571"},
             {"40571", "-o"}, {"--zones", "40"}, {"--list", "a.bin", "40571"}}) {
        const ToolResult r = RunConfig(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(RunConfig({"--help"}).status, 0);
}

TEST(SheetSelection, RangesTakeTheValidNumbersAndCellsTakeAllFourSections) {
    EXPECT_EQ(ParseSheetArgument("40571"), (std::vector<int>{40571}));
    EXPECT_EQ(ParseSheetArgument("40573-40582"), (std::vector<int>{40573, 40574, 40581, 40582}));
    EXPECT_THROW(ParseSheetArgument("40582-40571"), Failure);
    EXPECT_THROW(ParseSheetArgument("40570-40574"), Failure);
    EXPECT_THROW(ParseSheetArgument("-40571"), Failure);
    EXPECT_EQ(SheetsOfCells(40, 41, 57, 57),
              (std::vector<int>{40571, 40572, 40573, 40574, 41571, 41572, 41573, 41574}));
    EXPECT_THROW(SheetsOfCells(33, 34, 0, 1), Failure);

    test::TempDir dir;
    const ToolResult r = RunConfig({"--zones", "40", "--columns", "57-58", "40571", "-o", dir.File("c.bin"),
                                    "--cell", "2000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("8 sheets"), std::string::npos) << r.out;  // 40571 only once
}

TEST_F(ConfigToolTest, ListReportsDamagedFilesAndGridsThatMissTheBoundary) {
    const std::string damaged = m_dir.File("damaged.bin");
    for (const test::NamedBytes& broken : test::BrokenSheetConfigs(40571)) {
        SCOPED_TRACE(broken.name);
        test::WriteFileBytes(damaged, broken.bytes);
        const ToolResult r = RunConfig({"--list", damaged});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    }
    EXPECT_EQ(RunConfig({"--list", m_dir.File("absent.bin")}).status, 1);

    // Entries that read without error but would not serve a run: the grid of
    // the neighbouring sheet, a grid that stops short of the boundary, a
    // repeated entry, and a sound boundary and grid filed under another
    // sheet's number.
    const transform::SheetRecord west = BuildSheetRecord(40571, 1000, m_proj);
    const transform::SheetRecord east = BuildSheetRecord(40572, 1000, m_proj);
    const transform::BoundingBox box = transform::BoundingBoxOf(west.boundary);
    test::ConfigFileBuilder builder;
    builder.AddEntry(40571, builder.AddBoundary(west.boundary), builder.AddGrid(east.grid));
    const transform::BoundingBox shrunk{box.minX + 3000, box.maxX - 3000, box.minY + 3000, box.maxY - 3000};
    const transform::TransformGrid small = test::AnalyticGrid(shrunk, 0.0, 1000, [&](double X, double Y) {
        return m_proj.GraticuleFromOutput(X, Y);
    });
    builder.AddEntry(40572, builder.AddBoundary(west.boundary), builder.AddGrid(small));
    builder.AddEntry(40571, builder.AddBoundary(west.boundary), builder.AddGrid(west.grid));
    builder.AddEntry(40573, builder.AddBoundary(west.boundary), builder.AddGrid(west.grid));
    const std::string path = m_dir.File("mixed.bin");
    builder.Write(path);

    const ToolResult r = RunConfig({"--list", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("sheet 40571: the grid"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sheet 40572: the grid"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("40571  repeated entry"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("sheet 40573: the boundary does not follow"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("4 of 4 entries"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace georef::tools
