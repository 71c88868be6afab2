#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.

#include <string>

namespace georef::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const noexcept { return m_path; }
    // Path() + "/" + name
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

// Whole content of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace georef::test
