#include "gdal_support/thread_config.hpp"

#include <cpl_conv.h>

namespace georef::gdal_support {

ThreadConfig::ThreadConfig(const char* key, const char* value) : m_key(key) {
    if (const char* before = CPLGetThreadLocalConfigOption(key, nullptr)) {
        m_before = before;
    }
    CPLSetThreadLocalConfigOption(key, value);
}

ThreadConfig::~ThreadConfig() {
    CPLSetThreadLocalConfigOption(m_key.c_str(), m_before ? m_before->c_str() : nullptr);
}

}  // namespace georef::gdal_support
