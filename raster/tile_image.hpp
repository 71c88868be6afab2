#pragma once
// One output tile while it is painted: TileSize x TileSize RGB pixels, top
// row first, three bytes per pixel, with its JPEG file. A tile that exists is
// decoded first and written back at quality 75; a new tile starts white and
// is written at quality 70. Writing goes through a temporary file that
// replaces the tile only when complete.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace georef::raster {

class SourceRaster;

// The tile file cannot be read, created or replaced; the run may go on with
// the next tile.
class TileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The JPEG library gave up (for example "Not a JPEG file: ..."); what() holds
// the library's message. The tile file is unchanged.
class JpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Size in bytes of the regular file under the name (the full 64-bit size),
// or -1 when there is none.
std::int64_t FileSizeOf(const std::string& name) noexcept;

// The open-or-create decision: true when the name exists, is not a
// directory and holds more than 0 bytes. A missing name, a directory and an
// empty file all make a new tile.
bool TileExists(const std::string& name) noexcept;

// What LoadPixels found in the tile file: the size and components it
// decodes to, and whether its pixels were taken (false: another size or
// colour model, the buffer was made white instead).
struct LoadedTile {
    bool merged = false;
    int width = 0;
    int height = 0;
    int components = 0;
};

// Life of one tile: AllocateBuffer, then either OpenExisting + LoadPixels or
// CreateNew + ClearWhite, painting, Save, CloseFile. The file is replaced
// only by a complete JPEG: the encoder writes a temporary file beside the
// tile, which is renamed over it when Save succeeds and removed otherwise.
class TileImage {
public:
    TileImage();
    ~TileImage();  // releases everything still held; an unsaved tile file stays as it was

    TileImage(const TileImage&) = delete;
    TileImage& operator=(const TileImage&) = delete;

    // n x n pixels, content undefined. Throws std::invalid_argument unless
    // 1 <= n and n * n * 3 < 2^31.
    void AllocateBuffer(int n);

    // Opens an existing tile and starts decoding; also prepares its
    // replacement, so a tile that could not be written back is refused
    // before any painting. Throws TileError when the tile cannot be read or
    // replaced (write-protected, directory not writable), JpegError when it
    // is not a JPEG. Without a buffer, the tile takes the decoded size; with
    // one, a tile of another size is read no further than its header.
    void OpenExisting(const std::string& name);

    // Decodes into the buffer. Greyscale tiles are converted to RGB; a tile
    // of another size, or one that does not decode to three components
    // (CMYK), gives a white buffer instead, which the result tells. Throws
    // JpegError when decoding fails; the tile file is unchanged.
    LoadedTile LoadPixels();

    // Prepares a new tile (quality 70). Throws TileError when it cannot be
    // created (a directory of that name, a missing or read-only directory).
    void CreateNew(const std::string& name);

    // Every byte of the buffer to 255.
    void ClearWhite() noexcept;

    // Bilinear sample of the scan at column position x, row position y (plane
    // frame: row 0 at the top, in scan pixels) into pixel pixelIndex
    // (row * width + column of this tile). rowLength must be the scan's
    // Width(). Positions outside 0 <= x < width - 1, 0 <= y < height - 1 (and
    // NaN) leave the pixel untouched, as does an index outside the buffer.
    void SamplePixel(const SourceRaster& source, int rowLength, int pixelIndex, double x, double y) noexcept;

    // Encodes the buffer as a baseline RGB JPEG (quality 70 for a new tile,
    // 75 for one that existed) and replaces the tile file. Throws JpegError
    // when the library gives up (for example "Output file write error ---
    // out of disk space?"), TileError when the file cannot be replaced; the
    // tile file is then unchanged and no temporary file is left.
    //
    // Rows are encoded top first, one at a time. When waitForRow is given it
    // is called with each row's index before that row is read, so the buffer
    // may still be painted below it: the caller returns once the row is
    // final. Whatever waitForRow throws ends the encoding like a JpegError
    // (nothing replaced, no temporary file) and propagates.
    void Save(const std::function<void(int row)>& waitForRow = nullptr);

    // Closes the tile's file; a replacement not yet saved is discarded.
    void CloseFile() noexcept;

    int Width() const noexcept { return m_width; }
    int Height() const noexcept { return m_height; }
    std::uint8_t* Pixels() noexcept { return m_pixels.get(); }
    const std::uint8_t* Pixels() const noexcept { return m_pixels.get(); }

private:
    void Allocate(int width, int height);

    struct Impl;  // libjpeg objects, the open file and the pending replacement
    std::unique_ptr<Impl> m_impl;
    std::string m_name;
    int m_width = -1;
    int m_height = -1;
    bool m_bufferAllocated = false;
    bool m_existed = false;  // decoded from an existing file: written back at quality 75
    std::unique_ptr<std::uint8_t[]> m_pixels;
};

// The bilinear sampling of one pixel (see TileImage::SamplePixel), exposed
// for the renderer's hot path. pixels are width x height pixels of three
// interleaved bytes (band 1, 2, 3), rowLength (== width) pixels per row, as
// SourceRaster holds them; x, y in the plane frame; rgb receives three bytes.
// Returns false, writing nothing, when the position is outside
// 0 <= x < width - 1, 0 <= y < height - 1.
inline bool SampleBilinear(const std::uint8_t* pixels, int rowLength, int width, int height, double x,
                           double y, std::uint8_t* rgb) noexcept;

}  // namespace georef::raster

#include "raster/sample_bilinear.inl"
