#pragma once
// The coordinate operation between the sheet graticule and the output frame,
// computed by PROJ.
//
// Graticule frame: longitude and latitude in degrees of a geographic CRS
// (by default EPSG:4805, MGI with longitudes counted from Ferro, the frame of
// the sheet numbering). Output frame: X = -northing, Y = -easting in metres of
// a projected CRS (by default EPSG:5514, S-JTSK / Krovak East North, whose
// negative eastings and northings become the positive X, Y of the tiles).

#include <memory>
#include <string>

#include "transform/sheet_boundary.hpp"
#include "transform/transform_grid.hpp"

struct pj_ctx;
struct PJconsts;

namespace georef::projection {

struct ProjSettings {
    std::string graticuleCrs = "EPSG:4805";
    std::string targetCrs = "EPSG:5514";
    // When not empty, this operation is used instead of the one PROJ chooses
    // between the two CRS: any PROJ string or pipeline taking (longitude,
    // latitude) in degrees (or radians, for a single projection) to
    // (easting, northing) in metres. The CRS names are then not used.
    std::string pipeline;
};

class ProjTransformer {
public:
    // Throws georef::Failure (exit status 1) naming the CRS or pipeline that
    // PROJ does not accept, a graticule CRS that is not geographic, a target
    // CRS that is geographic or geocentric, or no operation between them.
    explicit ProjTransformer(const ProjSettings& settings);
    ~ProjTransformer();

    ProjTransformer(const ProjTransformer&) = delete;
    ProjTransformer& operator=(const ProjTransformer&) = delete;

    // (lon, lat) degrees -> (X, Y) metres. Throws georef::Failure when PROJ
    // cannot transform the point.
    transform::OutputPoint OutputFromGraticule(double lon, double lat);

    // (X, Y) metres -> (lon, lat) degrees. Throws georef::Failure.
    transform::GraticulePoint GraticuleFromOutput(double X, double Y);

    // Name of the operation PROJ used for the last point (the pipeline's own
    // description with --pipeline); empty before the first point.
    std::string OperationName() const;

private:
    struct ContextCloser {
        void operator()(pj_ctx* context) const noexcept;
    };
    struct ObjectCloser {
        void operator()(PJconsts* object) const noexcept;
    };
    using Object = std::unique_ptr<PJconsts, ObjectCloser>;

    Object CreateObject(const std::string& definition, const char* role);
    std::string LastProjMessage() const;

    // Destroyed in reverse order: the operation, then the context that owns
    // it, then the message buffer the context logs into.
    std::string m_lastMessage;  // PROJ's last error message
    std::unique_ptr<pj_ctx, ContextCloser> m_context;
    Object m_operation;  // graticule (lon, lat) -> (easting, northing)
    bool m_radiansIn = false;  // the operation takes radians, not degrees
    std::string m_pipelineDescription;
};

}  // namespace georef::projection
