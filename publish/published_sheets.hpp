#pragma once
// The sheets an output directory holds: those whose latest run the batch
// journal records as finished, each with the scan and the corner file that
// run read.

#include <string>
#include <vector>

namespace georef::publish {

struct PublishedSheet {
    int sheet = 0;
    std::string scan;        // path, resolved as described below
    std::string cornerFile;  // path; empty when the journal names none
};

// Reads OUTDIR's batch journal. A relative path is taken from the current
// directory when it exists there, else from OUTDIR's parent (where
// georef-batch --list resolves them beside a list file kept there). Throws
// PublishError when there is no journal or it records no finished sheet.
std::vector<PublishedSheet> ReadPublishedSheets(const std::string& outputDirectory);

}  // namespace georef::publish
