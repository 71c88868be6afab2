#pragma once
// georef-publish: the mosaic of an output directory as a Cloud Optimized
// GeoTIFF, web map tiles with an offline viewer, and IIIF Georeference
// Annotations of its sheets.

#include <ostream>

namespace georef::tools {

// The whole program: georef-publish OUTDIR [--cog FILE] [--xyz DIR]
// [--iiif DIR --iiif-base URL] [--quality Q] [--jobs N] [--config FILE]
// [--full]. Returns 0 when everything asked for was written; 1 when an
// input could not be read or an output not written (each file is either
// whole or untouched); 2 for a wrong command line. Results go to out, with
// progress when terminal is true; errors to err.
int RunPublishTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool terminal = false) noexcept;

}  // namespace georef::tools
