#pragma once
// georef-demo-scan: draws a scan of a sheet (plain or realistic) and its
// corner file.

#include <ostream>

namespace georef::tools {

// Whole program: georef-demo-scan SHEET SCAN CORNERFILE [--dpi N]
// [--rotation DEGREES] [--density on|off] [--style plain|realistic] and the
// realistic style's options (see synthesis/realistic_scan.hpp). Returns 0, 1 on a
// failure, 2 for a wrong command line.
int RunDemoScanTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::tools
