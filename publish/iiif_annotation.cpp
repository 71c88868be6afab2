#include "publish/iiif_annotation.hpp"

#include <ogr_spatialref.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "geometry/sheet_geometry.hpp"
#include "platform/file_system.hpp"
#include "platform/web_text.hpp"
#include "publish/gdal_dataset.hpp"
#include "publish/image_encoding.hpp"
#include "publish/publish_error.hpp"

namespace georef::publish {

namespace {

using json = nlohmann::ordered_json;

struct TransformationCloser {
    void operator()(OGRCoordinateTransformation* t) const noexcept { OGRCoordinateTransformation::DestroyCT(t); }
};
using Transformation = std::unique_ptr<OGRCoordinateTransformation, TransformationCloser>;

Transformation Between(int fromEpsg, int toEpsg) {
    OGRSpatialReference from;
    OGRSpatialReference to;
    from.importFromEPSG(fromEpsg);
    to.importFromEPSG(toEpsg);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    Transformation t(OGRCreateCoordinateTransformation(&from, &to));
    if (!t) {
        throw PublishError("PROJ has no transformation from EPSG:" + std::to_string(fromEpsg) + " to EPSG:" +
                           std::to_string(toEpsg));
    }
    return t;
}

// The nearest double to value rounded to 1 / scale, so it prints in few digits.
double Rounded(double value, double scale) { return std::round(value * scale) / scale; }

geometry::CornerPoints ReadCorners(const std::string& path) {
    std::ifstream in(path);
    if (!in.is_open()) {
        throw PublishError("cannot read the corner file " + path);
    }
    const std::optional<geometry::CornerPoints> corners = geometry::ReadCornerPoints(in);
    if (!corners) {
        throw PublishError("the corner file " + path + " does not hold four corners");
    }
    return *corners;
}

std::string Number(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    std::string s = text.str();
    while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
        const bool dot = s.back() == '.';
        s.pop_back();
        if (dot) {
            break;
        }
    }
    return s;
}

}  // namespace

struct GraticuleToWgs84::Impl {
    Transformation toKrovak = Between(4805, 5514);
    Transformation toWgs84 = Between(5514, 4326);
};

GraticuleToWgs84::GraticuleToWgs84() : m_impl(std::make_unique<Impl>()) {}
GraticuleToWgs84::~GraticuleToWgs84() = default;

void GraticuleToWgs84::Transform(std::vector<double>& lon, std::vector<double>& lat) {
    if (!m_impl->toKrovak->Transform(lon.size(), lon.data(), lat.data()) ||
        !m_impl->toWgs84->Transform(lon.size(), lon.data(), lat.data())) {
        throw PublishError("PROJ cannot take the sheet's graticule to WGS 84");
    }
}

SheetGeoreference GeoreferenceSheet(const PublishedSheet& sheet, GraticuleToWgs84& toWgs84) {
    if (!geometry::IsValidSheetNumber(sheet.sheet)) {
        throw PublishError(std::to_string(sheet.sheet) + " is not a valid sheet number");
    }
    if (sheet.cornerFile.empty()) {
        throw PublishError("sheet " + std::to_string(sheet.sheet) + " has no corner file in the batch summary");
    }
    const geometry::CornerPoints corners = ReadCorners(sheet.cornerFile);
    SheetGeoreference result;
    result.sheet = sheet.sheet;
    {
        QuietGdal quiet;
        const Dataset scan = OpenRaster(sheet.scan);
        if (!scan) {
            throw PublishError("cannot read the scan " + sheet.scan + GdalReason());
        }
        result.width = GDALGetRasterXSize(scan.get());
        result.height = GDALGetRasterYSize(scan.get());
    }

    // The fit the run used: nominal = A * image + T.
    geometry::Matrix A(2, 2);
    geometry::Matrix T(2, 1);
    try {
        if (!geometry::FitCorners(corners, sheet.sheet, A, T)) {
            throw PublishError("the corners of sheet " + std::to_string(sheet.sheet) + " do not fit the sheet");
        }
    } catch (const PublishError&) {
        throw;
    } catch (const std::exception& error) {
        throw PublishError("the corners of sheet " + std::to_string(sheet.sheet) + " do not fit: " + error.what());
    }
    const geometry::InverseFit inverse(A, T);
    const geometry::SheetMapping mapping(sheet.sheet);
    const geometry::SheetGraticule& g = mapping.Graticule();
    // Graticule corners in the corner file's order LD, LH, PH, PD.
    const double cornerLon[4] = {g.lonWest, g.lonWest, g.lonEast, g.lonEast};
    const double cornerLat[4] = {g.latSouth, g.latNorth, g.latNorth, g.latSouth};
    // Where the fit puts each corner, against where the corner file has it.
    double residualX[4];
    double residualY[4];
    for (int k = 0; k < 4; ++k) {
        double nx = 0.0;
        double ny = 0.0;
        mapping.NominalFromGraticule(cornerLon[k], cornerLat[k], nx, ny);
        double ix = 0.0;
        double iy = 0.0;
        inverse.ImageFromNominal(nx, ny, ix, iy);
        residualX[k] = corners[static_cast<std::size_t>(k)].x - ix;
        residualY[k] = corners[static_cast<std::size_t>(k)].y - iy;
    }

    std::vector<double> lon;
    std::vector<double> lat;
    for (int side = 0; side < 4; ++side) {
        const int a = side;
        const int b = (side + 1) % 4;
        for (int step = 0; step <= kPointsPerSide; ++step) {
            ControlPoint point;
            if (step == 0) {
                // The corner itself, exactly as the corner file has it.
                IiifFromCorner(corners[static_cast<std::size_t>(a)], result.height, point.x, point.y);
                point.graticuleLon = cornerLon[a];
                point.graticuleLat = cornerLat[a];
            } else {
                // Between the corners: where the fit maps the graticule point,
                // moved by the corners' residuals blended along the side, so
                // the neat line runs through the corner file's corners.
                const double f = static_cast<double>(step) / (kPointsPerSide + 1);
                point.graticuleLon = cornerLon[a] + f * (cornerLon[b] - cornerLon[a]);
                point.graticuleLat = cornerLat[a] + f * (cornerLat[b] - cornerLat[a]);
                double nx = 0.0;
                double ny = 0.0;
                mapping.NominalFromGraticule(point.graticuleLon, point.graticuleLat, nx, ny);
                geometry::CornerPoint image;
                inverse.ImageFromNominal(nx, ny, image.x, image.y);
                image.x += (1.0 - f) * residualX[a] + f * residualX[b];
                image.y += (1.0 - f) * residualY[a] + f * residualY[b];
                IiifFromCorner(image, result.height, point.x, point.y);
            }
            lon.push_back(point.graticuleLon);
            lat.push_back(point.graticuleLat);
            result.points.push_back(point);
        }
    }
    toWgs84.Transform(lon, lat);
    for (std::size_t k = 0; k < result.points.size(); ++k) {
        result.points[k].lon = lon[k];
        result.points[k].lat = lat[k];
    }
    return result;
}

json AnnotationOf(const SheetGeoreference& sheet, const std::string& imageId) {
    std::string polygon;
    for (const ControlPoint& p : sheet.points) {
        polygon += (polygon.empty() ? "" : " ") + Number(p.x, 2) + "," + Number(p.y, 2);
    }
    const std::string svg = "<svg width=\"" + std::to_string(sheet.width) + "\" height=\"" +
                            std::to_string(sheet.height) + "\"><polygon points=\"" + polygon + "\" /></svg>";
    json features = json::array();
    for (const ControlPoint& p : sheet.points) {
        features.push_back({{"type", "Feature"},
                            {"properties", {{"resourceCoords", {Rounded(p.x, 1e3), Rounded(p.y, 1e3)}}}},
                            {"geometry",
                             {{"type", "Point"}, {"coordinates", {Rounded(p.lon, 1e8), Rounded(p.lat, 1e8)}}}}});
    }
    return {{"@context",
             {"http://iiif.io/api/extension/georef/1/context.json", "http://iiif.io/api/presentation/3/context.json"}},
            {"id", std::to_string(sheet.sheet) + ".json"},
            {"type", "Annotation"},
            {"label", {{"none", {"Sheet " + std::to_string(sheet.sheet)}}}},
            {"motivation", "georeferencing"},
            {"target",
             {{"type", "SpecificResource"},
              {"source",
               {{"id", imageId}, {"type", "ImageService3"}, {"height", sheet.height}, {"width", sheet.width}}},
              {"selector", {{"type", "SvgSelector"}, {"value", svg}}}}},
            {"body",
             {{"type", "FeatureCollection"},
              {"transformation", {{"type", "polynomial"}, {"options", {{"order", 1}}}}},
              {"features", features}}}};
}

IiifReport WriteIiifAnnotations(const std::vector<PublishedSheet>& sheets, const std::string& directory,
                                const std::string& iiifBase, const Progress& progress) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!platform::IsDirectory(directory)) {
        throw PublishError("cannot make the folder " + directory + ": " + error.message());
    }
    IiifReport report;
    GraticuleToWgs84 toWgs84;
    std::string base = iiifBase;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    json items = json::array();
    for (std::size_t k = 0; k < sheets.size(); ++k) {
        const PublishedSheet& sheet = sheets[k];
        try {
            const SheetGeoreference georeference = GeoreferenceSheet(sheet, toWgs84);
            const std::string name = std::filesystem::path(sheet.scan).filename().string();
            const json annotation =
                AnnotationOf(georeference, base + "/" + platform::PercentEncodePath(name));
            const std::string text = annotation.dump(2) + "\n";
            WriteFileAtomically(platform::JoinPath(directory, std::to_string(sheet.sheet) + ".json"), text.data(),
                                text.size());
            items.push_back(annotation);
            ++report.annotations;
        } catch (const PublishError& failure) {
            report.warnings.push_back("sheet " + std::to_string(sheet.sheet) + ": " + failure.what());
        }
        if (progress) {
            progress("IIIF", static_cast<double>(k + 1) / static_cast<double>(sheets.size()));
        }
    }
    const json page = {{"@context", "http://iiif.io/api/presentation/3/context.json"},
                       {"id", "annotations.json"},
                       {"type", "AnnotationPage"},
                       {"items", items}};
    const std::string text = page.dump(2) + "\n";
    report.pagePath = platform::JoinPath(directory, "annotations.json");
    WriteFileAtomically(report.pagePath, text.data(), text.size());
    return report;
}

}  // namespace georef::publish
