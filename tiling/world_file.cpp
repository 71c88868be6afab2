#include "tiling/world_file.hpp"

#include <cstdio>
#include <stdexcept>

#include "platform/atomic_file.hpp"
#include "platform/file_system.hpp"

namespace georef::tiling {

std::string FormatNumber(double value) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%g", value);
    std::string text(buffer, static_cast<std::size_t>(length));

    // %g writes at least two exponent digits; tile readers of this format
    // expect three ("-1.05e+006").
    const std::size_t e = text.find('e');
    if (e == std::string::npos || e + 1 >= text.size()) {
        return text;
    }
    const std::size_t digits = e + 2;  // after the sign
    while (text.size() - digits < 3) {
        text.insert(digits, 1, '0');
    }
    return text;
}

std::string TileFileName(const std::string& directory, int tileX, int tileY, const std::string& extension) {
    const std::string name = std::to_string(tileX / 10000) + "_" + std::to_string(tileY / 10000) + extension;
    return platform::JoinPath(directory, name);
}

std::string WorldFileText(float pixelSize, int tileX, int tileY) {
    const double negatedPixelSize = -static_cast<double>(pixelSize);
    const double westEasting = static_cast<double>(tileY) * -1.0 - 10000.0;  // easting of Y = tileY + 10000
    const double topNorthing = static_cast<double>(tileX) * -1.0;           // northing of X = tileX

    std::string text;
    text += FormatNumber(static_cast<double>(pixelSize)) + "\n";
    text += "0\n";
    text += "0\n";
    text += FormatNumber(negatedPixelSize) + "\n";
    text += FormatNumber(westEasting) + "\n";
    text += FormatNumber(topNorthing) + "\n";
    return text;
}

void WriteWorldFile(const std::string& path, const std::string& text) {
    // The rename would replace a write-protected world file without asking.
    if (platform::IsWriteProtected(path)) {
        throw std::runtime_error("cannot write " + path + ": it is write-protected");
    }
    platform::AtomicFile file(path);
    if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    file.Commit();
}

}  // namespace georef::tiling
