#pragma once
// Plain libjpeg encoding and decoding of an RGB tile buffer with the
// settings the program uses for its tiles (library defaults, baseline,
// the given quality), for the benchmarks and the I/O floor.

#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace georef::bench {

// The JPEG library gave up; what() holds its message.
class CodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Encodes width x height RGB pixels (rows top first, 3 bytes per pixel)
// into file, from its current position.
void EncodeRgb(std::FILE* file, const std::uint8_t* pixels, int width, int height, int quality);

// Decodes an RGB JPEG from file into pixels, which must hold width x height
// x 3 bytes; throws CodecError when the image has another size or is not
// three-component.
void DecodeRgb(std::FILE* file, std::uint8_t* pixels, int width, int height);

// Size of the JPEG in file: width and height in pixels.
void ReadJpegSize(std::FILE* file, int& width, int& height);

}  // namespace georef::bench
