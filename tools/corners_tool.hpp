#pragma once
// georef-corners: finds the four corners of a sheet's neat line in a scan
// and writes the corner file georef reads.

#include <ostream>

namespace georef::tools {

// The whole program: georef-corners SHEET SCAN CORNERFILE [--report PNG]
// [--edge centre|outer|inner] [--dpi N]. Returns 0 when the corners were
// found, checked and written; 1 when it refused (nothing written but the
// report, when asked for) or an input could not be read; 2 for a wrong
// command line. Results go to out, refusals and errors to err.
int RunCornersTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::tools
