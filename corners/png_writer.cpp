#include "corners/png_writer.hpp"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <png.h>

#include "platform/failure.hpp"

namespace georef::corners {

namespace {

// libdeflate's fastest level: about three times the speed of zlib's
// fastest on a picture of a scan, and a slightly smaller stream.
constexpr int kDeflateLevel = 1;

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

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const noexcept { libdeflate_free_compressor(compressor); }
};

// The image data of the PNG: every row after its filter byte (0, none),
// deflated into one zlib stream.
std::vector<std::uint8_t> DeflatedRows(const cv::Mat& rgb) {
    const std::size_t rowBytes = static_cast<std::size_t>(rgb.cols) * 3;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(rgb.rows) * (rowBytes + 1));
    std::uint8_t* to = rows.data();
    for (int row = 0; row < rgb.rows; ++row) {
        *to++ = 0;
        std::memcpy(to, rgb.ptr<std::uint8_t>(row), rowBytes);
        to += rowBytes;
    }
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(kDeflateLevel));
    if (!compressor) {
        throw Failure("no memory to compress a PNG picture");
    }
    std::vector<std::uint8_t> stream(libdeflate_zlib_compress_bound(compressor.get(), rows.size()));
    const std::size_t size =
        libdeflate_zlib_compress(compressor.get(), rows.data(), rows.size(), stream.data(), stream.size());
    if (size == 0) {
        throw Failure("a PNG picture's rows cannot be compressed");
    }
    stream.resize(size);
    return stream;
}

// The one place libpng's errors land (by longjmp): nothing with a destructor
// lives here. libpng writes the signature and the header; the image data,
// compressed beforehand, goes in as one IDAT chunk, which libpng frames and
// checksums like any chunk, and IEND closes the file. False when libpng
// gave up.
bool WriteChunks(png_structp png, png_infop info, std::FILE* stream, const cv::Mat& rgb,
                 const std::vector<std::uint8_t>& idat) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, stream);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.cols), static_cast<png_uint_32>(rgb.rows), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    static const png_byte kIdat[5] = {'I', 'D', 'A', 'T', '\0'};
    static const png_byte kIend[5] = {'I', 'E', 'N', 'D', '\0'};
    png_write_chunk(png, kIdat, idat.data(), idat.size());
    png_write_chunk(png, kIend, nullptr, 0);
    png_write_flush(png);
    return true;
}

}  // namespace

void WriteRgbPng(std::FILE* stream, const cv::Mat& rgb) {
    if (rgb.type() != CV_8UC3 || rgb.empty()) {
        throw Failure("a PNG picture needs an 8-bit RGB image");
    }
    const std::vector<std::uint8_t> idat = DeflatedRows(rgb);
    if (idat.size() > PNG_UINT_31_MAX) {
        throw Failure("a PNG picture's image data exceeds one chunk");
    }
    PngProblem problem;
    const PngWriter writer(problem);
    if (writer.Png() == nullptr || writer.Info() == nullptr) {
        throw Failure("libpng cannot start a PNG file");
    }
    if (!WriteChunks(writer.Png(), writer.Info(), stream, rgb, idat)) {
        throw Failure(std::string("libpng: ") + problem.text);
    }
}

}  // namespace georef::corners
