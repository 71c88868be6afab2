#include "support/review/sample_batch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gdal.h>
#include <gdal_utils.h>

#include "gdal_support/dataset_handle.hpp"
#include "geometry/corner_fit_report.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "synthesis/demo_scan.hpp"
#include "tools/config_tool.hpp"

namespace georef::test {

namespace fs = std::filesystem;

namespace {

constexpr double kScanDpi = 100.0;
constexpr int kTileDpi = 60;  // tiles of 944 pixels, 10.6 m each

using Dataset = gdal_support::DatasetHandle;
GDALDatasetH H(const Dataset& d) { return d.get(); }

void BuildMosaic(const std::string& vrtPath, const std::string& tileDirectory) {
    std::vector<std::string> tiles;
    for (const fs::directory_entry& e : fs::directory_iterator(tileDirectory)) {
        if (e.path().extension() == ".jpg") {
            tiles.push_back(e.path().string());
        }
    }
    std::sort(tiles.begin(), tiles.end());
    ASSERT_FALSE(tiles.empty());
    std::vector<const char*> names;
    for (const std::string& t : tiles) {
        names.push_back(t.c_str());
    }
    const char* args[] = {"-a_srs", "EPSG:5514", "-vrtnodata", "255 255 255", nullptr};
    GDALBuildVRTOptions* options = GDALBuildVRTOptionsNew(const_cast<char**>(args), nullptr);
    int usageError = 0;
    Dataset vrt(GDALBuildVRT(vrtPath.c_str(), static_cast<int>(names.size()), nullptr, names.data(), options,
                             &usageError));
    GDALBuildVRTOptionsFree(options);
    ASSERT_TRUE(vrt) << CPLGetLastErrorMsg();
}

}  // namespace

SampleBatch MakeSampleBatch(const std::string& directory, const std::vector<int>& doneSheets,
                            const std::vector<int>& failingSheets, const std::vector<int>& otherSheets) {
    GDALAllRegister();
    SampleBatch batch;
    batch.directory = directory;
    batch.configPath = directory + "/config.bin";
    batch.mosaicPath = directory + "/mosaic.vrt";
    fs::create_directories(directory + "/tiles");
    fs::create_directories(directory + "/pictures");

    std::vector<std::string> configArgs = {"georef-config", "-o", batch.configPath};
    for (const int s : doneSheets) configArgs.push_back(std::to_string(s));
    for (const int s : failingSheets) configArgs.push_back(std::to_string(s));
    for (const int s : otherSheets) configArgs.push_back(std::to_string(s));
    std::vector<const char*> argv;
    for (const std::string& a : configArgs) argv.push_back(a.c_str());
    std::ostringstream out, err;
    EXPECT_EQ(tools::RunConfigTool(static_cast<int>(argv.size()), argv.data(), out, err), 0) << err.str();

    double rotation = 0.5;
    for (const int sheet : doneSheets) {
        const std::string name = std::to_string(sheet);
        synthesis::DemoScanOptions options;
        options.dpi = kScanDpi;
        options.rotationDegrees = rotation;
        rotation = -rotation * 1.3;
        const std::string scan = directory + "/scan-" + name + ".tif";
        const synthesis::DemoScan drawn = synthesis::WriteDemoScan(sheet, scan, options);
        geometry::WriteCornerFile(directory + "/corners-" + name + ".txt", drawn.corners,
                                  geometry::CornerPrecision::exact);
        const ProcessResult run = RunGeoref(
            {name, "corners-" + name + ".txt", "scan-" + name + ".tif", "tiles", std::to_string(kTileDpi)}, directory);
        EXPECT_EQ(run.exitStatus, 0) << run.out.substr(0, 2000) << run.err;

        const geometry::CornerFitReport fit = geometry::AnalyseCornerFit(drawn.corners, sheet);
        batch::SheetResult result;
        result.sheet = name;
        result.status = batch::SheetStatus::done;
        result.corners = batch::CornerFigures{fit.rmsMetres, fit.WorstMetres(), fit.dpi, fit.rotationDegrees};
        result.seconds = 1.5;
        int tiles = 0;
        for (std::string::size_type at = run.out.find("zapisuji"); at != std::string::npos;
             at = run.out.find("zapisuji", at + 1)) {
            ++tiles;
        }
        result.tilesWritten = tiles;
        result.cornerPicture = directory + "/pictures/" + name + ".png";
        WriteCornerPicture(scan, drawn.corners, result.cornerPicture);
        batch.sheets.push_back(result);
    }
    for (const int sheet : failingSheets) {
        const std::string name = std::to_string(sheet);
        // The first has a corner file georef refuses, the others have none.
        if (sheet == failingSheets.front()) {
            WriteFileBytes(directory + "/corners-" + name + ".txt", "1 412.5 377.0\n2 398.0\n");
        }
        const ProcessResult run =
            RunGeoref({name, "corners-" + name + ".txt", "scan-" + name + ".tif", "tiles", std::to_string(kTileDpi)},
                      directory);
        EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
        batch::SheetResult result;
        result.sheet = name;
        result.status = batch::SheetStatus::failed;
        result.message = run.out.substr(0, run.out.find('\n'));
        result.seconds = 0.1;
        batch.sheets.push_back(result);
    }
    BuildMosaic(batch.mosaicPath, directory + "/tiles");
    return batch;
}

std::string WriteRepeatedMosaic(const std::string& vrtPath, const std::string& tileDirectory, double west,
                                double north, int tilesEast, int tilesSouth) {
    std::vector<std::string> tiles;
    for (const fs::directory_entry& e : fs::directory_iterator(tileDirectory)) {
        if (e.path().extension() == ".jpg") {
            tiles.push_back(fs::absolute(e.path()).string());
        }
    }
    std::sort(tiles.begin(), tiles.end());
    EXPECT_FALSE(tiles.empty());
    GDALAllRegister();
    const Dataset first(GDALOpen(tiles.at(0).c_str(), GA_ReadOnly));
    EXPECT_TRUE(first);
    const int edge = GDALGetRasterXSize(H(first));  // pixels per 10 km
    const double pixel = 10000.0 / edge;
    std::ostringstream xml;
    xml.precision(17);
    xml << "<VRTDataset rasterXSize=\"" << edge * tilesEast << "\" rasterYSize=\"" << edge * tilesSouth << "\">\n"
        << "<GeoTransform>" << west << ", " << pixel << ", 0, " << north << ", 0, " << -pixel << "</GeoTransform>\n";
    for (int band = 1; band <= 3; ++band) {
        xml << "<VRTRasterBand dataType=\"Byte\" band=\"" << band << "\"><NoDataValue>255</NoDataValue>\n";
        std::size_t next = 0;
        for (int row = 0; row < tilesSouth; ++row) {
            for (int column = 0; column < tilesEast; ++column) {
                xml << "<SimpleSource><SourceFilename relativeToVRT=\"0\">" << tiles[next++ % tiles.size()]
                    << "</SourceFilename><SourceBand>" << band << "</SourceBand>"
                    << "<SourceProperties RasterXSize=\"" << edge << "\" RasterYSize=\"" << edge
                    << "\" DataType=\"Byte\" BlockXSize=\"" << edge << "\" BlockYSize=\"1\"/>"
                    << "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"" << edge << "\" ySize=\"" << edge << "\"/>"
                    << "<DstRect xOff=\"" << column * edge << "\" yOff=\"" << row * edge << "\" xSize=\"" << edge
                    << "\" ySize=\"" << edge << "\"/></SimpleSource>\n";
            }
        }
        xml << "</VRTRasterBand>\n";
    }
    xml << "</VRTDataset>\n";
    WriteFileBytes(vrtPath, xml.str());
    return vrtPath;
}

void WriteCornerPicture(const std::string& scanPath, const geometry::CornerPoints& corners,
                        const std::string& pngPath, int insetPixels) {
    GDALAllRegister();
    const Dataset scan(GDALOpen(scanPath.c_str(), GA_ReadOnly));
    ASSERT_TRUE(scan) << scanPath;
    const int width = GDALGetRasterXSize(H(scan));
    const int height = GDALGetRasterYSize(H(scan));
    const int size = 2 * insetPixels;
    std::vector<unsigned char> picture(static_cast<std::size_t>(size) * size * 3, 255);
    // Insets in the picture: LH top left, PH top right, LD bottom left, PD bottom right.
    const int place[4][2] = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};  // column, row of LD, LH, PH, PD
    for (int k = 0; k < 4; ++k) {
        const int column = static_cast<int>(corners[static_cast<std::size_t>(k)].x + 0.5);
        const int row = static_cast<int>(height - corners[static_cast<std::size_t>(k)].y - 1.5);
        const int x0 = std::clamp(column - insetPixels / 2, 0, width - insetPixels);
        const int y0 = std::clamp(row - insetPixels / 2, 0, height - insetPixels);
        std::vector<unsigned char> inset(static_cast<std::size_t>(insetPixels) * insetPixels * 3);
        ASSERT_EQ(GDALDatasetRasterIO(H(scan), GF_Read, x0, y0, insetPixels, insetPixels, inset.data(), insetPixels,
                                      insetPixels, GDT_Byte, 3, nullptr, 3, insetPixels * 3, 1),
                  CE_None);
        for (int i = 0; i < insetPixels; ++i) {
            for (int m = 0; m < insetPixels; ++m) {
                unsigned char* to = &picture[((static_cast<std::size_t>(place[k][1]) * insetPixels + i) * size +
                                              static_cast<std::size_t>(place[k][0]) * insetPixels + m) * 3];
                const unsigned char* from = &inset[(static_cast<std::size_t>(i) * insetPixels + m) * 3];
                const bool cross = (i == row - y0 || m == column - x0);
                to[0] = cross ? 255 : from[0];
                to[1] = cross ? 0 : from[1];
                to[2] = cross ? 255 : from[2];
            }
        }
    }
    const Dataset mem(GDALCreate(GDALGetDriverByName("MEM"), "", size, size, 3, GDT_Byte, nullptr));
    ASSERT_EQ(GDALDatasetRasterIO(H(mem), GF_Write, 0, 0, size, size, picture.data(), size, size, GDT_Byte, 3,
                                  nullptr, 3, size * 3, 1),
              CE_None);
    const Dataset png(GDALCreateCopy(GDALGetDriverByName("PNG"), pngPath.c_str(), H(mem), FALSE, nullptr, nullptr,
                                     nullptr));
    ASSERT_TRUE(png) << pngPath;
}

}  // namespace georef::test
