#include "synthesis/demo_scan.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <memory>
#include <vector>

#include "geometry/map_scale.hpp"
#include "geometry/sheet_geometry.hpp"
#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"
#include "synthesis/scan_image_file.hpp"

namespace georef::synthesis {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinute = 1.0 / 60.0;      // degrees
constexpr double kMetresPerDegreeLat = 111200.0;

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{20, 20, 20};
constexpr Rgb kPaper{246, 240, 222};
constexpr Rgb kForest{196, 226, 176};
constexpr Rgb kContour{196, 150, 104};
constexpr Rgb kWater{168, 204, 236};
constexpr Rgb kRiver{60, 110, 205};
constexpr Rgb kRoad{214, 64, 42};

// Widths on the ground, metres.
constexpr double kNeatLineWidth = 15.0;     // drawn inside the sheet, against its edge
constexpr double kTickLength = 90.0;
constexpr double kTickWidth = 6.0;
constexpr double kCrossArm = 150.0;
constexpr double kCrossWidth = 10.0;
constexpr double kOuterFrameGap = 150.0;    // collar frame line, outside the neat line
constexpr double kOuterFrameWidth = 10.0;

// Distance in ground metres from value to the nearest multiple of step
// (degrees), metresPerDegree converting.
double MetresToGridLine(double value, double step, double metresPerDegree) {
    const double nearest = std::round(value / step) * step;
    return std::fabs(value - nearest) * metresPerDegree;
}

// Features of the landscape, defined on longitude and latitude so that
// they run on across sheet edges.
Rgb Landscape(double lon, double lat, double metresPerDegreeLon) {
    const double u = lon * 40.0;
    const double v = lat * 80.0;
    // A river winding eastwards.
    const double riverLat = 49.94 + 0.012 * std::sin(2.0 * kPi * (lon - 34.0) / 0.17) +
                            0.004 * std::sin(2.0 * kPi * (lon - 34.0) / 0.05);
    if (std::fabs(lat - riverLat) * kMetresPerDegreeLat < 18.0) {
        return kRiver;
    }
    // Two roads, straight in the graticule.
    const double roadA = (lat - 49.88) - (lon - 34.02) * (0.11 / 0.46);
    if (std::fabs(roadA) * kMetresPerDegreeLat < 8.0) {
        return kRoad;
    }
    const double roadB = (lon - 34.19) - (lat - 49.90) * 0.6;
    if (std::fabs(roadB) * metresPerDegreeLon < 8.0) {
        return kRoad;
    }
    // A lake.
    const double le = (lon - 34.33) * metresPerDegreeLon;
    const double ln = (lat - 49.97) * kMetresPerDegreeLat;
    if ((le * le) / (900.0 * 900.0) + (ln * ln) / (500.0 * 500.0) < 1.0) {
        return kWater;
    }
    // Contour lines every 20 m of a made-up relief, 8 m wide on the ground:
    // the distance to the nearest level is its height difference over the
    // slope.
    const auto relief = [](double a, double b) {
        return 400.0 + 60.0 * std::sin(a * 1.3) * std::cos(b * 0.9) + 35.0 * std::sin(a * 0.4 + b * 0.7);
    };
    const double height = relief(u, v);
    const double delta = 1e-4;  // in u and v
    const double slopeEast = (relief(u + delta, v) - height) / (delta / 40.0 * metresPerDegreeLon);
    const double slopeNorth = (relief(u, v + delta) - height) / (delta / 80.0 * kMetresPerDegreeLat);
    const double slope = std::hypot(slopeEast, slopeNorth);
    const double offLevel = std::fabs(height - 20.0 * std::round(height / 20.0));
    if (offLevel < 4.0 * slope) {
        return kContour;
    }
    // Forest patches.
    if (std::sin(u * 2.1 + 0.5) * std::sin(v * 1.7) + 0.5 * std::sin(u * 5.3 - v * 3.1) > 0.75) {
        return kForest;
    }
    return kPaper;
}

class Painter {
public:
    explicit Painter(int sheetNumber)
        : m_graticule(geometry::MakeSheetGraticule(sheetNumber)), m_crosses(DemoCrosses(sheetNumber)) {}

    Rgb Colour(double lon, double lat) const {
        const geometry::SheetGraticule& g = m_graticule;
        const double metresPerDegreeLon = kMetresPerDegreeLat * std::cos(lat * kPi / 180.0);
        // Signed distances to the four edges, positive inside the sheet.
        const double west = (lon - g.lonWest) * metresPerDegreeLon;
        const double east = (g.lonEast - lon) * metresPerDegreeLon;
        const double south = (lat - g.latSouth) * kMetresPerDegreeLat;
        const double north = (g.latNorth - lat) * kMetresPerDegreeLat;
        const double inside = std::min(std::min(west, east), std::min(south, north));
        if (inside < 0.0) {
            const double outside = -inside;
            if (outside >= kOuterFrameGap && outside < kOuterFrameGap + kOuterFrameWidth) {
                return kBlack;
            }
            return kWhite;
        }
        if (inside < kNeatLineWidth) {
            return kBlack;
        }
        // Minute ticks pointing inwards from the neat line.
        if ((west < kTickLength || east < kTickLength) &&
            MetresToGridLine(lat, kMinute, kMetresPerDegreeLat) < kTickWidth / 2.0) {
            return kBlack;
        }
        if ((south < kTickLength || north < kTickLength) &&
            MetresToGridLine(lon, kMinute, metresPerDegreeLon) < kTickWidth / 2.0) {
            return kBlack;
        }
        for (const transform::GraticulePoint& c : m_crosses) {
            const double de = std::fabs(lon - c.lon) * metresPerDegreeLon;
            const double dn = std::fabs(lat - c.lat) * kMetresPerDegreeLat;
            if ((de < kCrossArm && dn < kCrossWidth / 2.0) || (dn < kCrossArm && de < kCrossWidth / 2.0)) {
                return kBlack;
            }
        }
        return Landscape(lon, lat, metresPerDegreeLon);
    }

private:
    geometry::SheetGraticule m_graticule;
    std::vector<transform::GraticulePoint> m_crosses;
};

// Inverse of the sheet's bilinear graticule -> nominal map. The nominal
// corners have a straight south edge (LD, PD at one y) and a straight north
// edge (LH, PH at one y), so latitude follows from y alone and longitude
// from x along the interpolated parallel.
class NominalToGraticule {
public:
    explicit NominalToGraticule(int sheetNumber) : m_mapping(sheetNumber), m_g(m_mapping.Graticule()) {
        m_mapping.NominalFromGraticule(m_g.lonWest, m_g.latSouth, m_ld[0], m_ld[1]);
        m_mapping.NominalFromGraticule(m_g.lonWest, m_g.latNorth, m_lh[0], m_lh[1]);
        m_mapping.NominalFromGraticule(m_g.lonEast, m_g.latNorth, m_ph[0], m_ph[1]);
        m_mapping.NominalFromGraticule(m_g.lonEast, m_g.latSouth, m_pd[0], m_pd[1]);
    }

    void operator()(double x, double y, double& lon, double& lat) const noexcept {
        const double fy = (y - m_ld[1]) / (m_lh[1] - m_ld[1]);
        const double west = m_ld[0] + fy * (m_lh[0] - m_ld[0]);
        const double east = m_pd[0] + fy * (m_ph[0] - m_pd[0]);
        const double fx = (x - west) / (east - west);
        lon = m_g.lonWest + fx * (m_g.lonEast - m_g.lonWest);
        lat = m_g.latSouth + fy * (m_g.latNorth - m_g.latSouth);
    }

private:
    geometry::SheetMapping m_mapping;
    geometry::SheetGraticule m_g;
    double m_ld[2], m_lh[2], m_ph[2], m_pd[2];  // nominal corners, metres
};

}  // namespace

std::vector<transform::GraticulePoint> DemoCrosses(int sheetNumber) {
    const geometry::SheetGraticule g = geometry::MakeSheetGraticule(sheetNumber);
    std::vector<transform::GraticulePoint> crosses;
    const double step = 2.5 * kMinute;
    for (int k = 1; g.lonWest + (k + 0.5) * step < g.lonEast; ++k) {
        for (int j = 1; g.latSouth + (j + 0.5) * step < g.latNorth; ++j) {
            crosses.push_back({g.lonWest + k * step, g.latSouth + j * step});
        }
    }
    return crosses;
}

DemoScan WriteDemoScan(int sheetNumber, const std::string& path, const DemoScanOptions& options) {
    if (!geometry::IsValidSheetNumber(sheetNumber)) {
        throw Failure(std::to_string(sheetNumber) + " is not a valid sheet number");
    }
    if (!(options.dpi >= 10.0 && options.dpi <= 1200.0)) {
        throw Failure("the scan resolution must lie between 10 and 1200 dpi");
    }
    // nominal = scale * R(angle) * (image - offset); image = R(-angle) * nominal / scale + offset.
    const double scale = geometry::kGroundMetresPerInch / options.dpi;  // ground metres per scan pixel
    const double angle = options.rotationDegrees * kPi / 180.0;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const geometry::Matrix nominal = geometry::MakeNominalCorners(sheetNumber);
    double q[4][2];
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int k = 0; k < 4; ++k) {
        const double X = nominal(2 * k, 0);
        const double Y = nominal(2 * k + 1, 0);
        q[k][0] = (c * X + s * Y) / scale;
        q[k][1] = (-s * X + c * Y) / scale;
        minX = std::min(minX, q[k][0]);
        maxX = std::max(maxX, q[k][0]);
        minY = std::min(minY, q[k][1]);
        maxY = std::max(maxY, q[k][1]);
    }
    const double collar = options.collarMillimetres / geometry::kMillimetresPerInch * options.dpi;  // pixels
    const double offsetX = collar - minX;
    const double offsetY = collar - minY;
    DemoScan scan;
    scan.width = static_cast<int>(std::ceil(maxX - minX + 2.0 * collar));
    scan.height = static_cast<int>(std::ceil(maxY - minY + 2.0 * collar));
    for (int k = 0; k < 4; ++k) {
        scan.corners[k] = geometry::CornerPoint{k + 1, q[k][0] + offsetX, q[k][1] + offsetY};
    }

    const Painter painter(sheetNumber);
    const NominalToGraticule toGraticule(sheetNumber);
    const std::size_t size = static_cast<std::size_t>(scan.width) * static_cast<std::size_t>(scan.height);
    std::vector<std::uint8_t> planes[3] = {std::vector<std::uint8_t>(size), std::vector<std::uint8_t>(size),
                                           std::vector<std::uint8_t>(size)};
    for (int row = 0; row < scan.height; ++row) {
        // Pixel (column, row) shows image point (column - 0.5, height - 1.5 - row).
        const double y = scan.height - 1.5 - row - offsetY;
        for (int column = 0; column < scan.width; ++column) {
            const double x = column - 0.5 - offsetX;
            const double X = scale * (c * x - s * y);
            const double Y = scale * (s * x + c * y);
            double lon = 0.0;
            double lat = 0.0;
            toGraticule(X, Y, lon, lat);
            const Rgb colour = painter.Colour(lon, lat);
            const std::size_t at = static_cast<std::size_t>(row) * static_cast<std::size_t>(scan.width) +
                                   static_cast<std::size_t>(column);
            planes[0][at] = colour.r;
            planes[1][at] = colour.g;
            planes[2][at] = colour.b;
        }
    }
    RgbImageView view;
    for (int band = 0; band < 3; ++band) {
        view.band[band] = planes[band].data();
    }
    view.lineStep = scan.width;
    view.width = scan.width;
    view.height = scan.height;
    ScanEncoding encoding;
    encoding.densityDpi = options.density ? options.dpi : 0.0;
    WriteScanImage(path, view, encoding);
    return scan;
}

}  // namespace georef::synthesis
