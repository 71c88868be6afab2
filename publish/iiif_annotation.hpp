#pragma once
// IIIF Georeference Annotations: for every published sheet, a W3C Web
// Annotation (motivation "georeferencing") that targets the scan in the
// archive's IIIF image service, masks it with the neat line (an SVG
// selector) and ties it to the ground by control points, with a first-order
// polynomial as the transformation; and one AnnotationPage holding them all.
//
// Frames: the IIIF pixel frame has its origin at the top-left corner of the
// scan's top-left pixel, x rightward, y downward, so the centre of pixel
// (column, row) is (column + 0.5, row + 0.5). The corner file's image frame
// counts y upward from the bottom (see tiling/pixel_chain.hpp). Ground
// points are WGS 84 longitude and latitude in degrees.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "geometry/corner_fit.hpp"
#include "publish/progress.hpp"
#include "publish/published_sheets.hpp"

namespace georef::publish {

// Interior points on each side of the neat line, besides its two corners.
inline constexpr int kPointsPerSide = 3;

struct ControlPoint {
    double x = 0.0;  // IIIF pixel frame
    double y = 0.0;
    double lon = 0.0;  // WGS 84, degrees
    double lat = 0.0;
    double graticuleLon = 0.0;  // the sheet's graticule (from Ferro, EPSG:4805), degrees
    double graticuleLat = 0.0;
};

struct SheetGeoreference {
    int sheet = 0;
    int width = 0;   // scan pixels
    int height = 0;
    // The neat line from the lower-left corner round by north and east: the
    // corners LD, LH, PH, PD each followed by the side's interior points.
    std::vector<ControlPoint> points;
};

// A corner file point in the IIIF pixel frame of a scan of that height.
inline void IiifFromCorner(const geometry::CornerPoint& c, int height, double& x, double& y) noexcept {
    x = c.x + 1.0;                                  // pixel-centre column + 0.5
    y = (static_cast<double>(height) - c.y) - 1.0;  // pixel-centre row + 0.5
}

// Graticule (EPSG:4805) to WGS 84 through EPSG:5514, as the tiles are made.
class GraticuleToWgs84 {
public:
    GraticuleToWgs84();  // throws PublishError when PROJ has no such operation
    ~GraticuleToWgs84();
    GraticuleToWgs84(const GraticuleToWgs84&) = delete;
    GraticuleToWgs84& operator=(const GraticuleToWgs84&) = delete;

    // In place: longitudes and latitudes in degrees. Throws PublishError.
    void Transform(std::vector<double>& lon, std::vector<double>& lat);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The control points of one sheet from its corner file and scan. Throws
// PublishError when the corner file or the scan cannot be read.
SheetGeoreference GeoreferenceSheet(const PublishedSheet& sheet, GraticuleToWgs84& toWgs84);

// The annotation of one sheet; imageId is the scan's IIIF image service.
nlohmann::ordered_json AnnotationOf(const SheetGeoreference& sheet, const std::string& imageId);

struct IiifReport {
    int annotations = 0;
    std::string pagePath;
    std::vector<std::string> warnings;  // sheets left out, and why
};

// Writes DIR/SHEET.json for each sheet and DIR/annotations.json (the page).
// The image service of a sheet is iiifBase + "/" + the scan's file name.
// Throws PublishError when nothing can be written.
IiifReport WriteIiifAnnotations(const std::vector<PublishedSheet>& sheets, const std::string& directory,
                                const std::string& iiifBase, const Progress& progress = {});

}  // namespace georef::publish
