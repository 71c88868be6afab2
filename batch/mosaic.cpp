#include "batch/mosaic.hpp"

#include <gdal.h>
#include <gdal_priv.h>
#include <ogr_srs_api.h>
#include <vrtdataset.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <vector>

#include "batch/journal.hpp"
#include "gdal_support/dataset_handle.hpp"
#include "gdal_support/quiet_errors.hpp"
#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"

namespace georef::batch {

std::vector<TileName> ListTiles(const std::string& directory) {
    static const std::regex pattern("(-?[0-9]+)_(-?[0-9]+)\\.jpg");
    std::vector<TileName> tiles;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::smatch match;
        if (!std::regex_match(name, match, pattern) || !it->is_regular_file(error)) {
            continue;
        }
        tiles.push_back(TileName{std::stoi(match[1]), std::stoi(match[2]), name});
    }
    std::sort(tiles.begin(), tiles.end(), [](const TileName& a, const TileName& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    return tiles;
}

int WriteMosaic(const std::string& outputDirectory, int tileSize) {
    const std::optional<platform::RegionLock> lock = LockBatchFiles(outputDirectory);
    const std::vector<TileName> tiles = ListTiles(outputDirectory);
    if (tiles.empty()) {
        return 0;
    }
    int firstRow = tiles.front().row;
    int lastRow = tiles.front().row;
    int firstColumn = tiles.front().column;
    int lastColumn = tiles.front().column;
    for (const TileName& tile : tiles) {
        firstRow = std::min(firstRow, tile.row);
        lastRow = std::max(lastRow, tile.row);
        firstColumn = std::min(firstColumn, tile.column);
        lastColumn = std::max(lastColumn, tile.column);
    }
    const std::int64_t width = static_cast<std::int64_t>(lastColumn - firstColumn + 1) * tileSize;
    const std::int64_t height = static_cast<std::int64_t>(lastRow - firstRow + 1) * tileSize;
    if (width > 0x7fffffff || height > 0x7fffffff) {
        throw std::runtime_error("the tiles span more than a raster can hold");
    }

    gdal_support::RegisterDrivers();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("VRT");
    if (driver == nullptr) {
        throw std::runtime_error("GDAL has no VRT driver");
    }
    const std::string target = platform::JoinPath(outputDirectory, kMosaicFile);
    // What a killed batch left of an earlier mosaic goes: under the lock no one is writing one.
    platform::RemoveStaleTemporaries(target, lock.has_value());
    platform::AtomicFile file(target, platform::AtomicFile::Access::byName);
    const std::string& temporary = file.TemporaryName();
    {
        const gdal_support::DatasetHandle handle(GDALDataset::ToHandle(driver->Create(
            temporary.c_str(), static_cast<int>(width), static_cast<int>(height), 0, GDT_Byte, nullptr)));
        if (!handle) {
            throw std::runtime_error("GDAL cannot create " + temporary + ": " + gdal_support::LastMessage(""));
        }
        GDALDataset* mosaic = GDALDataset::FromHandle(handle.get());
        // Output frame: easting = -Y, northing = -X. The mosaic's west edge is
        // the west edge of the westernmost tile column (largest tileY), its
        // north edge the top edge of the northernmost tile row (smallest tileX).
        const double pixel = 10000.0 / tileSize;
        std::array<double, 6> transform = {-(lastColumn + 1) * 10000.0, pixel, 0.0, -firstRow * 10000.0, 0.0,
                                           -pixel};
        mosaic->SetGeoTransform(transform.data());
        OGRSpatialReference frame;
        frame.importFromEPSG(5514);
        mosaic->SetSpatialRef(&frame);
        const std::array<GDALColorInterp, 3> colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
        for (int band = 1; band <= 3; ++band) {
            mosaic->AddBand(GDT_Byte, nullptr);
            auto* vrtBand = static_cast<VRTSourcedRasterBand*>(mosaic->GetRasterBand(band));
            vrtBand->SetColorInterpretation(colours[static_cast<std::size_t>(band - 1)]);
            for (const TileName& tile : tiles) {
                const double column = static_cast<double>(lastColumn - tile.column) * tileSize;
                const double row = static_cast<double>(tile.row - firstRow) * tileSize;
                vrtBand->AddSimpleSource(platform::JoinPath(outputDirectory, tile.file).c_str(), band, 0, 0,
                                         tileSize, tileSize, column, row, tileSize, tileSize);
            }
        }
        // The mask says where tiles are: 255 over every tile (its first band
        // scaled by 0 and offset by 255), 0 elsewhere, so GDAL and QGIS show
        // places without a tile as empty rather than black.
        if (mosaic->CreateMaskBand(GMF_PER_DATASET) != CE_None) {
            throw std::runtime_error("GDAL cannot add a mask to " + temporary + ": " + gdal_support::LastMessage(""));
        }
        auto* mask = static_cast<VRTSourcedRasterBand*>(mosaic->GetRasterBand(1)->GetMaskBand());
        for (const TileName& tile : tiles) {
            const double column = static_cast<double>(lastColumn - tile.column) * tileSize;
            const double row = static_cast<double>(tile.row - firstRow) * tileSize;
            mask->AddComplexSource(platform::JoinPath(outputDirectory, tile.file).c_str(), 1, 0, 0, tileSize,
                                   tileSize, column, row, tileSize, tileSize, 255.0, 0.0);
        }
    }  // closing writes the file
    const std::optional<std::int64_t> written = platform::FileSize(temporary);
    if (!written || *written == 0) {
        throw std::runtime_error("GDAL cannot write " + temporary + ": " + gdal_support::LastMessage(""));
    }
    file.Commit();
    return static_cast<int>(tiles.size());
}

}  // namespace georef::batch
