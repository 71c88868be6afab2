#pragma once
// One run of the program for one sheet: the command line, the order of the
// steps and every console message of the run.

#include <ostream>

namespace georef::driver {

// Runs the program with argc/argv as main receives them, in the current
// working directory. Messages go to out; the JPEG library's fatal messages,
// the reason a scan is refused and warnings (a scan meant to be shown turned,
// a tile of another size replaced) go to err. Returns the exit status: 0 when
// the run completed, 1 when it stopped on a failure, 2 for a wrong command
// line. Throws nothing.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept;

}  // namespace georef::driver
