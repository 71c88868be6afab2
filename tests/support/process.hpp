#pragma once
// Runs a program as a subprocess in a given working directory and captures
// its standard output and standard error as bytes.

#include <cstddef>
#include <string>
#include <vector>

namespace georef::test {

struct ProcessResult {
    int exitStatus = -1;  // exit status, or 128 + signal number when killed
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error, byte for byte
};

// Limits the child runs under.
struct ProcessLimits {
    std::size_t addressSpaceBytes = 0;  // RLIMIT_AS; 0 leaves it as it is
};

// A program started as a subprocess, which the test may signal while it
// runs. The destructor kills and reaps a child not yet waited for.
class ChildProcess {
public:
    // program is a path; args do not include the program name.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDirectory, const ProcessLimits& limits = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int signalNumber) const;
    int Pid() const noexcept { return m_pid; }
    // True while the child has not ended (it may be a zombie not yet waited for).
    bool Running() const;
    // What the child has written to its standard output so far.
    std::string OutputSoFar() const;
    // Waits for the child to end and collects its streams.
    ProcessResult Wait();

private:
    int m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
};

// program is a path; args do not include the program name.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory, const ProcessLimits& limits = {});

// The built georef executable.
inline std::string GeorefExe() { return GEOREF_EXE; }

ProcessResult RunGeoref(const std::vector<std::string>& args, const std::string& workingDirectory,
                        const ProcessLimits& limits = {});

}  // namespace georef::test
