#include "geometry/corner_file.hpp"

#include <cstdio>
#include <istream>
#include <stdexcept>

#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"

namespace georef::geometry {

std::optional<CornerPoints> ReadCornerPoints(std::istream& in) {
    CornerPoints corners{};
    for (CornerPoint& corner : corners) {
        if (!(in >> corner.id >> corner.x >> corner.y)) {
            return std::nullopt;
        }
    }
    return corners;
}

std::string CornerFileText(const CornerPoints& corners, CornerPrecision precision) {
    const char* const format = precision == CornerPrecision::measured ? "%d %.3f %.3f\n" : "%d %.10g %.10g\n";
    std::string text;
    for (const CornerPoint& corner : corners) {
        char line[400];  // "%.3f" of the largest double is about 320 characters
        const int length = std::snprintf(line, sizeof line, format, corner.id, corner.x, corner.y);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) {
            throw std::invalid_argument("a corner coordinate too long to write");
        }
        text.append(line, static_cast<std::size_t>(length));
    }
    return text;
}

void WriteCornerFile(const std::string& path, const CornerPoints& corners, CornerPrecision precision) {
    try {
        const std::string text = CornerFileText(corners, precision);
        platform::AtomicFile file(path);
        if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
            throw std::runtime_error("cannot write " + file.TemporaryName());
        }
        file.Commit();
    } catch (const std::exception& e) {
        throw Failure("cannot write the corner file " + path + ": " + e.what());
    }
}

}  // namespace georef::geometry
