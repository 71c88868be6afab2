#include "raster/jpeg_window.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/stdio_file.hpp"
#include "raster/jpeg_guard.hpp"
#include "raster/tile_image.hpp"

namespace georef::raster {

namespace {

// Decoded beyond the window on every side and dropped: the chroma of a
// pixel is interpolated from its neighbours, so the pixels at the edge of a
// cropped or skipped decoding are left to this margin, one MCU of the
// coarsest sampling.
constexpr int kMargin = 16;

struct Decoder {
    ErrorManager errors{};
    jpeg_decompress_struct d{};
    bool created = false;
    platform::StdioFile file;

    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() {
        if (created) {
            jpeg_destroy_decompress(&d);
        }
    }
};

struct HeaderContext {
    Decoder* decoder;
};

void ReadHeader(void* raw) {
    Decoder& decoder = *static_cast<HeaderContext*>(raw)->decoder;
    jpeg_create_decompress(&decoder.d);
    decoder.created = true;
    jpeg_stdio_src(&decoder.d, decoder.file.get());
    jpeg_read_header(&decoder.d, TRUE);
}

struct WindowContext {
    j_decompress_ptr d;
    int x, width;
    const RowRange* ranges;
    std::size_t rangeCount;
    const JpegRowTaker* take;
    std::uint8_t* row;  // one decoded row of the cropped columns
};

void DecodeWindow(void* raw) {
    WindowContext& c = *static_cast<WindowContext*>(raw);
    j_decompress_ptr d = c.d;
    d->out_color_space = JCS_RGB;
    jpeg_start_decompress(d);
    const int imageWidth = static_cast<int>(d->output_width);
    JDIMENSION left = static_cast<JDIMENSION>(std::max(0, c.x - kMargin));
    JDIMENSION columns = static_cast<JDIMENSION>(std::min(imageWidth, c.x + c.width + kMargin)) - left;
    if (left > 0 || static_cast<int>(columns) < imageWidth) {
        jpeg_crop_scanline(d, &left, &columns);  // widened to whole blocks
    }
    const std::size_t offset = static_cast<std::size_t>(c.x - static_cast<int>(left)) * 3;
    JSAMPROW row = c.row;
    for (std::size_t k = 0; k < c.rangeCount; ++k) {
        const RowRange& range = c.ranges[k];
        const int skipTo = std::max(0, range.first - kMargin);
        if (skipTo > static_cast<int>(d->output_scanline)) {
            jpeg_skip_scanlines(d, static_cast<JDIMENSION>(skipTo) - d->output_scanline);
        }
        while (static_cast<int>(d->output_scanline) < range.last) {
            const int r = static_cast<int>(d->output_scanline);
            jpeg_read_scanlines(d, &row, 1);
            if (r >= range.first) {
                (*c.take)(r, c.row + offset);
            }
        }
    }
    jpeg_abort_decompress(d);
}

void OpenDecoder(Decoder& decoder, const std::string& path) {
    decoder.file = platform::OpenStdioFile(path, "rb");
    if (decoder.file == nullptr) {
        throw TileError("cannot read " + path + ": " + std::strerror(errno));
    }
    InitErrors(decoder.errors);
    decoder.d.err = &decoder.errors.pub;
    HeaderContext context{&decoder};
    if (!RunGuarded(decoder.errors, ReadHeader, &context)) {
        throw JpegError(path + ": " + decoder.errors.message);
    }
}

}  // namespace

JpegSize ReadJpegSize(const std::string& path) {
    Decoder decoder;
    OpenDecoder(decoder, path);
    return {static_cast<int>(decoder.d.image_width), static_cast<int>(decoder.d.image_height)};
}

void DecodeJpegRows(const std::string& path, int x, int width, const std::vector<RowRange>& rows,
                    const JpegRowTaker& take) {
    Decoder decoder;
    OpenDecoder(decoder, path);
    const jpeg_decompress_struct& d = decoder.d;
    const bool rgbable =
        d.jpeg_color_space == JCS_GRAYSCALE || d.jpeg_color_space == JCS_YCbCr || d.jpeg_color_space == JCS_RGB;
    if (!rgbable) {
        throw JpegError(path + ": not an RGB or greyscale JPEG");
    }
    bool inside = width >= 1 && x >= 0 && static_cast<long long>(x) + width <= d.image_width && !rows.empty();
    for (std::size_t k = 0; k < rows.size() && inside; ++k) {
        inside = rows[k].first >= (k == 0 ? 0 : rows[k - 1].last) && rows[k].last > rows[k].first &&
                 static_cast<long long>(rows[k].last) <= d.image_height;
    }
    if (!inside) {
        throw JpegError(path + ": the window lies outside the image");
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(d.image_width) * 3);
    WindowContext context{&decoder.d, x, width, rows.data(), rows.size(), &take, row.data()};
    if (!RunGuarded(decoder.errors, DecodeWindow, &context)) {
        throw JpegError(path + ": " + decoder.errors.message);
    }
}

void DecodeJpegRows(const std::string& path, int x, int y, int width, int height, const JpegRowTaker& take) {
    DecodeJpegRows(path, x, width, {RowRange{y, y + height}}, take);
}

void DecodeJpegWindow(const std::string& path, int x, int y, int width, int height, std::uint8_t* rgb,
                      std::size_t stride) {
    const std::size_t bytes = static_cast<std::size_t>(width) * 3;
    DecodeJpegRows(path, x, y, width, height, [&](int row, const std::uint8_t* pixels) {
        std::memcpy(rgb + static_cast<std::size_t>(row - y) * stride, pixels, bytes);
    });
}

}  // namespace georef::raster
