#include "corners/scan_image.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include "gdal_support/quiet_errors.hpp"
#include "platform/failure.hpp"

namespace georef::corners {

namespace {

// Smallest scan edge worth searching, pixels: far below any sheet at 100 dpi,
// large enough for the search's filters.
constexpr int kMinimumEdge = 64;
// Largest scan edge, pixels: a 1:25 000 sheet at 2400 dpi is about 70 000.
constexpr int kMaximumEdge = 200000;
// GDAL's block cache while reading: a few strips, not a decoded copy of the
// whole scan.
constexpr GIntBig kReadCacheBytes = 32 * 1024 * 1024;
// Rows of one strip of the windows pass: about 8 MiB of RGB at 8500 columns,
// well within GDAL's cache, so every window meeting a strip finds the strip's
// rows decoded by the first that read them.
constexpr int kStripBytes = 8 * 1024 * 1024;

// While alive, makes the JPEG driver of this thread fail on the JPEG
// library's warnings ("Premature end of JPEG file"), which otherwise only
// warn and leave the rest of the image grey.
class JpegWarningsFail {
public:
    JpegWarningsFail() {
        const char* previous = CPLGetThreadLocalConfigOption(kOption, nullptr);
        if (previous != nullptr) {
            m_previous = previous;
        }
        CPLSetThreadLocalConfigOption(kOption, "TRUE");
    }
    ~JpegWarningsFail() { CPLSetThreadLocalConfigOption(kOption, m_previous ? m_previous->c_str() : nullptr); }
    JpegWarningsFail(const JpegWarningsFail&) = delete;
    JpegWarningsFail& operator=(const JpegWarningsFail&) = delete;

private:
    static constexpr const char* kOption = "GDAL_ERROR_ON_LIBJPEG_WARNING";
    std::optional<std::string> m_previous;
};

class CacheLimit {
public:
    explicit CacheLimit(GIntBig bytes) noexcept : m_previous(GDALGetCacheMax64()) {
        if (bytes < m_previous) {
            GDALSetCacheMax64(bytes);
        }
    }
    ~CacheLimit() { GDALSetCacheMax64(m_previous); }
    CacheLimit(const CacheLimit&) = delete;
    CacheLimit& operator=(const CacheLimit&) = delete;

private:
    GIntBig m_previous;
};

// A resolution value with its unit code (2 inch, 3 centimetre) in dpi.
std::optional<double> Dpi(double value, int unitCode) {
    if (!(value > 0.0) || !std::isfinite(value)) {
        return std::nullopt;
    }
    if (unitCode == 2) {
        return value;
    }
    if (unitCode == 3) {
        return value * 2.54;
    }
    return std::nullopt;
}

// The density of a JPEG's JFIF header (APP0 right after the start of the
// image): units 1 dots per inch, 2 per centimetre, 0 only an aspect ratio.
std::optional<double> ReadJfifDpi(const std::string& path) {
    VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    unsigned char header[18] = {};
    const bool complete = VSIFReadL(header, 1, sizeof header, file) == sizeof header;
    VSIFCloseL(file);
    if (!complete || header[0] != 0xFF || header[1] != 0xD8 || header[2] != 0xFF || header[3] != 0xE0 ||
        std::memcmp(header + 6, "JFIF", 5) != 0) {
        return std::nullopt;
    }
    const int units = header[13];
    const int density = header[14] * 256 + header[15];
    return Dpi(density, units == 1 ? 2 : units == 2 ? 3 : 0);
}

// The resolution the file states: TIFF tags (as GDAL reports them), EXIF
// tags, or the JFIF density of a JPEG.
std::optional<double> ReadStatedDpi(GDALDatasetH dataset, const std::string& path) {
    const auto item = [dataset](const char* name) { return GDALGetMetadataItem(dataset, name, nullptr); };
    if (item("TIFFTAG_XRESOLUTION") != nullptr && item("TIFFTAG_RESOLUTIONUNIT") != nullptr) {
        return Dpi(std::atof(item("TIFFTAG_XRESOLUTION")), std::atoi(item("TIFFTAG_RESOLUTIONUNIT")));
    }
    if (item("EXIF_XResolution") != nullptr && item("EXIF_ResolutionUnit") != nullptr) {
        // EXIF values are written in parentheses: "(300)".
        const std::string value = item("EXIF_XResolution");
        return Dpi(std::atof(value.c_str() + (value.rfind('(', 0) == 0 ? 1 : 0)), std::atoi(item("EXIF_ResolutionUnit")));
    }
    GDALDriverH driver = GDALGetDatasetDriver(dataset);
    if (driver != nullptr && std::string(GDALGetDriverShortName(driver)) == "JPEG") {
        return ReadJfifDpi(path);
    }
    return std::nullopt;
}

}  // namespace

ScanImage::ScanImage(const std::string& path) : m_path(path) {
    const gdal_support::QuietErrors quiet;
    m_dataset = gdal_support::OpenWithoutListing(path);
    if (m_dataset == nullptr) {
        throw Failure("cannot read the scan " + path + ": not an image GDAL reads (" +
                      gdal_support::LastMessage("no driver recognises it") + ")");
    }
    const GDALDatasetH dataset = m_dataset.get();
    m_width = GDALGetRasterXSize(dataset);
    m_height = GDALGetRasterYSize(dataset);
    const int bands = GDALGetRasterCount(dataset);
    if (bands < 1) {
        throw Failure("the scan " + path + " has no image bands");
    }
    m_bands = bands >= 3 ? 3 : 1;
    for (int b = 1; b <= m_bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, b);
        const GDALDataType type = GDALGetRasterDataType(band);
        std::string problem;
        if (type != GDT_Byte) {
            problem = std::string("has ") + GDALGetDataTypeName(type) +
                      " samples; the corner finder reads 8-bit grey or RGB scans, as georef does";
        } else if (GDALGetRasterColorTable(band) != nullptr) {
            problem = "has a colour table; convert it to RGB or grey first";
        }
        if (!problem.empty()) {
                throw Failure("the scan " + path + " " + problem);
        }
    }
    if (m_width < kMinimumEdge || m_height < kMinimumEdge || m_width > kMaximumEdge || m_height > kMaximumEdge) {
        throw Failure("the scan " + path + " has " + std::to_string(m_width) + " x " + std::to_string(m_height) +
                      " pixels; a sheet needs " + std::to_string(kMinimumEdge) + " to " +
                      std::to_string(kMaximumEdge) + " on each edge");
    }
    m_statedDpi = ReadStatedDpi(dataset, path);
}

ScanImage::ScanImage(const std::string& path, const std::uint8_t* rgb, int width, int height)
    : m_path(path), m_width(width), m_height(height), m_bands(3), m_memory(rgb) {
    const gdal_support::QuietErrors quiet;
    const gdal_support::DatasetHandle header = gdal_support::OpenWithoutListing(path);
    if (header == nullptr) {
        throw Failure("cannot read the scan " + path + ": not an image GDAL reads (" +
                      gdal_support::LastMessage("no driver recognises it") + ")");
    }
    m_statedDpi = ReadStatedDpi(header.get(), path);
    if (m_width < kMinimumEdge || m_height < kMinimumEdge || m_width > kMaximumEdge || m_height > kMaximumEdge) {
        throw Failure("the scan " + path + " has " + std::to_string(m_width) + " x " + std::to_string(m_height) +
                      " pixels; a sheet needs " + std::to_string(kMinimumEdge) + " to " +
                      std::to_string(kMaximumEdge) + " on each edge");
    }
}

void ScanImage::Read(int column, int row, int width, int height, cv::Mat& rgb) const {
    // rgb has its final size; GDAL resamples the window into it.
    if (m_memory != nullptr) {
        // Block averages, as GDAL's averaging makes them, from the decoded scan.
        const cv::Mat whole(m_height, m_width, CV_8UC3, const_cast<std::uint8_t*>(m_memory),
                            static_cast<std::size_t>(m_width) * 3);
        const cv::Mat window = whole(cv::Rect(column, row, width, height));
        if (window.size() == rgb.size()) {
            window.copyTo(rgb);
        } else if (const int factor = width / rgb.cols;
                   factor >= 3 && width == rgb.cols * factor && height == rgb.rows * factor) {
            ReduceByBlocks(window, factor, rgb);
        } else {
            cv::resize(window, rgb, rgb.size(), 0.0, 0.0, cv::INTER_AREA);
        }
        return;
    }
    const gdal_support::QuietErrors quiet;
    // A JPEG cut short is damage, not grey pixels to search.
    const JpegWarningsFail jpegWarningsFail;
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.eResampleAlg = GRIORA_Average;
    int bandMap[3] = {1, 2, 3};
    const GDALDatasetH dataset = m_dataset.get();
    CPLErr result = CE_None;
    if (m_bands == 3) {
        result = GDALDatasetRasterIOEx(dataset, GF_Read, column, row, width, height, rgb.data, rgb.cols, rgb.rows,
                                       GDT_Byte, 3, bandMap, 3, static_cast<GSpacing>(rgb.step[0]), 1, &extra);
    } else {
        // One grey band, written into all three channels.
        for (int channel = 0; channel < 3 && result == CE_None; ++channel) {
            result = GDALRasterIOEx(GDALGetRasterBand(dataset, 1), GF_Read, column, row, width, height,
                                    rgb.data + channel, rgb.cols, rgb.rows, GDT_Byte, 3,
                                    static_cast<GSpacing>(rgb.step[0]), &extra);
        }
    }
    if (result != CE_None) {
        throw Failure("cannot read the scan " + m_path + ": damaged (" + gdal_support::LastMessage("read error") + ")");
    }
}

cv::Mat ScanImage::ReadReduced(int factor) const {
    cv::Mat rgb(std::max(1, m_height / factor), std::max(1, m_width / factor), CV_8UC3);
    if (m_memory != nullptr) {
        const std::lock_guard<std::mutex> guard(m_reducedMutex);
        const int kept = m_reducedFactor;
        if (kept > 0 && factor % kept == 0 && rgb.rows * (factor / kept) <= m_reduced.rows &&
            rgb.cols * (factor / kept) <= m_reduced.cols) {
            // Whole blocks of the kept copy, as of the full image.
            const cv::Mat blocks = m_reduced(cv::Rect(0, 0, rgb.cols * (factor / kept), rgb.rows * (factor / kept)));
            if (blocks.size() == rgb.size()) {
                blocks.copyTo(rgb);
            } else {
                cv::resize(blocks, rgb, rgb.size(), 0.0, 0.0, cv::INTER_AREA);
            }
            return rgb;
        }
        Read(0, 0, rgb.cols * factor, rgb.rows * factor, rgb);
        m_reduced = rgb;  // shared, not copied: see the header
        m_reducedFactor = factor;
        return rgb;
    }
    const CacheLimit cache(kReadCacheBytes);
    // Only whole blocks: the last partial block of each edge is left out.
    Read(0, 0, rgb.cols * factor, rgb.rows * factor, rgb);
    return rgb;
}

int ScanImage::KeptReduction() const {
    const std::lock_guard<std::mutex> guard(m_reducedMutex);
    return m_reducedFactor;
}

std::vector<cv::Mat> ScanImage::ReadWindows(const std::vector<cv::Rect>& windows) const {
    const CacheLimit cache(kReadCacheBytes);
    const cv::Rect image(0, 0, m_width, m_height);
    std::vector<cv::Rect> clipped;
    std::vector<cv::Mat> result;
    int top = m_height;
    int bottom = 0;
    for (const cv::Rect& w : windows) {
        clipped.push_back(w & image);
        // Every pixel of the clipped window is read below.
        result.emplace_back(clipped.back().size(), CV_8UC3);
        if (!clipped.back().empty()) {
            top = std::min(top, clipped.back().y);
            bottom = std::max(bottom, clipped.back().y + clipped.back().height);
        }
    }
    if (m_memory != nullptr) {
        // Straight from the decoded scan, window by window.
        const cv::Mat whole(m_height, m_width, CV_8UC3, const_cast<std::uint8_t*>(m_memory),
                            static_cast<std::size_t>(m_width) * 3);
        for (std::size_t k = 0; k < clipped.size(); ++k) {
            if (!clipped[k].empty()) {
                whole(clipped[k]).copyTo(result[k]);
            }
        }
        return result;
    }
    // Each strip of rows is read window by window straight into the
    // windows, the parts starting higher first: the rows a part needs were
    // decoded into GDAL's cache by the part before it or lie further down,
    // so a JPEG is never decoded again from its start.
    const int stripRows = std::max(16, kStripBytes / (3 * m_width));
    std::vector<std::size_t> order;
    for (int row = top; row < bottom; row += stripRows) {
        const cv::Rect strip(0, row, m_width, std::min(stripRows, bottom - row));
        order.clear();
        for (std::size_t k = 0; k < clipped.size(); ++k) {
            if (!(clipped[k] & strip).empty()) {
                order.push_back(k);
            }
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return std::max(clipped[a].y, row) < std::max(clipped[b].y, row);
        });
        for (const std::size_t k : order) {
            const cv::Rect part = clipped[k] & strip;
            cv::Mat into = result[k](part - clipped[k].tl());
            Read(part.x, part.y, part.width, part.height, into);
        }
    }
    return result;
}

namespace {

// ReduceByBlocks with the column sums held as Sum, wide enough for
// factor * factor * 255, and the average of each block sum looked up in
// average (its index the sum).
template <typename Sum>
void SumBlocks(const cv::Mat& window, int factor, const std::vector<std::uint8_t>& average, cv::Mat& rgb) {
    const int across = window.cols * 3;
    std::vector<Sum> columns(static_cast<std::size_t>(across));
    for (int r = 0; r < rgb.rows; ++r) {
        const std::uint8_t* p = window.ptr<std::uint8_t>(r * factor);
        for (int x = 0; x < across; ++x) {
            columns[static_cast<std::size_t>(x)] = p[x];
        }
        for (int k = 1; k < factor; ++k) {
            p = window.ptr<std::uint8_t>(r * factor + k);
            for (int x = 0; x < across; ++x) {
                columns[static_cast<std::size_t>(x)] = static_cast<Sum>(columns[static_cast<std::size_t>(x)] + p[x]);
            }
        }
        std::uint8_t* out = rgb.ptr<std::uint8_t>(r);
        const Sum* block = columns.data();
        for (int c = 0; c < rgb.cols; ++c, block += 3 * factor, out += 3) {
            std::size_t sum[3] = {0, 0, 0};
            for (int i = 0; i < 3 * factor; i += 3) {
                sum[0] += block[i];
                sum[1] += block[i + 1];
                sum[2] += block[i + 2];
            }
            out[0] = average[sum[0]];
            out[1] = average[sum[1]];
            out[2] = average[sum[2]];
        }
    }
}

}  // namespace

void ReduceByBlocks(const cv::Mat& window, int factor, cv::Mat& rgb) {
    CV_Assert(window.type() == CV_8UC3 && factor >= 3 && window.cols == rgb.cols * factor &&
              window.rows == rgb.rows * factor && rgb.type() == CV_8UC3);
    // The block's sum times 1/area in float, rounded to the nearest (even on
    // a tie), as resize's averaging of whole blocks does; looked up per sum.
    const float scale = 1.0f / static_cast<float>(factor * factor);
    const std::size_t largest = static_cast<std::size_t>(factor) * static_cast<std::size_t>(factor) * 255;
    std::vector<std::uint8_t> average(largest + 1);
    for (std::size_t sum = 0; sum <= largest; ++sum) {
        average[sum] = cv::saturate_cast<std::uint8_t>(static_cast<float>(sum) * scale);
    }
    if (largest <= 0xFFFF) {
        SumBlocks<std::uint16_t>(window, factor, average, rgb);
    } else {
        SumBlocks<std::uint32_t>(window, factor, average, rgb);
    }
}

cv::Mat Luminance(const cv::Mat& rgb) {
    cv::Mat grey;
    cv::cvtColor(rgb, grey, cv::COLOR_RGB2GRAY);
    return grey;
}

}  // namespace georef::corners
