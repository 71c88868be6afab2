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
    gtiff,  // lossless; any number of bands, colour tables, every sample type
    jpeg,   // lossy (quality 95); 1 or 3 bands; written by CreateCopy from memory
    png,    // lossless; 1 to 4 bands of 8 or 16 bits; written by CreateCopy from memory
};

// How the 8-bit samples of a BandSample are stored: as they are, or as the
// same picture in a wider type (v * 257 in 16 bits, round(v * 4095 / 255)
// in 16-bit storage declaring NBITS=12, v / 255 in floating point, v as a
// signed 16-bit number).
enum class SampleType { byte, uint16, uint16Nbits12, float32, int16 };

// The sample of band (1-based) at column c and row r, row 0 at the top of
// the image (plane frame).
using BandSample = std::function<std::uint8_t(int band, int column, int row)>;

struct ScanOptions {
    ScanFormat format = ScanFormat::gtiff;
    int bands = 3;  // GTiff with 3 bands is RGB, with 4 RGB + alpha
    // When not empty, band 1 gets this colour table (entry i is the colour of
    // index i). GTiff only.
    std::vector<Rgb> colourTable;
    SampleType type = SampleType::byte;
    // Metadata items of the dataset ("EXIF_Orientation=6" becomes EXIF in
    // a JPEG) and of every band ("STATISTICS_MINIMUM=0": a declared range).
    std::vector<std::string> datasetMetadata;
    std::vector<std::string> bandMetadata;
};

// Writes a width x height scan of 8-bit bands. Throws std::runtime_error
// when GDAL cannot write it.
void WriteScan(const std::string& path, int width, int height, const BandSample& sample,
               const ScanOptions& options = {});

}  // namespace georef::test
