#pragma once
// What georef-review takes from a request, checked before anything else
// looks at it: sheet numbers, whole numbers within bounds, the corners a
// page sends, the access token in a cookie. Every parser either returns a
// value within its bounds or throws RequestError with the message the client
// gets; none of them ever names a file.

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "corners/frame.hpp"

namespace georef::workbench {

// A request the workbench refuses: the HTTP status (4xx) and the message.
class RequestError : public std::runtime_error {
public:
    RequestError(int status, const std::string& message) : std::runtime_error(message), m_status(status) {}
    int Status() const noexcept { return m_status; }

private:
    int m_status;
};

// The largest request body taken (the corners of one sheet need a few
// hundred bytes), bytes.
inline constexpr std::size_t kMaxBodyBytes = 4096;

// A sheet number as a request names it: exactly five digits of a valid
// sheet (zone 34-45, column 00-99, section 1-4). Throws RequestError (400).
int ParseSheetNumber(const std::string& text);

// A whole decimal number from low to high, at most nine digits, with an
// optional minus sign. name is the parameter's name for the message.
// Throws RequestError (400).
int ParseWhole(const std::string& text, int low, int high, const char* name);

// What a page sends to check or save a sheet's corners.
struct CornerBody {
    std::array<corners::PlanePoint, 4> corners;  // LD, LH, PH, PD, plane frame
    bool acceptMirrored = false;                 // the scan is film scanned from its back
};

// A page's request body, JSON
//   {"corners": [[column, row], [column, row], [column, row], [column, row]],
//    "acceptMirrored": false}
// the corners in the order LD, LH, PH, PD, in the scan's plane frame (column
// from the left, row from the top, the centre of pixel (c, r) at (c, r)).
// Each coordinate must be a finite number within [-margin, size + margin] of
// a scan of width x height pixels; acceptMirrored, when present, true or
// false. Throws RequestError (400) for a body longer than kMaxBodyBytes,
// broken JSON or anything else.
CornerBody ParseCornerBody(const std::string& body, int width, int height);

// The value of the cookie called name in a Cookie header; empty when the
// header holds no such cookie.
std::string CookieValue(const std::string& header, const std::string& name);

// Compares a presented secret with the expected one in time that does not
// depend on where they differ.
bool SameSecret(const std::string& presented, const std::string& expected) noexcept;

}  // namespace georef::workbench
