#pragma once
// georef-review: a local workbench over an output directory of
// georef-batch, served to a browser until SIGINT or SIGTERM.

#include <ostream>

namespace georef::tools {

// The whole program: georef-review OUTDIR [--scans DIR] [--config FILE]
// [--bind ADDR] [--port N]. Prints the address to open (with its token) on
// out and serves until SIGINT or SIGTERM, then returns 0; 1 when it cannot
// serve the directory, 2 for a wrong command line.
int RunReviewTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::tools
