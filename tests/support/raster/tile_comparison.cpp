#include "support/raster/tile_comparison.hpp"

#include <cstdlib>
#include <filesystem>
#include <map>

#include "support/raster/jpeg_file.hpp"

namespace georef::test {

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> TilesOf(const std::string& directory) {
    std::map<std::string, std::string> tiles;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().extension() == ".jpg") {
            tiles[entry.path().filename().string()] = entry.path().string();
        }
    }
    return tiles;
}

}  // namespace

TileComparison CompareTiles(const std::string& directoryA, const std::string& directoryB) {
    const std::map<std::string, std::string> a = TilesOf(directoryA);
    const std::map<std::string, std::string> b = TilesOf(directoryB);
    TileComparison comparison;
    for (const auto& [name, path] : a) {
        if (b.count(name) == 0) {
            comparison.onlyInOne.push_back(name);
            continue;
        }
        const JpegImage imageA = ReadJpeg(path);
        const JpegImage imageB = ReadJpeg(b.at(name));
        if (imageA.rgb.size() != imageB.rgb.size()) {
            comparison.onlyInOne.push_back(name + " (sizes differ)");
            continue;
        }
        ++comparison.tiles;
        comparison.identical += imageA.rgb == imageB.rgb ? 1 : 0;
        std::size_t differing = 0;
        for (std::size_t i = 0; i + 2 < imageA.rgb.size(); i += 3) {
            for (std::size_t c = 0; c < 3; ++c) {
                if (std::abs(imageA.rgb[i + c] - imageB.rgb[i + c]) > kDifferentLevels) {
                    ++differing;
                    break;
                }
            }
        }
        const double share = static_cast<double>(differing) / static_cast<double>(imageA.rgb.size() / 3);
        if (share >= comparison.worstShare) {
            comparison.worstShare = share;
            comparison.worstTile = name;
        }
    }
    for (const auto& [name, path] : b) {
        if (a.count(name) == 0) {
            comparison.onlyInOne.push_back(name);
        }
    }
    return comparison;
}

}  // namespace georef::test
