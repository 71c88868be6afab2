#pragma once
// Runs a program as a subprocess in a given working directory and captures
// its standard output and standard error as bytes.

#include <string>
#include <vector>

namespace georef::test {

struct ProcessResult {
    int exitStatus = -1;  // exit status, or 128 + signal number when killed
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error, byte for byte
};

// program is a path; args do not include the program name.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory);

// The built georef executable.
inline std::string GeorefExe() { return GEOREF_EXE; }

ProcessResult RunGeoref(const std::vector<std::string>& args, const std::string& workingDirectory);

}  // namespace georef::test
