#pragma once
// Text that goes into web pages and addresses: the one place where the
// pages' text is escaped and file paths become URL paths.

#include <string>
#include <string_view>

namespace georef::platform {

// Text for an HTML element or a double-quoted attribute: '&', '<', '>' and
// '"' as character references, every other byte as it is (UTF-8 passes
// through).
std::string EscapeHtml(std::string_view text);

// A path for a URL: every byte outside the unreserved set (letters, digits,
// '-', '_', '.', '~') and '/' as %XX with capital hex digits; a multi-byte
// UTF-8 letter becomes one %XX per byte.
std::string PercentEncodePath(std::string_view path);

}  // namespace georef::platform
