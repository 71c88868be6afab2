// georef-compare-tiles DIR_A DIR_B: for the scripts' tests (scripts/cluster-test),
// how far two directories of tiles are apart, by the measure the batch tests use.
// Exit 0 when both hold the same tiles and no tile has a share of differing
// pixels that only a lost sheet makes; 1 otherwise; 2 on a wrong command line
// or an unreadable tile.

#include <cstdio>
#include <exception>

#include "support/raster/tile_comparison.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: georef-compare-tiles DIR_A DIR_B\n");
        return 2;
    }
    try {
        using namespace georef::test;
        const TileComparison comparison = CompareTiles(argv[1], argv[2]);
        for (const std::string& name : comparison.onlyInOne) {
            std::printf("only in one directory: %s\n", name.c_str());
        }
        std::printf("%d tiles in both, %d identical; worst tile %s: %.3f %% of pixels off by more than %d levels\n",
                    comparison.tiles, comparison.identical,
                    comparison.worstTile.empty() ? "-" : comparison.worstTile.c_str(), comparison.worstShare * 100.0,
                    kDifferentLevels);
        const bool same = comparison.onlyInOne.empty() && comparison.tiles > 0 &&
                          comparison.worstShare < kLostSheetShare;
        return same ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "georef-compare-tiles: %s\n", error.what());
        return 2;
    }
}
