#pragma once
// --help and --version, answered the same way by every companion program:
// on the output stream, with exit status 0, whatever else the command line
// holds, before anything is read or written. And how those programs end on
// an error: one line on the error stream, "program: message", the usage text
// after a wrong command line, and the exit status that goes with it.

#include <optional>
#include <ostream>

namespace georef::platform {

// The exit status when argv asks for help (-h, --help) or the version
// (--version), after printing the usage text or "program (georef) VERSION";
// no value otherwise.
std::optional<int> AnswerHelpOrVersion(int argc, const char* const* argv, const char* program,
                                       const char* usage, std::ostream& out);

// Call from inside a catch block only: reports the exception being handled
// and returns the exit status (2 for a wrong command line, 1 otherwise).
int ReportCurrentException(const char* program, const char* usage, std::ostream& err) noexcept;

}  // namespace georef::platform
