#include "publish/source_area.hpp"

#include <sys/stat.h>

#include "platform/file_system.hpp"
#include "publish/gdal_dataset.hpp"
#include "publish/publish_error.hpp"

namespace georef::publish {

namespace {

// Pixels along the side of a square tile; throws PublishError otherwise.
int TileSizeOf(const std::string& path) {
    QuietGdal quiet;
    const Dataset tile = OpenRaster(path);
    if (!tile) {
        throw PublishError("cannot read the tile " + path + GdalReason());
    }
    const int width = GDALGetRasterXSize(tile.get());
    const int height = GDALGetRasterYSize(tile.get());
    if (width != height || width < 1 || GDALGetRasterCount(tile.get()) < 3) {
        throw PublishError("the tile " + path + " is not a square RGB image (" + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels)");
    }
    return width;
}

}  // namespace

SourceArea OpenSourceArea(const std::string& outputDirectory) {
    if (!platform::IsDirectory(outputDirectory)) {
        throw PublishError("no output directory " + outputDirectory);
    }
    SourceArea area;
    area.directory = outputDirectory;
    for (const batch::TileName& name : batch::ListTiles(outputDirectory)) {
        const std::string path = platform::JoinPath(outputDirectory, name.file);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            continue;  // gone since it was listed
        }
        SourceTile tile;
        tile.name = name;
        tile.bytes = static_cast<std::int64_t>(info.st_size);
        tile.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        area.tiles.push_back(tile);
    }
    if (area.tiles.empty()) {
        throw PublishError(outputDirectory +
                           " holds no tiles (ROW_COLUMN.jpg): run georef or georef-batch into it first");
    }
    area.tileSize = TileSizeOf(platform::JoinPath(outputDirectory, area.tiles.front().name.file));
    for (const SourceTile& tile : area.tiles) {
        const std::string path = platform::JoinPath(outputDirectory, tile.name.file);
        const int size = TileSizeOf(path);
        if (size != area.tileSize) {
            throw PublishError("the tiles of " + outputDirectory + " differ in size: " + tile.name.file + " has " +
                               std::to_string(size) + " pixels, " + area.tiles.front().name.file + " " +
                               std::to_string(area.tileSize) + " (made at another dpi?)");
        }
    }
    try {
        batch::WriteMosaic(outputDirectory, area.tileSize);
    } catch (const std::exception& error) {
        throw PublishError(error.what());
    }
    area.mosaicPath = platform::JoinPath(outputDirectory, batch::kMosaicFile);
    return area;
}

}  // namespace georef::publish
