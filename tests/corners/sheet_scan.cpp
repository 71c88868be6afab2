#include "corners/sheet_scan.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include <cpl_string.h>
#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include "corners/find_corners.hpp"
#include "geometry/sheet_geometry.hpp"
#include "support/temp_dir.hpp"

namespace georef::test {

namespace {

struct Closer {
    void operator()(void* d) const noexcept { GDALClose(static_cast<GDALDatasetH>(d)); }
};
using Dataset = std::unique_ptr<void, Closer>;

// Signed distance of p from the line through a and b, positive to the left
// of a -> b (inside for a counter-clockwise quadrilateral in the plane).
double Distance(const cv::Point2d& p, const cv::Point2d& a, const cv::Point2d& b) {
    const cv::Point2d d = b - a;
    return (d.x * (p.y - a.y) - d.y * (p.x - a.x)) / std::hypot(d.x, d.y);
}

}  // namespace

SheetScan WriteSheetScan(const std::string& path, const SheetScanOptions& o) {
    const double pxPerMm = o.dpi / 25.4;
    const double pxPerMetre = o.dpi / 635.0;
    const double angle = o.rotationDegrees * M_PI / 180.0;
    const geometry::Matrix nominal = geometry::MakeNominalCorners(o.sheet);
    // Plane positions (column right, row down) of LD, LH, PH, PD.
    std::array<cv::Point2d, 4> q;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (int k = 0; k < 4; ++k) {
        const double X = nominal(2 * k, 0) * pxPerMetre;
        const double Y = nominal(2 * k + 1, 0) * pxPerMetre;
        q[k] = {std::cos(angle) * X - std::sin(angle) * Y, -(std::sin(angle) * X + std::cos(angle) * Y)};
        minX = std::min(minX, q[k].x);
        maxX = std::max(maxX, q[k].x);
        minY = std::min(minY, q[k].y);
        maxY = std::max(maxY, q[k].y);
    }
    const double margin = o.marginMm * pxPerMm;
    SheetScan scan;
    const int fullWidth = static_cast<int>(std::ceil(maxX - minX + 2 * margin));
    scan.width = fullWidth - static_cast<int>(o.cropRightMm * pxPerMm);
    scan.height = static_cast<int>(std::ceil(maxY - minY + 2 * margin));
    for (int k = 0; k < 4; ++k) {
        q[k] += cv::Point2d(margin - minX, margin - minY);
        scan.corners[k] = corners::CornerFromPlane({q[k].x, q[k].y}, scan.height, k + 1);
    }
    // Sides counter-clockwise on screen (rows down): LD->PD, PD->PH, PH->LH, LH->LD
    // have the sheet on their right in the plane; distances are negated below.
    const std::array<std::array<int, 2>, 4> sides = {{{0, 3}, {3, 2}, {2, 1}, {1, 0}}};
    const double line = o.lineWidthMm * pxPerMm;
    const double gap = o.borderGapMm * pxPerMm;
    const double frame = 2.5 * line;
    const double minute = 48.0 * pxPerMm;  // a minute of longitude, roughly, on the paper
    std::mt19937 random(o.seed);
    std::normal_distribution<double> grain(0.0, 5.0);
    cv::Mat ink(scan.height, fullWidth, CV_32F, cv::Scalar(0.0f));
    for (int r = 0; r < scan.height; ++r) {
        float* row = ink.ptr<float>(r);
        for (int c = 0; c < fullWidth; ++c) {
            const cv::Point2d p(c, r);
            double inside = 1e300;
            double along = 0.0;  // position along the nearest side
            for (const auto& s : sides) {
                const double d = -Distance(p, q[s[0]], q[s[1]]);
                if (d < inside) {
                    inside = d;
                    along = (p - q[s[0]]).dot(q[s[1]] - q[s[0]]) / cv::norm(q[s[1]] - q[s[0]]);
                }
            }
            // Box-filtered coverage of a band of the given half width around distance centre.
            const auto band = [&](double centre, double half) {
                return std::clamp(half + 0.5 - std::fabs(inside - centre), 0.0, 1.0);
            };
            double v = band(0.0, 0.5 * line);
            if (gap > 0.0) {
                v = std::max(v, band(-gap, 0.5 * frame));
                if (inside < 0.0 && inside > -gap && static_cast<int>(std::floor(along / minute)) % 2 == 0) {
                    v = std::max(v, std::clamp(-inside + 0.5, 0.0, 1.0));
                }
            }
            if (inside > 0.0) {
                // Hatching at 45 degrees up to the line in the western third,
                // a road inside the bottom side along its middle.
                if (c < q[0].x + 0.3 * (q[3].x - q[0].x) && std::fmod(c + r, 1.2 * pxPerMm) < 0.35 * pxPerMm) {
                    v = std::max(v, 0.45);
                }
                const double bottom = -Distance(p, q[0], q[3]);
                if (c > q[0].x + 0.3 * (q[3].x - q[0].x) && c < q[0].x + 0.8 * (q[3].x - q[0].x)) {
                    v = std::max(v, 0.8 * std::clamp(0.25 * pxPerMm + 0.5 - std::fabs(bottom - o.roadInsideMm * pxPerMm), 0.0, 1.0));
                }
            }
            row[c] = static_cast<float>(v);
        }
    }
    if (o.blurPixels > 0.0) {
        cv::GaussianBlur(ink, ink, cv::Size(0, 0), o.blurPixels);
    }
    cv::Mat rgb(scan.height, scan.width, CV_8UC3);
    const cv::Vec3d paper(236, 226, 198);
    const cv::Vec3d black(35, 30, 28);
    for (int r = 0; r < scan.height; ++r) {
        for (int c = 0; c < scan.width; ++c) {
            const double v = ink.at<float>(r, c);
            const double noise = grain(random);
            cv::Vec3b& out = rgb.at<cv::Vec3b>(r, c);
            for (int ch = 0; ch < 3; ++ch) {
                out[ch] = cv::saturate_cast<std::uint8_t>(paper[ch] + v * (black[ch] - paper[ch]) + noise);
            }
        }
    }
    GDALAllRegister();
    const Dataset memory(GDALCreate(GDALGetDriverByName("MEM"), "", scan.width, scan.height, 3, GDT_Byte, nullptr));
    int bands[3] = {1, 2, 3};
    if (!memory || GDALDatasetRasterIO(static_cast<GDALDatasetH>(memory.get()), GF_Write, 0, 0, scan.width,
                                       scan.height, rgb.data, scan.width, scan.height, GDT_Byte, 3, bands, 3,
                                       static_cast<int>(rgb.step[0]), 1) != CE_None) {
        throw std::runtime_error("cannot build the scan in memory");
    }
    if (o.stateDpi && !o.jpeg) {
        const std::string dpi = std::to_string(o.dpi);
        GDALSetMetadataItem(static_cast<GDALDatasetH>(memory.get()), "TIFFTAG_XRESOLUTION", dpi.c_str(), nullptr);
        GDALSetMetadataItem(static_cast<GDALDatasetH>(memory.get()), "TIFFTAG_YRESOLUTION", dpi.c_str(), nullptr);
        GDALSetMetadataItem(static_cast<GDALDatasetH>(memory.get()), "TIFFTAG_RESOLUTIONUNIT", "2", nullptr);
    }
    char** creation = CSLSetNameValue(nullptr, o.jpeg ? "QUALITY" : "COMPRESS", o.jpeg ? "88" : "DEFLATE");
    const Dataset written(GDALCreateCopy(GDALGetDriverByName(o.jpeg ? "JPEG" : "GTiff"), path.c_str(),
                                         static_cast<GDALDatasetH>(memory.get()), FALSE, creation, nullptr, nullptr));
    CSLDestroy(creation);
    if (!written) {
        throw std::runtime_error("cannot write " + path);
    }
    if (o.jpeg && o.stateDpi) {
        // The density in the JFIF header, as scanners write it.
        std::string bytes = ReadFileBytes(path);
        const int dpi = static_cast<int>(std::lround(o.dpi));
        if (bytes.size() < 18 || bytes.compare(6, 5, std::string("JFIF\0", 5)) != 0) {
            throw std::runtime_error("no JFIF header in " + path);
        }
        bytes[13] = 1;
        bytes[14] = bytes[16] = static_cast<char>(dpi / 256);
        bytes[15] = bytes[17] = static_cast<char>(dpi % 256);
        WriteFileBytes(path, bytes);
    }
    return scan;
}

}  // namespace georef::test
