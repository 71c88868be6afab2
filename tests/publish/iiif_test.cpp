// The IIIF Georeference Annotations: their shape against the extension's
// published examples, the corners exactly those of the corner file in the
// IIIF pixel frame, and every control point where PROJ itself puts it.

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "geometry/corner_fit.hpp"
#include "geometry/sheet_geometry.hpp"
#include "publish/iiif_annotation.hpp"
#include "publish/published_sheets.hpp"
#include "published_area.hpp"
#include "support/in_process.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "tiling/pixel_chain.hpp"
#include "tools/publish_tool.hpp"

namespace georef::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

ToolResult Publish(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"georef-publish"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunInProcess([](int argc, const char* const* v, std::ostream& out, std::ostream& err) {
        return tools::RunPublishTool(argc, v, out, err);
    }, argv);
}

json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return json::parse(in);
}

geometry::CornerPoints Corners(const std::string& path) {
    std::ifstream in(path);
    return *geometry::ReadCornerPoints(in);
}

// PROJ's own answer, from its command-line program: graticule (EPSG:4805,
// latitude first) to EPSG:5514, then to WGS 84.
std::vector<std::pair<double, double>> ProjLonLat(const std::vector<std::pair<double, double>>& graticule,
                                                  const std::string& directory) {
    std::ostringstream points;
    points.precision(15);
    for (const auto& [lon, lat] : graticule) {
        points << lat << ' ' << lon << '\n';
    }
    std::ofstream(directory + "/graticule.txt") << points.str();
    const ProcessResult krovak = RunProcess(
        "/bin/sh", {"-c", "cs2cs -d 6 EPSG:4805 EPSG:5514 graticule.txt | cut -f1-2 | tr '\\t' ' ' > krovak.txt"},
        directory);
    EXPECT_EQ(krovak.exitStatus, 0) << krovak.err;
    const ProcessResult wgs84 =
        RunProcess("/bin/sh", {"-c", "cs2cs -d 10 EPSG:5514 EPSG:4326 krovak.txt"}, directory);
    EXPECT_EQ(wgs84.exitStatus, 0) << wgs84.err;
    std::istringstream lines(wgs84.out);
    std::vector<std::pair<double, double>> result;
    double lat = 0.0;
    double lon = 0.0;
    std::string rest;
    while (lines >> lat >> lon && std::getline(lines, rest)) {
        result.emplace_back(lon, lat);
    }
    return result;
}

double GroundMetres(double lon1, double lat1, double lon2, double lat2) {
    const double metresPerDegree = 6371000.0 * M_PI / 180.0;
    const double dx = (lon2 - lon1) * metresPerDegree * std::cos(lat1 * M_PI / 180.0);
    const double dy = (lat2 - lat1) * metresPerDegree;
    return std::hypot(dx, dy);
}

TEST(IiifAnnotations, ShapeCornersAndControlPointsOfEverySheet) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    const ToolResult result = Publish({area.tiles, "--iiif", dir.File("iiif"), "--iiif-base",
                                       "https://iiif.example.org/iiif/3/"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("IIIF: 2 annotations"), std::string::npos) << result.out;

    const json page = ReadJson(dir.File("iiif/annotations.json"));
    EXPECT_EQ(page["type"], "AnnotationPage");
    ASSERT_EQ(page["items"].size(), 2u);
    double worstMetres = 0.0;
    for (const char* sheetText : {"40571", "40572"}) {
        const int sheet = std::stoi(sheetText);
        const json a = ReadJson(dir.File(std::string("iiif/") + sheetText + ".json"));
        EXPECT_TRUE(a == page["items"][sheet == 40571 ? 0 : 1]);
        // The shape of the extension's examples.
        EXPECT_EQ(a["@context"], json({"http://iiif.io/api/extension/georef/1/context.json",
                                       "http://iiif.io/api/presentation/3/context.json"}));
        EXPECT_EQ(a["type"], "Annotation");
        EXPECT_EQ(a["motivation"], "georeferencing");
        EXPECT_EQ(a["target"]["type"], "SpecificResource");
        const json& source = a["target"]["source"];
        EXPECT_EQ(source["id"], std::string("https://iiif.example.org/iiif/3/scan-") + sheetText + ".tif");
        EXPECT_EQ(source["type"], "ImageService3");
        GDALAllRegister();
        const std::unique_ptr<GDALDataset> scan(
            GDALDataset::Open((area.directory + "/scan-" + sheetText + ".tif").c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(scan);
        const int width = scan->GetRasterXSize();
        const int height = scan->GetRasterYSize();
        EXPECT_EQ(source["width"], width);
        EXPECT_EQ(source["height"], height);
        EXPECT_EQ(a["target"]["selector"]["type"], "SvgSelector");
        const std::string svg = a["target"]["selector"]["value"];
        EXPECT_EQ(svg.rfind("<svg width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
                                "\"><polygon points=\"",
                            0),
                  0u)
            << svg;
        const json& body = a["body"];
        EXPECT_EQ(body["type"], "FeatureCollection");
        EXPECT_EQ(body["transformation"], json({{"type", "polynomial"}, {"options", {{"order", 1}}}}));
        const json& features = body["features"];
        ASSERT_EQ(features.size(), 4u * (1u + publish::kPointsPerSide));

        // Corners: the corner file's points, in the IIIF frame (pixel centre
        // of the sampled position + 0.5, rows from the top).
        const geometry::CornerPoints corners = Corners(area.directory + "/corners-" + sheetText + ".txt");
        for (int k = 0; k < 4; ++k) {
            const json& feature = features[static_cast<std::size_t>(k * (1 + publish::kPointsPerSide))];
            const tiling::PlanePosition plane =
                tiling::PlaneFromImage(corners[k].x, corners[k].y, height);
            EXPECT_NEAR(feature["properties"]["resourceCoords"][0].get<double>(), plane.u + 0.5, 5e-4) << k;
            EXPECT_NEAR(feature["properties"]["resourceCoords"][1].get<double>(), plane.v + 0.5, 5e-4) << k;
            EXPECT_EQ(feature["type"], "Feature");
            EXPECT_EQ(feature["geometry"]["type"], "Point");
        }

        // Ground: the graticule points of the sheet's sides, through PROJ.
        const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheet);
        const double lon[4] = {g.lonWest, g.lonWest, g.lonEast, g.lonEast};
        const double lat[4] = {g.latSouth, g.latNorth, g.latNorth, g.latSouth};
        std::vector<std::pair<double, double>> graticule;
        for (int side = 0; side < 4; ++side) {
            for (int step = 0; step <= publish::kPointsPerSide; ++step) {
                const double f = static_cast<double>(step) / (publish::kPointsPerSide + 1);
                graticule.emplace_back(lon[side] + f * (lon[(side + 1) % 4] - lon[side]),
                                       lat[side] + f * (lat[(side + 1) % 4] - lat[side]));
            }
        }
        const std::vector<std::pair<double, double>> expected = ProjLonLat(graticule, dir.Path());
        ASSERT_EQ(expected.size(), features.size());
        for (std::size_t k = 0; k < features.size(); ++k) {
            const json& c = features[k]["geometry"]["coordinates"];
            const double metres = GroundMetres(c[0], c[1], expected[k].first, expected[k].second);
            EXPECT_LT(metres, 1.0) << sheetText << " point " << k;
            worstMetres = std::max(worstMetres, metres);
        }
    }
    RecordProperty("worst_control_point_metres_from_proj", std::to_string(worstMetres));
}

TEST(IiifAnnotations, ASheetWithoutItsScanIsLeftOutAndNamed) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    CopyTiles(area, dir.File("out"));
    // The copy's summary names files relative to a parent that has none.
    const ToolResult result =
        Publish({dir.File("out"), "--iiif", dir.File("iiif"), "--iiif-base", "https://iiif.example.org/iiif"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("sheet 40571: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("corners-40571.txt"), std::string::npos) << result.err;
    // The page is still written, holding the sheets that could be annotated.
    EXPECT_EQ(ReadJson(dir.File("iiif/annotations.json"))["items"].size(), 0u);
}

TEST(IiifAnnotations, WithoutAJournalThereIsNothingToAnnotate) {
    TempDir dir;
    EXPECT_THROW(publish::ReadPublishedSheets(dir.Path()), std::runtime_error);
    // The shared area's journal: the failed sheet is left out.
    const std::vector<publish::PublishedSheet> sheets = publish::ReadPublishedSheets(SharedArea().tiles);
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].sheet, 40571);
    EXPECT_EQ(sheets[1].sheet, 40572);
    EXPECT_EQ(sheets[0].scan, SharedArea().directory + "/scan-40571.tif");
}

}  // namespace
}  // namespace georef::test
