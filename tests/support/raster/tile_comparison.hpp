#pragma once
// How far two directories of tiles are apart. A tile pixel differs when one
// of its channels differs by more than kDifferentLevels: the tiles of
// neighbours painted in another order go through the JPEG coder a different
// number of times after a sheet was painted, which moves a pixel by a few
// levels; a lost sheet leaves white where paper (246, 240, 222) and drawing
// belong.

#include <string>
#include <vector>

namespace georef::test {

inline constexpr int kDifferentLevels = 24;
// In the test areas a sheet left out makes 9 % to 38 % of the pixels of each
// tile it shares differ; painting order alone stays below 0.2 %.
inline constexpr double kLostSheetShare = 0.01;

struct TileComparison {
    std::vector<std::string> onlyInOne;  // tile names present in one directory only (or of other sizes)
    double worstShare = 0.0;             // largest share of differing pixels in one tile
    std::string worstTile;
    int tiles = 0;                       // tiles present in both
    int identical = 0;                   // of those, tiles equal pixel for pixel
};

TileComparison CompareTiles(const std::string& directoryA, const std::string& directoryB);

}  // namespace georef::test
