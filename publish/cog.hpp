#pragma once
// The whole mosaic as one Cloud Optimized GeoTIFF in EPSG:5514: JPEG in
// YCbCr, 512-pixel blocks, internal overviews averaged down until one block
// holds the whole area, and a mask that is empty where the area has no tile.

#include <string>

#include "publish/progress.hpp"
#include "publish/source_area.hpp"

namespace georef::publish {

struct CogOptions {
    int quality = 75;  // JPEG quality of the full resolution and the overviews
    int threads = 1;   // compressing threads
};

// The options of GDAL's COG driver that make this file, as gdal_translate
// takes them ("-of", "COG", "-co", ...).
std::vector<std::string> CogTranslateArguments(const CogOptions& options);

// Writes the COG to path through a temporary file beside it, renamed when
// complete. Throws PublishError.
void WriteCog(const SourceArea& area, const std::string& path, const CogOptions& options,
              const Progress& progress = {});

}  // namespace georef::publish
