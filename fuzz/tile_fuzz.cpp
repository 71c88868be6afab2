// An existing tile that another program may have touched: any bytes under a
// tile's name. Decoded through the program's libjpeg error handling into a
// tile buffer and saved, as a run does with a tile it paints over. A file
// that is not a usable JPEG ends in JpegError and stays byte for byte as it
// was; a saved tile decodes again; no temporary file is ever left behind.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.hpp"
#include "raster/tile_image.hpp"

namespace {

using georef::fuzz::Fail;
using georef::raster::JpegError;
using georef::raster::TileError;
using georef::raster::TileImage;

// Edge of the tile buffer in pixels: a run at 2 dpi (int(2 * 15.748032)).
// Seeds of this size are merged, any other size is replaced by white.
constexpr int kTileSize = 31;

void RequireOnlyTheTile() {
    const std::string names = georef::fuzz::ListScratchDirectory();
    if (names != "1_2.jpg ") {
        Fail("the tile directory holds \"" + names + "\"");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string name = georef::fuzz::ScratchPath("1_2.jpg");
    georef::fuzz::WriteFileBytes(name, data, size);
    if (!georef::raster::TileExists(name)) {
        return 0;  // an empty file: the run starts a new tile instead
    }
    try {
        TileImage tile;
        tile.AllocateBuffer(kTileSize);
        tile.OpenExisting(name);
        tile.LoadPixels();
        tile.Save();
        tile.CloseFile();
    } catch (const JpegError&) {
        if (georef::fuzz::ReadFileBytes(name) != std::string(reinterpret_cast<const char*>(data), size)) {
            Fail("a tile that failed to decode was changed");
        }
        RequireOnlyTheTile();
        return 0;
    } catch (const TileError& e) {
        Fail(std::string("TileError on a writable tile: ") + e.what());
    }
    RequireOnlyTheTile();

    // What was saved is a tile of the buffer's size that decodes cleanly.
    try {
        TileImage again;
        again.AllocateBuffer(kTileSize);
        again.OpenExisting(name);
        again.LoadPixels();
        again.CloseFile();
    } catch (const std::exception& e) {
        Fail(std::string("the saved tile does not decode: ") + e.what());
    }
    return 0;
}
