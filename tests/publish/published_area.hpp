#pragma once
// One small real output directory for the publishing tests, made once per
// test program: two neighbouring sheets drawn, configured and run by the
// project's own programs (see support/review/sample_batch.hpp), with the
// batch journal and summary.csv written by the batch's own writers.

#include <string>

#include "review/review_page.hpp"

namespace georef::test {

struct PublishedArea {
    std::string directory;  // holds config.bin, the scans, the corner files and tiles/
    std::string tiles;      // OUTDIR
    std::string config;
};

// The area, made on first use in a directory that lives as long as the
// test program.
const PublishedArea& SharedArea();

// A copy of the area's OUTDIR (tiles, mosaic, journal, summary) in target.
void CopyTiles(const PublishedArea& area, const std::string& target);

}  // namespace georef::test
