#pragma once
// georef-batch's command line: parsing, the run, the summary and the exit
// status, callable in-process.

#include <ostream>

namespace georef::tools {

// argv as main receives it. Progress and the summary go to out, errors to
// err. liveProgress redraws one progress line (for a terminal). Returns 0
// when every sheet succeeded (done or unchanged) and the mosaic was written,
// 1 when something failed, 2 for a wrong command line. Throws nothing.
int RunBatchTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                 bool liveProgress) noexcept;

}  // namespace georef::tools
