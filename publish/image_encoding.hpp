#pragma once
// Image files of the publishing steps, encoded by GDAL's JPEG and PNG
// drivers in memory and written through a temporary file beside the target.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/atomic_file.hpp"
#include "publish/rgba_image.hpp"

namespace georef::publish {

// JPEG bytes of an RGB image (width * height * 3, top row first). Throws
// PublishError.
std::vector<std::uint8_t> EncodeJpeg(const std::uint8_t* rgb, int width, int height, int quality);

// PNG bytes of an RGBA image. Throws PublishError.
std::vector<std::uint8_t> EncodePng(const RgbaImage& image);

// Decodes a PNG or JPEG file into RGBA (alpha 255 for JPEG); empty when
// GDAL cannot read it or it is not square.
std::vector<std::uint8_t> DecodeRgba(const std::string& path, int& size);

// Writes bytes to path through a temporary file, renamed when complete.
// Throws PublishError.
void WriteFileAtomically(const std::string& path, const void* bytes, std::size_t count,
                         platform::Durability durability = platform::Durability::synced);

}  // namespace georef::publish
