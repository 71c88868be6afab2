#pragma once
// --help and --version, answered the same way by every companion program:
// on the output stream, with exit status 0, whatever else the command line
// holds, before anything is read or written.

#include <optional>
#include <ostream>

namespace georef::platform {

// The exit status when argv asks for help (-h, --help) or the version
// (--version), after printing the usage text or "program (georef) VERSION";
// no value otherwise.
std::optional<int> AnswerHelpOrVersion(int argc, const char* const* argv, const char* program,
                                       const char* usage, std::ostream& out);

}  // namespace georef::platform
