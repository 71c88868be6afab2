#include "bench/jpeg_codec.hpp"

#include <cstddef>
#include <string>

#include <jpeglib.h>

namespace georef::bench {

namespace {

// Turns the library's fatal errors into CodecError. libjpeg-turbo is built
// with unwind tables, so the exception passes through its frames; the owner
// objects below destroy the library's objects on the way out.
[[noreturn]] void ThrowCodecError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    throw CodecError(message);
}

struct Compressor {
    jpeg_error_mgr errors{};
    jpeg_compress_struct cinfo{};
    Compressor() {
        cinfo.err = jpeg_std_error(&errors);
        errors.error_exit = ThrowCodecError;
        jpeg_create_compress(&cinfo);
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

struct Decompressor {
    jpeg_error_mgr errors{};
    jpeg_decompress_struct cinfo{};
    Decompressor() {
        cinfo.err = jpeg_std_error(&errors);
        errors.error_exit = ThrowCodecError;
        jpeg_create_decompress(&cinfo);
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

}  // namespace

void EncodeRgb(std::FILE* file, const std::uint8_t* pixels, int width, int height, int quality) {
    Compressor compressor;
    jpeg_compress_struct& c = compressor.cinfo;
    jpeg_stdio_dest(&c, file);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(pixels) + c.next_scanline * rowBytes;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
}

void DecodeRgb(std::FILE* file, std::uint8_t* pixels, int width, int height) {
    Decompressor decompressor;
    jpeg_decompress_struct& d = decompressor.cinfo;
    jpeg_stdio_src(&d, file);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    if (d.output_width != static_cast<JDIMENSION>(width) || d.output_height != static_cast<JDIMENSION>(height) ||
        d.output_components != 3) {
        throw CodecError("the JPEG is not a " + std::to_string(width) + " x " + std::to_string(height) +
                         " RGB image");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pixels + d.output_scanline * rowBytes;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
}

void ReadJpegSize(std::FILE* file, int& width, int& height) {
    Decompressor decompressor;
    jpeg_decompress_struct& d = decompressor.cinfo;
    jpeg_stdio_src(&d, file);
    jpeg_read_header(&d, TRUE);
    width = static_cast<int>(d.image_width);
    height = static_cast<int>(d.image_height);
}

}  // namespace georef::bench
