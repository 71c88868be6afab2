#pragma once
// The one family of run-ending errors. A Failure carries the complete console
// line to print (without its line end) and the exit status of the run; the
// driver prints it once, on standard output, and ends with that status.

#include <stdexcept>
#include <string>

namespace georef {

enum class ExitStatus : int {
    okay = 0,     // the run completed and wrote everything it visited
    failure = 1,  // the run stopped on a failure, or could not write all its output
    usage = 2,    // the command line is wrong
};

class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message, ExitStatus status = ExitStatus::failure)
        : std::runtime_error(message), m_status(status) {}

    ExitStatus Status() const noexcept { return m_status; }

private:
    ExitStatus m_status;
};

}  // namespace georef
