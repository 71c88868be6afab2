#pragma once
// Runs a program's logic in-process, as its main would, with captured
// standard output and standard error.

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace georef::test {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

using ToolMain = int (*)(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// argv includes the program name.
inline ToolResult RunInProcess(ToolMain main, const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    ToolResult result;
    result.status = main(static_cast<int>(argv.size()), argv.data(), out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

}  // namespace georef::test
