// georef-io-floor SCAN TILEDIR
//
// The work that any program warping this scan into these tiles cannot
// avoid: reading the scan through GDAL (one call for its first three bands,
// into one pixel-interleaved buffer) and encoding every tile of TILEDIR
// (the *.jpg files a run wrote there) as a new tile, quality 70, into a
// file. The tiles are decoded first, outside the measured time, so that the
// encoder gets the very content the run encoded. Prints the seconds of each
// part; the last line is "floor_seconds=<s>".

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include "bench/jpeg_codec.hpp"
#include "platform/stdio_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using File = georef::platform::StdioFile;

// Throws when the file cannot be opened.
File OpenFile(const std::string& path, const char* mode) {
    File file = georef::platform::OpenStdioFile(path, mode);
    if (!file) {
        throw std::runtime_error("cannot open " + path);
    }
    return file;
}

std::vector<std::string> TileFiles(const std::string& directory) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
    if (!dir) {
        throw std::runtime_error("cannot list " + directory);
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
            names.push_back(directory + "/" + name);
        }
    }
    return names;
}

// Seconds to open the scan and read bands 1 to 3 into one buffer; the
// buffer's size in bytes goes to bytes.
double ReadScan(const std::string& path, std::size_t& bytes) {
    const Clock::time_point start = Clock::now();
    GDALAllRegister();
    GDALSetCacheMax64(32 * 1024 * 1024);
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    if (dataset == nullptr) {
        throw std::runtime_error("GDAL cannot open " + path);
    }
    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    if (GDALGetRasterCount(dataset) < 3) {
        GDALClose(dataset);
        throw std::runtime_error(path + " has fewer than three bands");
    }
    bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    std::unique_ptr<void, void (*)(void*)> buffer(CPLMalloc(bytes), VSIFree);
    int bands[3] = {1, 2, 3};
    const CPLErr result = GDALDatasetRasterIO(dataset, GF_Read, 0, 0, width, height, buffer.get(), width, height,
                                              GDT_Byte, 3, bands, 3, 3 * static_cast<GSpacing>(width), 1);
    GDALClose(dataset);
    if (result != CE_None) {
        throw std::runtime_error("cannot read " + path + ": " + CPLGetLastErrorMsg());
    }
    return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: georef-io-floor SCAN TILEDIR\n";
        return 2;
    }
    try {
        const std::string scan = argv[1];
        const std::string directory = argv[2];
        const std::vector<std::string> tiles = TileFiles(directory);
        if (tiles.empty()) {
            throw std::runtime_error("no tile (*.jpg) in " + directory);
        }

        std::size_t scanBytes = 0;
        const double readSeconds = ReadScan(scan, scanBytes);

        double encodeSeconds = 0.0;
        std::vector<std::uint8_t> pixels;
        const std::string output = directory + "/io-floor.tmp-jpg";
        for (const std::string& name : tiles) {
            int width = 0;
            int height = 0;
            georef::bench::ReadJpegSize(OpenFile(name, "rb").get(), width, height);
            pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
            georef::bench::DecodeRgb(OpenFile(name, "rb").get(), pixels.data(), width, height);

            const Clock::time_point start = Clock::now();
            {
                const File file = OpenFile(output, "wb");
                georef::bench::EncodeRgb(file.get(), pixels.data(), width, height, 70);
            }
            encodeSeconds += SecondsSince(start);
        }
        std::remove(output.c_str());

        std::cout << "scan_bytes=" << scanBytes << '\n'
                  << "read_seconds=" << readSeconds << '\n'
                  << "tiles=" << tiles.size() << '\n'
                  << "encode_seconds=" << encodeSeconds << '\n'
                  << "floor_seconds=" << readSeconds + encodeSeconds << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "georef-io-floor: " << e.what() << '\n';
        return 1;
    }
}
