// georef-fuzz-seeds OUTDIR: writes the starting corpus of every fuzz target
// into OUTDIR/<target>/, from the same writers the tests use: config.bin
// files from georef-config and from the tests' own encoder (sound and
// broken), JPEG tiles from libjpeg and from a tile the program saved, corner
// files in the forms the README allows, world-file inputs of real runs.
// A target's hand-made examples (fuzz/seeds/<target>/) are added by
// scripts/fuzz.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/sheet_geometry.hpp"
#include "raster/tile_image.hpp"
#include "support/raster/jpeg_file.hpp"
#include "support/transform/config_file.hpp"
#include "tools/config_tool.hpp"

namespace {

namespace fs = std::filesystem;
using georef::test::Rgb;

constexpr int kSheet = 40571;
constexpr int kTileSize = 31;  // the tile target's buffer edge

void WriteSeed(const fs::path& directory, const std::string& name, const std::string& bytes) {
    std::ofstream out(directory / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + (directory / name).string());
    }
}

std::string Slug(const std::string& name) {
    std::string slug;
    for (const char c : name) {
        slug += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    }
    return slug;
}

void ConfigSeeds(const fs::path& directory) {
    WriteSeed(directory, "sound-test-file", georef::test::SoundSheetConfigBytes(kSheet));
    for (const georef::test::NamedBytes& broken : georef::test::BrokenSheetConfigs(kSheet)) {
        WriteSeed(directory, "broken-" + Slug(broken.name), broken.bytes);
    }
    // What georef-config writes, with coarse cells to keep the seeds small.
    const std::string one = (directory / "georef-config-40571").string();
    const std::string two = (directory / "georef-config-40571-40572").string();
    const char* argvOne[] = {"georef-config", "40571", "--cell", "2000", "-o", one.c_str()};
    const char* argvTwo[] = {"georef-config", "40571", "40572", "--cell", "5000", "-o", two.c_str()};
    std::ostringstream out;
    std::ostringstream err;
    if (georef::tools::RunConfigTool(6, argvOne, out, err) != 0 ||
        georef::tools::RunConfigTool(7, argvTwo, out, err) != 0) {
        throw std::runtime_error("georef-config failed: " + err.str());
    }
}

void CornerSeeds(const fs::path& directory) {
    WriteSeed(directory, "readme-example",
              "1  412.5  377.0\n2  398.0  6215.5\n3  8102.0 6230.0\n4  8117.5 391.5\n");
    WriteSeed(directory, "integers-and-exponents", "1 412 377\n2 3.98e2 6215.5\n3 8102 6.23E+03\n4 8117.5 391.5\n");
    WriteSeed(directory, "trailing-text", "1 412.5 377.0\n2 398.0 6215.5\n3 8102.0 6230.0\n4 8117.5 391.5\nmeasured by hand\n");
    WriteSeed(directory, "mirrored", "1 412.5 6215.5\n2 398.0 377.0\n3 8102.0 391.5\n4 8117.5 6230.0\n");
    WriteSeed(directory, "on-one-line", "1 0 0\n2 1 1\n3 2 2\n4 3 3\n");
    WriteSeed(directory, "three-records", "1 412.5 377.0\n2 398.0 6215.5\n3 8102.0 6230.0\n");
    // The nominal corners themselves at one pixel per metre: an exact fit.
    const georef::geometry::Matrix nominal = georef::geometry::MakeNominalCorners(kSheet);
    std::ostringstream exact;
    exact.precision(17);
    for (int k = 0; k < 4; ++k) {
        exact << k + 1 << ' ' << nominal(2 * k, 0) << ' ' << nominal(2 * k + 1, 0) << '\n';
    }
    WriteSeed(directory, "nominal-corners", exact.str());
}

void TileSeeds(const fs::path& directory) {
    const auto gradient = [](int column, int row) {
        return Rgb{static_cast<std::uint8_t>(column * 8), static_cast<std::uint8_t>(row * 8), 128};
    };
    georef::test::JpegOptions grey;
    grey.components = 1;
    georef::test::JpegOptions cmyk;
    cmyk.components = 4;
    georef::test::JpegOptions progressive;
    progressive.progressive = true;
    const struct {
        const char* name;
        int size;
        georef::test::JpegOptions options;
    } tiles[] = {{"rgb", kTileSize, {}}, {"grey", kTileSize, grey}, {"cmyk", kTileSize, cmyk},
                 {"progressive", kTileSize, progressive}, {"other-size", 16, {}}, {"other-size-progressive", 16, progressive}};
    for (const auto& tile : tiles) {
        georef::test::WriteJpeg((directory / tile.name).string(), tile.size, tile.size, gradient, tile.options);
    }
    // A tile as a run leaves it: written by the program's own encoder.
    georef::raster::TileImage saved;
    saved.AllocateBuffer(kTileSize);
    saved.CreateNew((directory / "saved-by-georef").string());
    saved.ClearWhite();
    saved.Pixels()[0] = 0;
    saved.Save();
    saved.CloseFile();
}

// Input of the world-file target: float pixel size, int32 tile X and Y,
// one double, in host byte order.
std::string WorldInput(float pixelSize, std::int32_t tileX, std::int32_t tileY, double number) {
    std::string bytes(sizeof pixelSize + 2 * sizeof tileX + sizeof number, '\0');
    char* p = bytes.data();
    std::memcpy(p, &pixelSize, sizeof pixelSize);
    std::memcpy(p += sizeof pixelSize, &tileX, sizeof tileX);
    std::memcpy(p += sizeof tileX, &tileY, sizeof tileY);
    std::memcpy(p + sizeof tileY, &number, sizeof number);
    return bytes;
}

void WorldFileSeeds(const fs::path& directory) {
    WriteSeed(directory, "300dpi", WorldInput(10000.0f / 4724, 1050000, 740000, -1050000.0));
    WriteSeed(directory, "120dpi", WorldInput(10000.0f / 1889, 1060000, 750000, 2.5e-5));
    WriteSeed(directory, "negative-tiles", WorldInput(1.0f, -20000, -10000, 1e300));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: georef-fuzz-seeds OUTDIR\n";
        return 2;
    }
    try {
        const fs::path out = argv[1];
        const struct {
            const char* target;
            void (*write)(const fs::path&);
        } targets[] = {{"config", ConfigSeeds}, {"corners", CornerSeeds}, {"tile", TileSeeds},
                       {"world_file", WorldFileSeeds}};
        for (const auto& t : targets) {
            fs::create_directories(out / t.target);
            t.write(out / t.target);
        }
    } catch (const std::exception& e) {
        std::cerr << "georef-fuzz-seeds: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
