#pragma once
// One output tile while it is painted: TileSize x TileSize RGB pixels, top
// row first, three bytes per pixel, with its JPEG file. A tile that exists is
// decoded first and written back at quality 75; a new tile starts white and
// is written at quality 70. Writing goes through a temporary file that
// replaces the tile only when complete.

#include <cstdint>
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

// Size in bytes of the file, or -1 when there is none.
std::int64_t FileSizeOf(const std::string& name) noexcept;

// The open-or-create decision: true when the name exists, is not a
// directory and holds more than 0 bytes.
bool TileExists(const std::string& name) noexcept;

class TileImage {
public:
    TileImage();
    ~TileImage();

    TileImage(const TileImage&) = delete;
    TileImage& operator=(const TileImage&) = delete;

    // n x n pixels, content undefined. Requires 1 <= n and n * n * 3 < 2^31.
    void AllocateBuffer(int n);

    // Opens an existing tile and starts decoding. Throws TileError when it
    // cannot be opened, JpegError when it is not a JPEG.
    void OpenExisting(const std::string& name);

    // Decodes into the buffer; a tile of another size, or one that does not
    // decode to RGB, gives a white buffer instead. Throws JpegError.
    void LoadPixels();

    // Prepares a new tile (quality 70). Throws TileError when it cannot be
    // created.
    void CreateNew(const std::string& name);

    void ClearWhite() noexcept;

    // Bilinear sample of the scan at column position x, row position y (plane
    // frame: row 0 at the top) into pixel pixelIndex. Positions outside
    // 0 <= x < width - 1, 0 <= y < height - 1 leave the pixel untouched.
    void SamplePixel(const SourceRaster& source, int rowLength, int pixelIndex, double x, double y) noexcept;

    // Encodes the buffer and replaces the tile file. Throws TileError or
    // JpegError; the tile file is then unchanged.
    void Save();

    void CloseFile() noexcept;

    int Width() const noexcept { return m_width; }
    int Height() const noexcept { return m_height; }
    std::uint8_t* Pixels() noexcept { return m_pixels.get(); }
    const std::uint8_t* Pixels() const noexcept { return m_pixels.get(); }

private:
    struct Impl;  // libjpeg objects and the open file
    std::unique_ptr<Impl> m_impl;
    std::string m_name;
    int m_width = -1;
    int m_height = -1;
    bool m_bufferAllocated = false;
    bool m_existed = false;  // decoded from an existing file: written back at quality 75
    std::unique_ptr<std::uint8_t[]> m_pixels;
};

// The bilinear sampling of one pixel (see TileImage::SamplePixel), exposed
// for the renderer's hot path. Returns false, writing nothing, when the
// position is outside the domain.
inline bool SampleBilinear(const std::uint8_t* const planes[3], int rowLength, int width, int height,
                           double x, double y, std::uint8_t* rgb) noexcept;

}  // namespace georef::raster

#include "raster/sample_bilinear.inl"
