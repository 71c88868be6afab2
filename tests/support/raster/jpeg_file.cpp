#include "support/raster/jpeg_file.hpp"
#include "platform/stdio_file.hpp"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <jpeglib.h>

namespace georef::test {

namespace {

// Fatal libjpeg errors jump back to Guarded with the library's message,
// which the caller throws once no libjpeg frame is left on the stack.
struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void Jump(j_common_ptr cinfo) {
    Errors* errors = reinterpret_cast<Errors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

void InitErrors(Errors& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = Jump;
    errors.message[0] = '\0';
}

bool Guarded(Errors& errors, void (*step)(void*), void* context) {
    if (setjmp(errors.jump) != 0) {
        return false;
    }
    step(context);
    return true;
}

using File = platform::StdioFile;

// Throws when the file cannot be opened.
File OpenFile(const std::string& path, const char* mode) {
    File file = platform::OpenStdioFile(path, mode);
    if (!file) {
        throw std::runtime_error("cannot open " + path);
    }
    return file;
}

struct ReadContext {
    j_decompress_ptr d;
    std::FILE* file;
    JpegImage* image;
};

void ReadSteps(void* raw) {
    ReadContext* context = static_cast<ReadContext*>(raw);
    j_decompress_ptr d = context->d;
    JpegImage* image = context->image;
    jpeg_create_decompress(d);
    jpeg_stdio_src(d, context->file);
    jpeg_read_header(d, TRUE);
    image->width = static_cast<int>(d->image_width);
    image->height = static_cast<int>(d->image_height);
    image->components = d->num_components;
    image->progressive = d->progressive_mode != 0;
    if (d->quant_tbl_ptrs[0] != nullptr) {
        for (int i = 0; i < 64; ++i) {
            image->luminance[static_cast<std::size_t>(i)] = d->quant_tbl_ptrs[0]->quantval[i];
        }
    }
    if (d->num_components == 4) {
        return;  // CMYK is not decoded
    }
    d->out_color_space = JCS_RGB;
    jpeg_start_decompress(d);
    image->rgb.resize(static_cast<std::size_t>(d->output_width) * d->output_height * 3);
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = image->rgb.data() + static_cast<std::size_t>(d->output_scanline) * d->output_width * 3;
        jpeg_read_scanlines(d, &row, 1);
    }
    jpeg_finish_decompress(d);
}

struct WriteContext {
    j_compress_ptr c;
    std::FILE* file;
    int width;
    int height;
    const JpegOptions* options;
    const std::uint8_t* samples;  // height rows of width * components bytes
};

void WriteSteps(void* raw) {
    WriteContext* context = static_cast<WriteContext*>(raw);
    j_compress_ptr c = context->c;
    const int components = context->options->components;
    jpeg_create_compress(c);
    jpeg_stdio_dest(c, context->file);
    c->image_width = static_cast<JDIMENSION>(context->width);
    c->image_height = static_cast<JDIMENSION>(context->height);
    c->input_components = components;
    c->in_color_space = components == 1 ? JCS_GRAYSCALE : (components == 4 ? JCS_CMYK : JCS_RGB);
    jpeg_set_defaults(c);
    jpeg_set_quality(c, context->options->quality, TRUE);
    if (context->options->progressive) {
        jpeg_simple_progression(c);
    }
    jpeg_start_compress(c, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(context->width) * components;
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(context->samples) + c->next_scanline * rowBytes;
        jpeg_write_scanlines(c, &row, 1);
    }
    jpeg_finish_compress(c);
}

}  // namespace

Rgb JpegImage::At(int column, int row) const {
    const std::size_t at = (static_cast<std::size_t>(row) * width + column) * 3;
    return Rgb{rgb.at(at), rgb.at(at + 1), rgb.at(at + 2)};
}

JpegImage ReadJpeg(const std::string& path) {
    File file = OpenFile(path, "rb");
    JpegImage image;
    Errors errors;
    InitErrors(errors);
    jpeg_decompress_struct d{};
    d.err = &errors.pub;
    ReadContext context{&d, file.get(), &image};
    const bool ok = Guarded(errors, ReadSteps, &context);
    jpeg_destroy_decompress(&d);
    if (!ok) {
        throw std::runtime_error(path + ": " + errors.message);
    }
    return image;
}

QuantTable LuminanceTableForQuality(int quality) {
    jpeg_compress_struct c{};
    Errors errors;
    InitErrors(errors);
    c.err = &errors.pub;
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    QuantTable table{};
    for (int i = 0; i < 64; ++i) {
        table[static_cast<std::size_t>(i)] = c.quant_tbl_ptrs[0]->quantval[i];
    }
    jpeg_destroy_compress(&c);
    return table;
}

void WriteJpeg(const std::string& path, int width, int height, const PixelColour& colour,
               const JpegOptions& options) {
    const int components = options.components;
    if (components != 1 && components != 3 && components != 4) {
        throw std::invalid_argument("a JPEG has 1, 3 or 4 components");
    }
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height * components);
    std::size_t at = 0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const Rgb pixel = colour(c, r);
            const std::uint8_t all[4] = {pixel.r, pixel.g, pixel.b, 0};
            for (int k = 0; k < components; ++k) {
                samples[at++] = all[k];
            }
        }
    }
    File file = OpenFile(path, "wb");
    Errors errors;
    InitErrors(errors);
    jpeg_compress_struct c{};
    c.err = &errors.pub;
    WriteContext context{&c, file.get(), width, height, &options, samples.data()};
    const bool ok = Guarded(errors, WriteSteps, &context);
    jpeg_destroy_compress(&c);
    if (!ok) {
        throw std::runtime_error(path + ": " + errors.message);
    }
    if (std::fflush(file.get()) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteUniformJpeg(const std::string& path, int width, int height, Rgb colour, const JpegOptions& options) {
    WriteJpeg(path, width, height, [colour](int, int) { return colour; }, options);
}

}  // namespace georef::test
