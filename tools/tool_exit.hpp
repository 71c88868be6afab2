#pragma once
// How the companion programs end on an error: one line on the error stream,
// "program: message", the usage text after a wrong command line, and the
// exit status that goes with it.

#include <ostream>

namespace georef::tools {

// Call from inside a catch block only: reports the exception being handled
// and returns the exit status (2 for a wrong command line, 1 otherwise).
int ReportCurrentException(const char* program, const char* usage, std::ostream& err) noexcept;

}  // namespace georef::tools
