#include "publish/rgba_image.hpp"

#include <cstring>
#include <stdexcept>

namespace georef::publish {

RgbaImage Halve(const RgbaImage& image) {
    if (image.size % 2 != 0) {
        throw std::invalid_argument("an image of odd size cannot be halved");
    }
    RgbaImage half(image.size / 2);
    for (int row = 0; row < half.size; ++row) {
        const std::uint8_t* top = image.Row(2 * row);
        const std::uint8_t* bottom = image.Row(2 * row + 1);
        std::uint8_t* out = half.Row(row);
        for (int column = 0; column < half.size; ++column) {
            const std::uint8_t* p[4] = {top + 8 * column, top + 8 * column + 4, bottom + 8 * column,
                                        bottom + 8 * column + 4};
            const unsigned alpha = p[0][3] + p[1][3] + p[2][3] + p[3][3];  // 0 .. 1020
            std::uint8_t* q = out + 4 * column;
            if (alpha == 0) {
                std::memset(q, 0, 4);
                continue;
            }
            for (int band = 0; band < 3; ++band) {
                const unsigned weighted =
                    p[0][band] * p[0][3] + p[1][band] * p[1][3] + p[2][band] * p[2][3] + p[3][band] * p[3][3];
                q[band] = static_cast<std::uint8_t>((weighted + alpha / 2) / alpha);
            }
            q[3] = static_cast<std::uint8_t>((alpha + 2) / 4);
        }
    }
    return half;
}

RgbaImage Crop(const RgbaImage& image, int column, int row, int side) {
    RgbaImage part(side);
    for (int k = 0; k < side; ++k) {
        std::memcpy(part.Row(k), image.Row(row + k) + 4 * column, static_cast<std::size_t>(side) * 4);
    }
    return part;
}

void Paste(RgbaImage& image, const RgbaImage& part, int column, int row) {
    for (int k = 0; k < part.size; ++k) {
        std::memcpy(image.Row(row + k) + 4 * column, part.Row(k), static_cast<std::size_t>(part.size) * 4);
    }
}

TileCoverage CoverageOf(const RgbaImage& image) noexcept {
    bool any = false;
    bool all = true;
    for (std::size_t k = 3; k < image.pixels.size(); k += 4) {
        any = any || image.pixels[k] != 0;
        all = all && image.pixels[k] == 255;
    }
    return all ? TileCoverage::full : any ? TileCoverage::partial : TileCoverage::empty;
}

std::vector<std::uint8_t> OverWhite(const RgbaImage& image) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(image.size) * image.size * 3);
    for (std::size_t k = 0, j = 0; k < image.pixels.size(); k += 4, j += 3) {
        const unsigned alpha = image.pixels[k + 3];
        for (int band = 0; band < 3; ++band) {
            rgb[j + band] = static_cast<std::uint8_t>((image.pixels[k + band] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
    }
    return rgb;
}

}  // namespace georef::publish
