// The review page's overview of a large area drawn from the tiles' kept
// reductions: each read whole (the block means) against each read at the
// decoder's 1/2, 1/4 and 1/8 scale, on the same kept copies in one run.
// The area is a strip of 82 x 20 tiles of 1575 pixels (10 km at 100 dpi),
// wide enough that its 2000-pixel overview takes the kept copies at 1/8;
// every tile's reduction is made by the batch's own reducer from painted
// rows of a map-like picture. The tile files themselves are stand-ins: the
// overview never reads them, only their state. Prints the CPU seconds of
// each scale, its ratio to the whole read and how far its overview lies
// from the whole read's. Then the open of an image (the same JPEG as a
// scan) in a folder of 15 000 files, GDAL listing the folder against
// gdal_support::OpenWithoutListing. Asserts nothing.
//
//   georef-review-overview-bench [WORKDIR] [COLUMNS ROWS [TILE_PIXELS]]

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <gdal.h>

#include "gdal_support/dataset_handle.hpp"
#include "review/reduced_mosaic.hpp"
#include "review/tile_reduction.hpp"

namespace {

namespace fs = std::filesystem;
using georef::review::MosaicTile;

int kTile = 1575;  // pixels a tile edge, the third argument
constexpr int kOverviewWidth = 2000;

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Paper with contour-like lines and a field of colour that changes from tile to tile.
std::vector<std::uint8_t> MapPicture(int variant) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kTile) * kTile * 3);
    for (int r = 0; r < kTile; ++r) {
        for (int c = 0; c < kTile; ++c) {
            std::uint8_t* at = &rgb[(static_cast<std::size_t>(r) * kTile + c) * 3];
            const double level = std::sin((c + 3 * variant) / 97.0) * 40.0 + std::cos((r - 5 * variant) / 61.0) * 40.0;
            const bool line = static_cast<int>(std::floor(level)) % 16 == 0 || (c + r + variant * 11) % 211 < 2;
            at[0] = line ? 90 : static_cast<std::uint8_t>(225 + variant % 3 * 10);
            at[1] = line ? 60 : static_cast<std::uint8_t>(220 - (r / 200) % 4 * 15);
            at[2] = line ? 30 : static_cast<std::uint8_t>(200 + (c / 300) % 3 * 15);
        }
    }
    return rgb;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : (fs::temp_directory_path() / "georef-review-overview-bench").string();
    const int columns = argc > 3 ? std::stoi(argv[2]) : 82;
    const int rows = argc > 3 ? std::stoi(argv[3]) : 20;
    if (argc > 4) {
        kTile = std::stoi(argv[4]);
    }
    fs::remove_all(dir);
    fs::create_directories(dir);

    std::vector<std::vector<std::uint8_t>> pictures;
    for (int variant = 0; variant < 4; ++variant) {
        pictures.push_back(MapPicture(variant));
    }
    std::vector<MosaicTile> tiles;
    georef::review::TileReducer reducer;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const std::string name = dir + "/" + std::to_string(100 + column) + "_" + std::to_string(50 + row) + ".jpg";
            std::ofstream(name) << "stand-in for a tile of " << kTile << " pixels\n";
            reducer.Begin(name, kTile);
            reducer.Rows(0, kTile, pictures[static_cast<std::size_t>((row * 7 + column) % 4)].data());
            reducer.Saved();
            tiles.push_back({name, column * kTile, row * kTile, kTile, kTile});
        }
    }
    const int width = columns * kTile;
    const int height = rows * kTile;
    const int outWidth = std::min(width, kOverviewWidth);
    const int outHeight = std::max(1, static_cast<int>(std::lround(static_cast<double>(height) * outWidth / width)));
    const int most = georef::review::KeptReadScale(width, height, outWidth, outHeight);
    std::cout << tiles.size() << " tiles (" << reducer.Kept() << " kept reductions of "
              << (kTile + georef::review::kTileReduction - 1) / georef::review::kTileReduction << " pixels), overview "
              << outWidth << " x " << outHeight << ", "
              << (most > 0 ? "coarsest read 1/" + std::to_string(most) : std::string("finer than the reductions"))
              << "\n";

    std::vector<std::uint8_t> whole;
    double wholeSeconds = 0.0;
    for (int scale = 1; scale <= most; scale *= 2) {
        georef::review::AverageReducedTiles(tiles, width, height, outWidth, outHeight, scale);  // files cached
        const double start = CpuSeconds();
        const std::vector<std::uint8_t> image =
            georef::review::AverageReducedTiles(tiles, width, height, outWidth, outHeight, scale);
        const double seconds = CpuSeconds() - start;
        const double readStart = CpuSeconds();
        for (const MosaicTile& t : tiles) {
            georef::review::ReduceTile(t.path, t.width, t.height, scale);
        }
        const double readSeconds = CpuSeconds() - readStart;
        if (scale == 1) {
            whole = image;
            wholeSeconds = seconds;
        }
        double mean = 0.0;
        int worst = 0;
        for (std::size_t k = 0; k < image.size(); ++k) {
            const int d = std::abs(image[k] - whole[k]);
            mean += d;
            worst = std::max(worst, d);
        }
        std::cout << "kept copies read at 1/" << scale << ": " << seconds << " CPU-s (" << seconds / tiles.size() * 1e3
                  << " ms a tile, of which reading " << readSeconds / tiles.size() * 1e3 << " ms), " << seconds / wholeSeconds
                  << " x the whole read; overview differs by "
                  << mean / image.size() << " levels on average, at most " << worst << "\n";
    }

    // A scan among 15 000 files: each open, then its size read.
    const std::string scans = dir + "/scans";
    fs::create_directories(scans);
    for (int k = 0; k < 15000; ++k) {
        std::ofstream(scans + "/" + std::to_string(40000 + k) + ".jpg");
    }
    const std::string scan = scans + "/scan.jpg";
    fs::copy_file(georef::review::ReducedTilePath(tiles.front().path), scan);
    constexpr int kOpens = 200;
    const auto opens = [&](bool listing) {
        const double start = CpuSeconds();
        for (int k = 0; k < kOpens; ++k) {
            const georef::gdal_support::DatasetHandle opened(listing ? GDALOpen(scan.c_str(), GA_ReadOnly)
                                                                      : georef::gdal_support::OpenWithoutListing(scan).release());
            if (!opened || GDALGetRasterXSize(opened.get()) < 1) {
                std::cerr << "cannot open " << scan << "\n";
            }
        }
        return (CpuSeconds() - start) / kOpens * 1e3;
    };
    opens(true);
    const double listed = opens(true);
    const double alone = opens(false);
    std::cout << "opening an image among 15 000 files: " << listed << " CPU-ms with the folder listed, " << alone
              << " without (" << alone / listed << " x)\n";
    fs::remove_all(dir);
    return 0;
}
