#pragma once
// Runs a program as a subprocess in a given working directory and captures
// its standard output and standard error as bytes.

#include <sys/types.h>

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

// Starts a program in the background, its output discarded; the caller
// waits for it with WaitForProcess.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workingDirectory);

// Waits for a started program: its exit status, or 128 + signal number when
// it was killed.
int WaitForProcess(pid_t pid);

// The built georef executable.
inline std::string GeorefExe() { return GEOREF_EXE; }

ProcessResult RunGeoref(const std::vector<std::string>& args, const std::string& workingDirectory);

}  // namespace georef::test
