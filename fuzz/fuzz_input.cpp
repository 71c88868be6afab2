#include "fuzz/fuzz_input.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "platform/stdio_file.hpp"

namespace georef::fuzz {

namespace {

std::string ScratchParent() {
    if (::access("/dev/shm", W_OK | X_OK) == 0) {
        return "/dev/shm";
    }
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Owns the directory; the destructor runs at normal exit (libFuzzer ends a
// timed run with exit()).
class Scratch {
public:
    Scratch() {
        std::string pattern = ScratchParent() + "/georef-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot create a scratch directory under " + ScratchParent());
        }
        m_path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& Path() const noexcept { return m_path; }

private:
    std::string m_path;
};

}  // namespace

const std::string& ScratchDirectory() {
    static const Scratch scratch;
    return scratch.Path();
}

std::string ScratchPath(const std::string& name) {
    return ScratchDirectory() + "/" + name;
}

void WriteFileBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    platform::StdioFile file = platform::OpenStdioFile(path, "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file.get()) != size) || std::fflush(file.get()) != 0) {
        Fail("cannot write " + path);
    }
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ListScratchDirectory() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDirectory())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names) {
        list += name + " ";
    }
    return list;
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "georef fuzz: %s\n", message.c_str());
    std::abort();
}

}  // namespace georef::fuzz
