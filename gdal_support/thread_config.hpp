#pragma once
// A GDAL configuration option set on this thread only, for as long as the
// object lives; what the thread had before is put back when it goes. Other
// threads (the batch's workers, the page's writer) see none of it.

#include <optional>
#include <string>

namespace georef::gdal_support {

class ThreadConfig {
public:
    // value null: the thread's own value taken away while the object lives
    // (the process-wide one, if any, applies).
    ThreadConfig(const char* key, const char* value);
    ~ThreadConfig();
    ThreadConfig(const ThreadConfig&) = delete;
    ThreadConfig& operator=(const ThreadConfig&) = delete;

private:
    std::string m_key;
    std::optional<std::string> m_before;  // the thread's own value before, if it had one
};

}  // namespace georef::gdal_support
