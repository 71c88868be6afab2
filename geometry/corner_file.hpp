#pragma once
// The corner file: the four corners of a sheet's neat line in a scan, one
// record "id x y" per line in the order LD LH PH PD (lower left, upper left,
// upper right, lower right). Image frame: pixels of the scan, x to the right
// from the left edge, y upwards from the bottom edge.

#include <array>
#include <iosfwd>
#include <optional>
#include <string>

namespace georef::geometry {

// One corner of the scan as the corner file gives it (image frame, pixels).
struct CornerPoint {
    int id = 0;  // read and otherwise ignored
    double x = 0.0;
    double y = 0.0;
};

// LD, LH, PH, PD: lower left, upper left, upper right, lower right.
using CornerPoints = std::array<CornerPoint, 4>;

// Reads the four corner records (id x y, white space separated, twelve
// formatted extractions); anything after the fourth record is ignored.
// Empty when any extraction fails (short or malformed file).
std::optional<CornerPoints> ReadCornerPoints(std::istream& in);

// How a written corner file states its coordinates.
enum class CornerPrecision {
    measured,  // three decimals ("%.3f"): what the corner finder measures to
    exact,     // ten significant digits ("%.10g"): the drawn corners of a synthetic scan
};

// The file's text: "id x y\n" for each corner, in order.
std::string CornerFileText(const CornerPoints& corners, CornerPrecision precision);

// Writes the corner file atomically: path holds its old content or the whole
// new text, never a part. Throws georef::Failure ("cannot write the corner
// file PATH: reason") when it cannot.
void WriteCornerFile(const std::string& path, const CornerPoints& corners, CornerPrecision precision);

}  // namespace georef::geometry
