#pragma once
// The review page's own style sheet and script, written inline into the
// page so that it opens from the file system with nothing else.

#include <string>

namespace georef::review::detail {

// Colours of the statuses (map fills, row marks, legend).
extern const char* const kPageStyle;

// Sorting of the table by a click on any column head: numbers by value,
// text alphabetically, empty cells last; a second click reverses.
extern const char* const kPageScript;

}  // namespace georef::review::detail
