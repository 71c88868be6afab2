#pragma once
// georef-seams: measures every seam between neighbouring sheets of an output
// directory from its tiles and writes OUTDIR/seams.csv.

#include <ostream>

namespace georef::tools {

// The whole program: georef-seams OUTDIR [--config FILE] [--threshold
// METRES]. Returns 0 when the seams were measured and written (suspect ones
// included), 1 when they could not be, 2 for a wrong command line.
int RunSeamsTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::tools
