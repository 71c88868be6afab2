#include "workbench/scan_view.hpp"

#include <gdal.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "gdal_support/dataset_handle.hpp"

namespace georef::workbench {

namespace {

// The largest scan held, pixels a side: beyond the largest resolution a
// sheet is scanned at.
constexpr int kLargestSide = 40000;
constexpr std::uint8_t kOutsideGrey = 128;

}  // namespace

ScanView::ScanView(const std::string& path) : m_path(path) {
    GDALAllRegister();
    const gdal_support::DatasetHandle dataset(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!dataset) {
        throw std::runtime_error("cannot read the scan " + path);
    }
    const GDALDatasetH handle = static_cast<GDALDatasetH>(dataset.get());
    const int width = GDALGetRasterXSize(handle);
    const int height = GDALGetRasterYSize(handle);
    const int bands = GDALGetRasterCount(handle);
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide || (bands != 1 && bands < 3) ||
        GDALGetRasterDataType(GDALGetRasterBand(handle, 1)) != GDT_Byte) {
        throw std::runtime_error("the scan " + path + " is no 8-bit grey or RGB image of a workable size");
    }
    m_image = RgbImage(width, height, 0);
    int bandMap[3] = {1, bands == 1 ? 1 : 2, bands == 1 ? 1 : 3};
    if (GDALDatasetRasterIO(handle, GF_Read, 0, 0, width, height, m_image.pixels.data(), width, height, GDT_Byte, 3,
                            bandMap, 3, 3 * static_cast<GSpacing>(width), 1) != CE_None) {
        throw std::runtime_error("cannot read the scan " + path + ": " + CPLGetLastErrorMsg());
    }
}

std::pair<int, int> ScanView::SizeOf(const std::string& path) {
    GDALAllRegister();
    const gdal_support::DatasetHandle dataset(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!dataset) {
        throw std::runtime_error("cannot read the scan " + path);
    }
    const GDALDatasetH handle = static_cast<GDALDatasetH>(dataset.get());
    return {GDALGetRasterXSize(handle), GDALGetRasterYSize(handle)};
}

std::string ScanView::Reduced(int maxSide, int& factor) const {
    const int side = std::max(Width(), Height());
    factor = std::max(1, (side + maxSide - 1) / maxSide);
    const int width = std::max(1, Width() / factor);
    const int height = std::max(1, Height() / factor);
    RgbImage reduced(width, height, 0);
    std::vector<unsigned> sums(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int dy = 0; dy < factor; ++dy) {
            const std::uint8_t* in = m_image.Row(y * factor + dy);
            for (int x = 0; x < width * factor; ++x) {
                for (int b = 0; b < 3; ++b) {
                    sums[static_cast<std::size_t>(x / factor) * 3 + b] += in[x * 3 + b];
                }
            }
        }
        std::uint8_t* out = reduced.Row(y);
        const unsigned count = static_cast<unsigned>(factor) * static_cast<unsigned>(factor);
        for (std::size_t i = 0; i < sums.size(); ++i) {
            out[i] = static_cast<std::uint8_t>((sums[i] + count / 2) / count);
        }
    }
    return EncodeJpeg(reduced, 85);
}

std::string ScanView::Crop(int column, int row, int size) const {
    RgbImage crop(size, size, kOutsideGrey);
    const int x0 = std::max(0, column);
    const int x1 = std::min(Width(), column + size);
    for (int y = std::max(0, row); y < std::min(Height(), row + size) && x0 < x1; ++y) {
        std::copy(m_image.Row(y) + x0 * 3, m_image.Row(y) + x1 * 3, crop.Row(y - row) + (x0 - column) * 3);
    }
    return EncodePng(crop);
}

}  // namespace georef::workbench
