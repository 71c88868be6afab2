#include "batch/sheet_log.hpp"

namespace georef::batch {

SheetLog::SheetLog(const std::string& path) : m_file(path, std::ios::binary | std::ios::trunc), m_stream(this) {}

SheetLog::~SheetLog() {
    // What the run printed last without a line end, else its last counter.
    const std::string& tail = m_line.empty() ? m_lastCounter : m_line;
    if (!tail.empty()) {
        m_file << tail << '\n';
    }
}

void SheetLog::Put(char c) {
    if (c == '\r') {
        m_lastCounter = std::move(m_line);
        m_line.clear();
    } else if (c == '\n') {
        // Empty lines (the run opens each tile's counters with one) say nothing.
        if (!m_line.empty()) {
            m_file << m_line << '\n';
        }
        m_line.clear();
    } else {
        m_line += c;
    }
}

int SheetLog::overflow(int c) {
    if (c != traits_type::eof()) {
        Put(static_cast<char>(c));
    }
    return traits_type::not_eof(c);
}

std::streamsize SheetLog::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) {
        Put(text[i]);
    }
    return count;
}

int SheetLog::sync() {
    m_file.flush();
    return m_file ? 0 : -1;
}

}  // namespace georef::batch
