#include "raster/tile_image.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "platform/atomic_file.hpp"
#include "raster/jpeg_guard.hpp"
#include "platform/file_system.hpp"
#include "platform/stdio_file.hpp"

namespace georef::raster {

namespace {

constexpr int kNewTileQuality = 70;        // a tile written for the first time
constexpr int kRewrittenTileQuality = 75;  // a tile that existed before this run

// Steps run under RunGuarded. Their contexts hold plain pointers only.

struct OpenContext {
    j_decompress_ptr decompressor;
    std::FILE* file;
};

void ReadHeader(void* raw) {
    OpenContext* context = static_cast<OpenContext*>(raw);
    j_decompress_ptr d = context->decompressor;
    jpeg_create_decompress(d);
    jpeg_stdio_src(d, context->file);
    jpeg_read_header(d, FALSE);
    // Tiles are RGB; a greyscale tile is widened to RGB by the library.
    // CMYK and YCCK stay as they are and are refused by LoadPixels.
    if (d->jpeg_color_space == JCS_GRAYSCALE || d->jpeg_color_space == JCS_YCbCr ||
        d->jpeg_color_space == JCS_RGB) {
        d->out_color_space = JCS_RGB;
    }
}

void StartDecoding(void* raw) {
    jpeg_start_decompress(static_cast<OpenContext*>(raw)->decompressor);
}

struct DecodeContext {
    j_decompress_ptr decompressor;
    std::uint8_t* pixels;  // output_height rows of output_width * 3 bytes
};

void DecodeRows(void* raw) {
    DecodeContext* context = static_cast<DecodeContext*>(raw);
    j_decompress_ptr d = context->decompressor;
    const std::size_t rowBytes = static_cast<std::size_t>(d->output_width) * 3;
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = context->pixels + d->output_scanline * rowBytes;
        jpeg_read_scanlines(d, &row, 1);
    }
    jpeg_finish_decompress(d);
}

struct EncodeContext {
    j_compress_ptr compressor;
    std::FILE* file;
    const std::uint8_t* pixels;  // height rows of width * 3 bytes, RGB
    int width;
    int height;
    int quality;
};

void StartEncoding(void* raw) {
    EncodeContext* context = static_cast<EncodeContext*>(raw);
    j_compress_ptr c = context->compressor;
    jpeg_create_compress(c);
    jpeg_stdio_dest(c, context->file);
    c->image_width = static_cast<JDIMENSION>(context->width);
    c->image_height = static_cast<JDIMENSION>(context->height);
    c->input_components = 3;
    c->in_color_space = JCS_RGB;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, context->quality, TRUE);
    jpeg_start_compress(c, TRUE);
}

// Encodes the next scanline.
void EncodeRow(void* raw) {
    EncodeContext* context = static_cast<EncodeContext*>(raw);
    j_compress_ptr c = context->compressor;
    const std::size_t rowBytes = static_cast<std::size_t>(context->width) * 3;
    // libjpeg's row type is not const but the encoder only reads it.
    JSAMPROW row = const_cast<std::uint8_t*>(context->pixels) + c->next_scanline * rowBytes;
    jpeg_write_scanlines(c, &row, 1);
}

void FinishEncoding(void* raw) {
    jpeg_finish_compress(static_cast<EncodeContext*>(raw)->compressor);
}

std::string SystemReason() {
    return std::strerror(errno);
}

// The temporary file that will replace the tile. A write-protected tile is
// refused: the rename alone would not ask.
std::unique_ptr<platform::AtomicFile> PrepareReplacement(const std::string& name) {
    if (platform::IsWriteProtected(name)) {
        throw TileError("cannot write tile " + name + ": it is write-protected");
    }
    try {
        return std::make_unique<platform::AtomicFile>(name);
    } catch (const std::runtime_error& e) {
        throw TileError(e.what());
    }
}

}  // namespace

struct TileImage::Impl {
    ErrorManager errors{};  // shared by the decompressor and the compressor
    jpeg_decompress_struct decompressor{};
    jpeg_compress_struct compressor{};
    bool decompressing = false;  // decompressor created, not yet destroyed
    bool started = false;        // jpeg_start_decompress done: the rows can be read
    platform::StdioFile readFile;  // the existing tile, open "rb"
    std::unique_ptr<platform::AtomicFile> replacement;  // committed by Save

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() { Release(); }

    void EndDecoding() noexcept {
        if (decompressing) {
            jpeg_destroy_decompress(&decompressor);
            decompressing = false;
            started = false;
        }
    }

    void CloseReadFile() noexcept { readFile.reset(); }

    void Release() noexcept {
        EndDecoding();
        CloseReadFile();
        replacement.reset();  // uncommitted: the temporary file goes, the tile stays
    }
};

std::int64_t FileSizeOf(const std::string& name) noexcept {
    return platform::FileSize(name).value_or(-1);
}

bool TileExists(const std::string& name) noexcept {
    return platform::Exists(name) && !platform::IsDirectory(name) && FileSizeOf(name) > 0;
}

TileImage::TileImage() : m_impl(std::make_unique<Impl>()) {}

TileImage::~TileImage() = default;

void TileImage::Allocate(int width, int height) {
    // The byte count must fit the 32-bit product the buffer layout is defined by.
    if (width < 1 || height < 1 || static_cast<long long>(width) * height * 3 >= (1LL << 31)) {
        throw std::invalid_argument("tile size " + std::to_string(width) + " x " + std::to_string(height) +
                                    " out of range");
    }
    // Not initialised: every tile fills its buffer (decoded, or white) before
    // painting, and zeroing 67 MB first would cost a pass over it and fault
    // its pages in on one thread instead of on the painting threads.
    m_pixels.reset(new std::uint8_t[static_cast<std::size_t>(width) * height * 3]);
    m_width = width;
    m_height = height;
    m_bufferAllocated = true;
}

void TileImage::AllocateBuffer(int n) {
    Allocate(n, n);
}

void TileImage::OpenExisting(const std::string& name) {
    Impl& impl = *m_impl;
    impl.Release();
    m_name = name;
    m_existed = true;
    try {
        impl.readFile = platform::OpenStdioFile(name, "rb");
        if (impl.readFile == nullptr) {
            throw TileError("cannot read tile " + name + ": " + SystemReason());
        }
        impl.replacement = PrepareReplacement(name);

        InitErrors(impl.errors);
        impl.decompressor = jpeg_decompress_struct{};
        impl.decompressor.err = &impl.errors.pub;
        impl.decompressing = true;  // zeroed, so destroying it is safe from here on
        OpenContext context{&impl.decompressor, impl.readFile.get()};
        if (!RunGuarded(impl.errors, ReadHeader, &context)) {
            throw JpegError(impl.errors.message);
        }
        // Decoded at full scale: the rows have the size the header states.
        const long long width = impl.decompressor.image_width;
        const long long height = impl.decompressor.image_height;
        if (m_bufferAllocated && (width != m_width || height != m_height)) {
            // Not merged (LoadPixels starts it white), so not decoded either:
            // starting a progressive JPEG holds every coefficient of the size
            // its header claims, whatever the file really holds.
            return;
        }
        if (!m_bufferAllocated && width * height * 3 >= (1LL << 31)) {
            throw TileError("tile " + name + " is too large");
        }
        if (!RunGuarded(impl.errors, StartDecoding, &context)) {
            throw JpegError(impl.errors.message);
        }
        impl.started = true;
        if (!m_bufferAllocated) {
            Allocate(static_cast<int>(width), static_cast<int>(height));
        }
    } catch (...) {
        impl.Release();
        throw;
    }
}

LoadedTile TileImage::LoadPixels() {
    Impl& impl = *m_impl;
    if (!impl.decompressing || !m_bufferAllocated) {
        throw std::logic_error("TileImage::LoadPixels without an opened tile");
    }
    const jpeg_decompress_struct& d = impl.decompressor;
    LoadedTile loaded;
    // A tile of another size was not started: its header gives its size.
    loaded.width = static_cast<int>(impl.started ? d.output_width : d.image_width);
    loaded.height = static_cast<int>(impl.started ? d.output_height : d.image_height);
    loaded.components = impl.started ? d.output_components : d.num_components;
    const bool fits = impl.started && d.output_width == static_cast<JDIMENSION>(m_width) &&
                      d.output_height == static_cast<JDIMENSION>(m_height) && d.output_components == 3;
    if (!fits) {
        // Written at another resolution or in another colour model: not merged.
        ClearWhite();
        impl.EndDecoding();
        return loaded;
    }
    DecodeContext context{&impl.decompressor, m_pixels.get()};
    const bool decoded = RunGuarded(impl.errors, DecodeRows, &context);
    impl.EndDecoding();
    if (!decoded) {
        impl.Release();
        throw JpegError(impl.errors.message);
    }
    loaded.merged = true;
    return loaded;
}

void TileImage::CreateNew(const std::string& name) {
    Impl& impl = *m_impl;
    impl.Release();
    m_name = name;
    m_existed = false;
    if (platform::IsDirectory(name)) {
        throw TileError("cannot create tile " + name + ": a directory of that name exists");
    }
    impl.replacement = PrepareReplacement(name);
}

void TileImage::ClearWhite() noexcept {
    if (m_pixels != nullptr) {
        std::memset(m_pixels.get(), 255, static_cast<std::size_t>(m_width) * m_height * 3);
    }
}

void TileImage::Save(const std::function<void(int row)>& waitForRow) {
    Impl& impl = *m_impl;
    if (impl.replacement == nullptr || !m_bufferAllocated) {
        throw std::logic_error("TileImage::Save without an opened or created tile");
    }
    // The old tile is read no more; it stays in place until the rename.
    impl.EndDecoding();
    impl.CloseReadFile();

    InitErrors(impl.errors);
    impl.compressor = jpeg_compress_struct{};  // zeroed: destroying it is safe from here on
    impl.compressor.err = &impl.errors.pub;
    EncodeContext context{&impl.compressor,
                          impl.replacement->Stream(),
                          m_pixels.get(),
                          m_width,
                          m_height,
                          m_existed ? kRewrittenTileQuality : kNewTileQuality};
    // Each libjpeg call runs guarded on its own, so that waitForRow runs
    // outside the guard and may throw.
    try {
        if (!RunGuarded(impl.errors, StartEncoding, &context)) {
            throw JpegError(impl.errors.message);
        }
        while (impl.compressor.next_scanline < impl.compressor.image_height) {
            if (waitForRow) {
                waitForRow(static_cast<int>(impl.compressor.next_scanline));
            }
            if (!RunGuarded(impl.errors, EncodeRow, &context)) {
                throw JpegError(impl.errors.message);
            }
        }
        if (!RunGuarded(impl.errors, FinishEncoding, &context)) {
            throw JpegError(impl.errors.message);
        }
    } catch (...) {
        jpeg_destroy_compress(&impl.compressor);
        impl.replacement.reset();  // the temporary file goes, the tile stays
        throw;
    }
    jpeg_destroy_compress(&impl.compressor);
    try {
        impl.replacement->Commit();
    } catch (const std::runtime_error& e) {
        impl.replacement.reset();
        throw TileError(e.what());
    }
    impl.replacement.reset();
}

void TileImage::CloseFile() noexcept {
    m_impl->Release();
}

}  // namespace georef::raster
