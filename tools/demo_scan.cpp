#include "tools/demo_scan.hpp"
#include "tools/tool_exit.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <initializer_list>
#include <utility>
#include <sstream>
#include <stdexcept>
#include <memory>
#include <vector>

#include "geometry/sheet_geometry.hpp"
#include "platform/atomic_file.hpp"
#include "platform/failure.hpp"
#include "tools/realistic_scan.hpp"
#include "tools/scan_image_file.hpp"

namespace georef::tools {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinute = 1.0 / 60.0;      // degrees
constexpr double kMetresPerDegreeLat = 111200.0;
constexpr double kGroundMetresPerInch = 635.0;  // 25.4 mm of paper at 1:25 000

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
    const double scale = kGroundMetresPerInch / options.dpi;  // ground metres per scan pixel
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
    const double collar = options.collarMillimetres / 25.4 * options.dpi;  // pixels
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

void WriteCornerFile(const std::string& path, const geometry::CornerPoints& corners) {
    std::ostringstream text;
    text.precision(10);
    for (const geometry::CornerPoint& corner : corners) {
        text << corner.id << ' ' << corner.x << ' ' << corner.y << '\n';
    }
    const std::string bytes = text.str();
    try {
        platform::AtomicFile file(path);
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
            throw std::runtime_error("cannot write " + file.TemporaryName());
        }
        file.Commit();
    } catch (const std::runtime_error& e) {
        throw Failure("cannot write the corner file " + path + ": " + e.what());
    }
}

namespace {

const char* const kUsage =
    "usage: georef-demo-scan SHEET SCAN CORNERFILE [--dpi N] [--rotation DEGREES] [--density on|off]\n"
    "                        [--style plain|realistic] [realistic options]\n"
    "Draws a synthetic scan of the sheet (JPEG for .jpg, else TIFF) and its corner file.\n"
    "Realistic options (paper lengths in pixels at 300 dpi or mm, scanner lengths in scan pixels):\n"
    "  --seed N  --vary (draw every condition not given from the seed)\n"
    "  --neat-width PX  --frame-gap PX  --frame-width PX  --border filled|ticks  --margin MM\n"
    "  --decoy none|west|north|east|south  --bed MM (0: light lid)  --grain LEVELS  --stains N\n"
    "  --folds N  --lighting FRACTION  --blur SIGMA  --quality Q  --bow PX\n"
    "  --torn-corner none|ld|lh|ph|pd  --crop none|west|north|east|south  --scale FACTOR\n"
    "  --page map|blank|text\n";

double Number(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) {
        throw Failure(option + " takes a number", ExitStatus::usage);
    }
    return value;
}

int Whole(const std::string& option, const std::string& text) {
    const double value = Number(option, text);
    if (value != std::floor(value) || std::fabs(value) > 1e9) {
        throw Failure(option + " takes a whole number", ExitStatus::usage);
    }
    return static_cast<int>(value);
}

template <typename Choice>
Choice Pick(const std::string& option, const std::string& text,
            std::initializer_list<std::pair<const char*, Choice>> choices) {
    std::string names;
    for (const auto& [name, value] : choices) {
        if (text == name) {
            return value;
        }
        names += names.empty() ? name : std::string("|") + name;
    }
    throw Failure(option + " takes " + names, ExitStatus::usage);
}

Side PickSide(const std::string& option, const std::string& text) {
    return Pick<Side>(option, text,
                      {{"none", Side::none}, {"west", Side::west}, {"north", Side::north}, {"east", Side::east},
                       {"south", Side::south}});
}

// Sets one realistic option; false when the name is not one.
bool SetRealisticOption(RealisticScanOptions& o, const std::string& name, const std::string& value) {
    if (name == "--seed") {
        const double seed = Number(name, value);
        if (seed < 0 || seed != std::floor(seed) || seed > 9007199254740992.0) {
            throw Failure("--seed takes a whole number from 0", ExitStatus::usage);
        }
        o.seed = static_cast<std::uint64_t>(seed);
    } else if (name == "--neat-width") {
        o.neatLineWidth = Number(name, value);
    } else if (name == "--frame-gap") {
        o.frameGap = Number(name, value);
    } else if (name == "--frame-width") {
        o.frameWidth = Number(name, value);
    } else if (name == "--border") {
        o.border = Pick<BorderStyle>(name, value,
                                     {{"filled", BorderStyle::filledMinutes}, {"ticks", BorderStyle::minuteTicks}});
    } else if (name == "--margin") {
        o.marginMillimetres = Number(name, value);
    } else if (name == "--decoy") {
        o.decoy = PickSide(name, value);
    } else if (name == "--bed") {
        o.bedMillimetres = Number(name, value);
    } else if (name == "--grain") {
        o.grain = Number(name, value);
    } else if (name == "--stains") {
        o.stains = Whole(name, value);
    } else if (name == "--folds") {
        o.folds = Whole(name, value);
    } else if (name == "--lighting") {
        o.lighting = Number(name, value);
    } else if (name == "--blur") {
        o.blurPixels = Number(name, value);
    } else if (name == "--quality") {
        o.jpegQuality = Whole(name, value);
    } else if (name == "--bow") {
        o.bowPixels = Number(name, value);
    } else if (name == "--torn-corner") {
        o.tornCorner = Pick<SheetCorner>(name, value,
                                         {{"none", SheetCorner::none}, {"ld", SheetCorner::ld}, {"lh", SheetCorner::lh},
                                          {"ph", SheetCorner::ph}, {"pd", SheetCorner::pd}});
    } else if (name == "--crop") {
        o.crop = PickSide(name, value);
    } else if (name == "--scale") {
        o.scale = Number(name, value);
    } else if (name == "--page") {
        o.page = Pick<PageContent>(name, value,
                                   {{"map", PageContent::map}, {"blank", PageContent::blank}, {"text", PageContent::text}});
    } else {
        return false;
    }
    return true;
}

struct CommandLine {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // in order given
    bool realistic = false;
    bool vary = false;
};

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--vary") {
            line.vary = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (k + 1 >= argc) {
                throw Failure(arg + " needs a value", ExitStatus::usage);
            }
            const std::string value = argv[++k];
            if (arg == "--style") {
                line.realistic = Pick<bool>(arg, value, {{"plain", false}, {"realistic", true}});
            } else {
                line.options.emplace_back(arg, value);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            throw Failure("unknown option " + arg, ExitStatus::usage);
        } else {
            line.positional.push_back(arg);
        }
    }
    if (line.positional.size() != 3 || line.positional[0].empty() ||
        line.positional[0].find_first_not_of("0123456789") != std::string::npos || line.positional[0].size() > 9) {
        throw Failure("expected a sheet number, a scan name and a corner file name", ExitStatus::usage);
    }
    return line;
}

bool OnOff(const std::string& option, const std::string& value) {
    return Pick<bool>(option, value, {{"on", true}, {"off", false}});
}

int RunPlain(const CommandLine& line, std::ostream& out) {
    DemoScanOptions options;
    for (const auto& [name, value] : line.options) {
        if (name == "--dpi") {
            options.dpi = Number(name, value);
        } else if (name == "--rotation") {
            options.rotationDegrees = Number(name, value);
        } else if (name == "--density") {
            options.density = OnOff(name, value);
        } else {
            throw Failure(name + " needs --style realistic", ExitStatus::usage);
        }
    }
    if (line.vary) {
        throw Failure("--vary needs --style realistic", ExitStatus::usage);
    }
    const int sheet = std::atoi(line.positional[0].c_str());
    const DemoScan scan = WriteDemoScan(sheet, line.positional[1], options);
    WriteCornerFile(line.positional[2], scan.corners);
    out << "wrote " << line.positional[1] << " (" << scan.width << " x " << scan.height << " pixels) and "
        << line.positional[2] << "\n";
    return 0;
}

int RunRealistic(const CommandLine& line, std::ostream& out) {
    // The seed comes first: --vary draws the conditions from it, and the
    // options given override what it drew.
    std::uint64_t seed = RealisticScanOptions{}.seed;
    for (const auto& [name, value] : line.options) {
        if (name == "--seed") {
            RealisticScanOptions probe;
            SetRealisticOption(probe, name, value);
            seed = probe.seed;
        }
    }
    RealisticScanOptions options = line.vary ? VariedRealisticOptions(seed) : RealisticScanOptions{};
    options.seed = seed;
    for (const auto& [name, value] : line.options) {
        if (name == "--dpi") {
            options.dpi = Number(name, value);
        } else if (name == "--rotation") {
            options.rotationDegrees = Number(name, value);
        } else if (name == "--density") {
            options.density = OnOff(name, value);
        } else if (!SetRealisticOption(options, name, value)) {
            throw Failure("unknown option " + name, ExitStatus::usage);
        }
    }
    const int sheet = std::atoi(line.positional[0].c_str());
    const RealisticScan scan = WriteRealisticScan(sheet, line.positional[1], options);
    out << "wrote " << line.positional[1] << " (" << scan.width << " x " << scan.height << " pixels";
    if (!scan.hasMap) {
        out << ", a page without a map; no corner file)\n";
        return 0;
    }
    WriteCornerFile(line.positional[2], scan.corners);
    out << ", neat line " << scan.neatLineWidth << " px wide) and " << line.positional[2] << "\n";
    return 0;
}

}  // namespace

int RunDemoScanTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        const CommandLine line = ParseCommandLine(argc, argv);
        return line.realistic ? RunRealistic(line, out) : RunPlain(line, out);
    } catch (...) {
        return ReportCurrentException("georef-demo-scan", kUsage, err);
    }
}

}  // namespace georef::tools
