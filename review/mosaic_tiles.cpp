#include "review/mosaic_tiles.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <cpl_minixml.h>

#include "gdal_support/quiet_errors.hpp"
#include "platform/file_system.hpp"

namespace georef::review {

namespace {

struct XmlTree {
    CPLXMLNode* root = nullptr;
    explicit XmlTree(const std::string& path) : root(CPLParseXMLFile(path.c_str())) {}
    XmlTree(const XmlTree&) = delete;
    XmlTree& operator=(const XmlTree&) = delete;
    ~XmlTree() {
        if (root != nullptr) {
            CPLDestroyXMLNode(root);
        }
    }
};

int Whole(const CPLXMLNode* node, const char* path) { return std::atoi(CPLGetXMLValue(node, path, "-1")); }

}  // namespace

std::vector<MosaicTile> WholeTiles(const std::string& vrtPath, int bands) {
    gdal_support::QuietErrors quiet;
    const XmlTree tree(vrtPath);
    const CPLXMLNode* dataset = tree.root == nullptr ? nullptr : CPLGetXMLNode(tree.root, "=VRTDataset");
    if (dataset == nullptr || bands != 3) {
        return {};
    }
    const std::string directory = std::filesystem::path(vrtPath).parent_path().string();
    std::vector<std::vector<MosaicTile>> perBand;
    for (const CPLXMLNode* band = dataset->psChild; band != nullptr; band = band->psNext) {
        if (band->eType != CXT_Element || std::string(band->pszValue) != "VRTRasterBand") {
            continue;
        }
        const int number = Whole(band, "band");
        if (number != static_cast<int>(perBand.size()) + 1) {
            return {};
        }
        std::vector<MosaicTile> sources;
        for (const CPLXMLNode* node = band->psChild; node != nullptr; node = node->psNext) {
            if (node->eType != CXT_Element) {
                continue;
            }
            const std::string kind = node->pszValue;
            if (kind.find("Source") == std::string::npos) {
                continue;
            }
            MosaicTile tile;
            const std::string file = CPLGetXMLValue(node, "SourceFilename", "");
            const bool relative = std::string(CPLGetXMLValue(node, "SourceFilename.relativeToVRT", "0")) == "1";
            tile.path = relative ? platform::JoinPath(directory, file) : file;
            tile.x = Whole(node, "DstRect.xOff");
            tile.y = Whole(node, "DstRect.yOff");
            tile.width = Whole(node, "DstRect.xSize");
            tile.height = Whole(node, "DstRect.ySize");
            const bool whole = kind == "SimpleSource" && Whole(node, "SourceBand") == number &&
                               Whole(node, "SrcRect.xOff") == 0 && Whole(node, "SrcRect.yOff") == 0 &&
                               Whole(node, "SrcRect.xSize") == tile.width &&
                               Whole(node, "SrcRect.ySize") == tile.height && tile.x >= 0 && tile.y >= 0 &&
                               tile.width > 0 && tile.height > 0 && !file.empty();
            if (!whole) {
                return {};
            }
            sources.push_back(tile);
        }
        if (!perBand.empty()) {
            const std::vector<MosaicTile>& first = perBand.front();
            const bool same = std::equal(first.begin(), first.end(), sources.begin(), sources.end(),
                                         [](const MosaicTile& a, const MosaicTile& b) {
                                             return a.path == b.path && a.x == b.x && a.y == b.y &&
                                                    a.width == b.width && a.height == b.height;
                                         });
            if (!same) {
                return {};
            }
        }
        perBand.push_back(std::move(sources));
    }
    return perBand.size() == 3 ? perBand.front() : std::vector<MosaicTile>{};
}

}  // namespace georef::review
