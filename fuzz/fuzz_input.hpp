#pragma once
// Helpers shared by the fuzz targets: a scratch directory for the files a
// target hands to the readers (they read real files, by name), and a small
// cursor over the fuzzer's bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace georef::fuzz {

// A private directory for this fuzzing process, on a memory file system when
// there is one (/dev/shm), else under TMPDIR or /tmp. Created on first use,
// removed with everything in it when the process exits normally.
const std::string& ScratchDirectory();

// "<ScratchDirectory()>/<name>".
std::string ScratchPath(const std::string& name);

// Replaces the file with exactly these bytes. Aborts when it cannot: a
// target that cannot write its input tests nothing.
void WriteFileBytes(const std::string& path, const std::uint8_t* data, std::size_t size);

// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Names in the scratch directory, sorted.
std::string ListScratchDirectory();

// Aborts with the message: how a target reports a broken property, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const std::string& message);

// Fixed-size values taken from the front of the input; zeros once it runs out.
class ByteCursor {
public:
    ByteCursor(const std::uint8_t* data, std::size_t size) noexcept : m_data(data), m_size(size) {}

    template <class T>
    T Take() noexcept {
        unsigned char raw[sizeof(T)] = {};
        const std::size_t count = m_size - m_position < sizeof(T) ? m_size - m_position : sizeof(T);
        if (count > 0) {
            std::memcpy(raw, m_data + m_position, count);
        }
        m_position += count;
        T value;
        std::memcpy(&value, raw, sizeof(T));
        return value;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

}  // namespace georef::fuzz
