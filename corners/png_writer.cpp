#include "corners/png_writer.hpp"

#include <csetjmp>
#include <cstring>
#include <string>

#include <png.h>

#include "platform/failure.hpp"

namespace georef::corners {

namespace {

// What libpng said when it gave up.
struct PngProblem {
    char text[200] = "libpng gave no reason";
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto* problem = static_cast<PngProblem*>(png_get_error_ptr(png));
    std::snprintf(problem->text, sizeof problem->text, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// The write struct and its info, destroyed together.
class PngWriter {
public:
    explicit PngWriter(PngProblem& problem)
        : m_png(png_create_write_struct(PNG_LIBPNG_VER_STRING, &problem, OnError, OnWarning)) {
        if (m_png != nullptr) {
            m_info = png_create_info_struct(m_png);
        }
    }
    ~PngWriter() { png_destroy_write_struct(&m_png, m_info != nullptr ? &m_info : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    png_structp Png() const noexcept { return m_png; }
    png_infop Info() const noexcept { return m_info; }

private:
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

// The one place libpng's errors land (by longjmp): nothing with a destructor
// lives here. False when libpng gave up.
bool WriteRows(png_structp png, png_infop info, std::FILE* stream, const cv::Mat& rgb) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, stream);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.cols), static_cast<png_uint_32>(rgb.rows), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (int row = 0; row < rgb.rows; ++row) {
        png_write_row(png, rgb.ptr<png_byte>(row));
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

void WriteRgbPng(std::FILE* stream, const cv::Mat& rgb) {
    if (rgb.type() != CV_8UC3 || rgb.empty()) {
        throw Failure("a PNG picture needs an 8-bit RGB image");
    }
    PngProblem problem;
    const PngWriter writer(problem);
    if (writer.Png() == nullptr || writer.Info() == nullptr) {
        throw Failure("libpng cannot start a PNG file");
    }
    if (!WriteRows(writer.Png(), writer.Info(), stream, rgb)) {
        throw Failure(std::string("libpng: ") + problem.text);
    }
}

}  // namespace georef::corners
