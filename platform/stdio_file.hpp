#pragma once
// Ownership of a C standard I/O stream: closed when the owner goes.

#include <cstdio>
#include <memory>
#include <string>

namespace georef::platform {

struct StdioFileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

// fopen with an owner; empty when the file cannot be opened.
inline StdioFile OpenStdioFile(const std::string& path, const char* mode) noexcept {
    return StdioFile(std::fopen(path.c_str(), mode));
}

}  // namespace georef::platform
