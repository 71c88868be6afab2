// The web tiles: their zooms, their pixels against GDAL's own warp of the
// mosaic, the edge tiles, the averaged coarser zooms, and the second run
// that redoes only what changed (and gives the same tiles as a full run).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "publish/area_footprint.hpp"
#include "publish/image_encoding.hpp"
#include "publish/source_area.hpp"
#include "publish/web_mercator.hpp"
#include "publish/xyz_pyramid.hpp"
#include "published_area.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace georef::test {
namespace {

namespace fs = std::filesystem;
using publish::XyzReport;

std::map<std::string, std::string> FilesUnder(const std::string& directory) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
        const std::string relative = fs::relative(entry.path(), directory).string();
        if (entry.is_regular_file() && relative.rfind(".publish", 0) != 0) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files[relative] = bytes.str();
        }
    }
    return files;
}

batch::TileName NameOf(const std::string& path) {
    batch::TileName name;
    std::sscanf(fs::path(path).filename().c_str(), "%d_%d.jpg", &name.row, &name.column);
    return name;
}

XyzReport Tiles(const std::string& outdir, const std::string& xyz, bool incremental = true) {
    const publish::SourceArea area = publish::OpenSourceArea(outdir);
    const publish::AreaFootprint footprint = publish::FootprintOf(area);
    publish::XyzOptions options;
    options.jobs = 2;
    options.incremental = incremental;
    return publish::WriteWebTiles(area, footprint, xyz, options);
}

// The pyramid of the shared area, made once for the tests that only read it.
struct SharedPyramid {
    std::string directory;
    XyzReport report;
};
const SharedPyramid& Pyramid() {
    static std::unique_ptr<TempDir> dir;
    static SharedPyramid pyramid;
    if (!dir) {
        dir = std::make_unique<TempDir>();
        pyramid.directory = dir->File("web");
        pyramid.report = Tiles(SharedArea().tiles, pyramid.directory);
    }
    return pyramid;
}

TEST(WebTiles, FinestZoomIsTheFirstNoCoarserThanTheMosaicAndCoarsestHoldsTheArea) {
    const publish::SourceArea area = publish::OpenSourceArea(SharedArea().tiles);
    const publish::AreaFootprint footprint = publish::FootprintOf(area);
    const publish::ZoomRange zooms = publish::ChooseZooms(area, footprint);
    // 10.6 m pixels near 50 degrees north are about 16.5 m of Web Mercator.
    const double latitude = 0.5 * (footprint.lonLat.south + footprint.lonLat.north) * M_PI / 180.0;
    const double mosaicPixel = area.PixelMetres() / std::cos(latitude);
    EXPECT_LE(publish::MercatorResolution(zooms.max), mosaicPixel * 1.01);
    EXPECT_GT(publish::MercatorResolution(zooms.max - 1), mosaicPixel * 0.99);
    const double span = std::max(footprint.whole.maxX - footprint.whole.minX, footprint.whole.maxY - footprint.whole.minY);
    EXPECT_GE(publish::MercatorTileMetres(zooms.min), span);
    EXPECT_LT(publish::MercatorTileMetres(zooms.min + 1), span);
}

// RGB of a raster file through GDAL, top row first.
std::vector<int> Rgb(const std::string& path) {
    int size = 0;
    const std::vector<std::uint8_t> rgba = publish::DecodeRgba(path, size);
    std::vector<int> rgb;
    for (std::size_t k = 0; k < rgba.size(); k += 4) {
        rgb.insert(rgb.end(), {rgba[k], rgba[k + 1], rgba[k + 2]});
    }
    return rgb;
}

TEST(WebTiles, AFullTileIsGdalwarpOfTheMosaicIntoItsExtentWithinJpegNoise) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    const XyzReport& report = Pyramid().report;
    // A tile of the finest zoom inside the area: a .jpg without a .png.
    std::string tile;
    for (const fs::directory_entry& entry :
         fs::recursive_directory_iterator(Pyramid().directory + "/" + std::to_string(report.zooms.max))) {
        if (entry.path().extension() == ".jpg" && !fs::exists(fs::path(entry.path()).replace_extension(".png"))) {
            tile = entry.path().string();
            break;
        }
    }
    ASSERT_FALSE(tile.empty());
    const long x = std::stol(fs::path(tile).parent_path().filename().string());
    const long y = std::stol(fs::path(tile).stem().string());
    const publish::MercatorBox box = publish::WebTileBox(report.zooms.max, x, y);
    std::ostringstream te;
    te.precision(17);
    te << box.minX << ' ' << box.minY << ' ' << box.maxX << ' ' << box.maxY;
    std::istringstream words(te.str());
    std::vector<std::string> args = {"-q", "-t_srs", "EPSG:3857", "-te"};
    for (std::string word; words >> word;) {
        args.push_back(word);
    }
    args.insert(args.end(), {"-ts", "256", "256", "-r", "bilinear", "-of", "GTiff", area.tiles + "/mosaic.vrt",
                             dir.File("reference.tif")});
    const ProcessResult warp = RunProcess("/usr/bin/gdalwarp", args, dir.Path());
    ASSERT_EQ(warp.exitStatus, 0) << warp.err;

    const std::vector<int> ours = Rgb(tile);
    const std::vector<int> reference = Rgb(dir.File("reference.tif"));
    ASSERT_EQ(ours.size(), reference.size());
    ASSERT_EQ(ours.size(), 256u * 256u * 3u);
    double sum = 0.0;
    int large = 0;
    for (std::size_t k = 0; k < ours.size(); ++k) {
        const int d = std::abs(ours[k] - reference[k]);
        sum += d;
        large += d > 40 ? 1 : 0;
    }
    const double mean = sum / static_cast<double>(ours.size());
    EXPECT_LT(mean, 3.0) << tile;
    EXPECT_LT(large, static_cast<int>(ours.size() / 200)) << tile;
    RecordProperty("mean_abs_difference_to_gdalwarp", std::to_string(mean));
}

TEST(WebTiles, EdgeTilesHaveATransparentPngAndCoarserTilesAverageTheirChildren) {
    const XyzReport& report = Pyramid().report;
    const auto file = [](const std::string& name) { return Pyramid().directory + "/" + name; };
    ASSERT_FALSE(report.edgeTiles.empty());
    for (const std::string& edge : report.edgeTiles) {
        int size = 0;
        const std::vector<std::uint8_t> rgba = publish::DecodeRgba(file("" + edge + ".png"), size);
        ASSERT_EQ(size, 256) << edge;
        bool transparent = false;
        bool opaque = false;
        for (std::size_t k = 3; k < rgba.size(); k += 4) {
            transparent = transparent || rgba[k] == 0;
            opaque = opaque || rgba[k] == 255;
        }
        EXPECT_TRUE(transparent && opaque) << edge;
        EXPECT_TRUE(fs::exists(file("" + edge + ".jpg"))) << edge;
    }
    // The coarsest zoom is one tile or a few, and the zoom below it has tiles.
    for (int zoom = report.zooms.min; zoom <= report.zooms.max; ++zoom) {
        EXPECT_TRUE(fs::is_directory(file("" + std::to_string(zoom)))) << zoom;
    }
    // A parent against its children, averaged here from their decoded files.
    const int zoom = report.zooms.max - 1;
    int compared = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(file("" + std::to_string(zoom)))) {
        if (entry.path().extension() != ".jpg" || fs::exists(fs::path(entry.path()).replace_extension(".png"))) {
            continue;
        }
        const long x = std::stol(entry.path().parent_path().filename().string());
        const long y = std::stol(entry.path().stem().string());
        std::vector<std::vector<int>> children;
        for (int k = 0; k < 4; ++k) {
            const std::string child = file("" + std::to_string(zoom + 1) + "/" +
                                               std::to_string(2 * x + k % 2) + "/" + std::to_string(2 * y + k / 2));
            children.push_back(Rgb(child + (fs::exists(child + ".png") ? ".png" : ".jpg")));
        }
        const std::vector<int> parent = Rgb(entry.path().string());
        double sum = 0.0;
        for (int row = 0; row < 256; ++row) {
            for (int column = 0; column < 256; ++column) {
                const std::vector<int>& child = children[(row / 128) * 2 + column / 128];
                const int r = 2 * (row % 128);
                const int c = 2 * (column % 128);
                for (int band = 0; band < 3; ++band) {
                    const auto at = [&](int dr, int dc) { return child[((r + dr) * 256 + c + dc) * 3 + band]; };
                    const double mean = (at(0, 0) + at(0, 1) + at(1, 0) + at(1, 1)) / 4.0;
                    sum += std::abs(mean - parent[(row * 256 + column) * 3 + band]);
                }
            }
        }
        EXPECT_LT(sum / (256.0 * 256.0 * 3.0), 3.0) << entry.path();
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST(WebTiles, ASecondRunRedoesOnlyWhatChangedAndMatchesAFullRun) {
    const PublishedArea& area = SharedArea();
    TempDir dir;
    CopyTiles(area, dir.File("out"));
    const XyzReport first = Tiles(dir.File("out"), dir.File("web"));
    EXPECT_FALSE(first.incremental);
    ASSERT_GT(first.tilesWritten, 0);

    const XyzReport unchanged = Tiles(dir.File("out"), dir.File("web"));
    EXPECT_TRUE(unchanged.incremental);
    EXPECT_EQ(unchanged.changedSourceTiles, 0);
    EXPECT_EQ(unchanged.tilesWritten, 0);

    // One source tile repainted (a band of another colour), one removed.
    std::vector<std::string> sources;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.File("out"))) {
        if (entry.path().extension() == ".jpg") {
            sources.push_back(entry.path().string());
        }
    }
    std::sort(sources.begin(), sources.end());
    ASSERT_GE(sources.size(), 3u);
    {
        int size = 0;
        std::vector<std::uint8_t> rgba = publish::DecodeRgba(sources[0], size);
        std::vector<std::uint8_t> rgb;
        for (std::size_t k = 0; k < rgba.size(); k += 4) {
            const bool band = (k / 4) % static_cast<std::size_t>(size) < static_cast<std::size_t>(size / 3);
            rgb.insert(rgb.end(), {band ? std::uint8_t{200} : rgba[k], rgba[k + 1], rgba[k + 2]});
        }
        const std::vector<std::uint8_t> jpeg = publish::EncodeJpeg(rgb.data(), size, size, 75);
        publish::WriteFileAtomically(sources[0], jpeg.data(), jpeg.size());
    }
    // Removed: a tile that leaves the mosaic's north-west corner where it is
    // (a moved corner redoes everything).
    int firstRow = 1 << 30;
    int lastColumn = -(1 << 30);
    for (const std::string& source : sources) {
        const batch::TileName name = NameOf(source);
        firstRow = std::min(firstRow, name.row);
        lastColumn = std::max(lastColumn, name.column);
    }
    const auto removable = std::find_if(sources.begin() + 1, sources.end(), [&](const std::string& source) {
        return NameOf(source).row != firstRow && NameOf(source).column != lastColumn;
    });
    ASSERT_NE(removable, sources.end());
    fs::remove(*removable);
    const XyzReport second = Tiles(dir.File("out"), dir.File("web"));
    EXPECT_TRUE(second.incremental);
    EXPECT_EQ(second.changedSourceTiles, 2);
    EXPECT_GT(second.tilesWritten, 0);
    EXPECT_LT(second.tilesWritten, first.tilesWritten / 2);
    EXPECT_GT(second.tilesRemoved, 0);

    // Byte for byte what a full run over the changed tiles writes.
    const XyzReport full = Tiles(dir.File("out"), dir.File("full"), false);
    EXPECT_FALSE(full.incremental);
    const std::map<std::string, std::string> incremental = FilesUnder(dir.File("web"));
    const std::map<std::string, std::string> fresh = FilesUnder(dir.File("full"));
    ASSERT_EQ(incremental.size(), fresh.size());
    for (const auto& [name, bytes] : fresh) {
        const auto other = incremental.find(name);
        ASSERT_NE(other, incremental.end()) << name;
        EXPECT_TRUE(other->second == bytes) << name;
    }
    EXPECT_EQ(second.edgeTiles, full.edgeTiles);
}

}  // namespace
}  // namespace georef::test
