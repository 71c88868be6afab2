#pragma once
// Scans for tests, written through GDAL's own drivers so the code under test
// reads files exactly as a real run would.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/raster/rgb.hpp"

namespace georef::test {

enum class ScanFormat {
    gtiff,  // lossless; any number of bands, colour tables
    jpeg,   // lossy (quality 95); 1 or 3 bands; written by CreateCopy from memory
};

// The sample of band (1-based) at column c and row r, row 0 at the top of
// the image (plane frame).
using BandSample = std::function<std::uint8_t(int band, int column, int row)>;

struct ScanOptions {
    ScanFormat format = ScanFormat::gtiff;
    int bands = 3;  // GTiff with 3 bands is RGB, with 4 RGB + alpha
    // When not empty, band 1 gets this colour table (entry i is the colour of
    // index i). GTiff only.
    std::vector<Rgb> colourTable;
};

// Writes a width x height scan of 8-bit bands. Throws std::runtime_error
// when GDAL cannot write it.
void WriteScan(const std::string& path, int width, int height, const BandSample& sample,
               const ScanOptions& options = {});

}  // namespace georef::test
