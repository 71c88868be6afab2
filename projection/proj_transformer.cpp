#include "projection/proj_transformer.hpp"

#include <proj.h>

#include <cmath>

#include "platform/failure.hpp"

namespace georef::projection {

namespace {

void KeepLastMessage(void* appData, int /*level*/, const char* message) {
    *static_cast<std::string*>(appData) = message != nullptr ? message : "";
}

bool IsGeographic(PJ_TYPE type) noexcept {
    return type == PJ_TYPE_GEOGRAPHIC_2D_CRS || type == PJ_TYPE_GEOGRAPHIC_3D_CRS ||
           type == PJ_TYPE_GEOGRAPHIC_CRS;
}

bool IsUsableTarget(PJ_TYPE type) noexcept {
    return type == PJ_TYPE_PROJECTED_CRS ||
           type == PJ_TYPE_COMPOUND_CRS || type == PJ_TYPE_ENGINEERING_CRS;
}

}  // namespace

void ProjTransformer::ContextCloser::operator()(pj_ctx* context) const noexcept {
    proj_context_destroy(context);
}

void ProjTransformer::ObjectCloser::operator()(PJconsts* object) const noexcept {
    proj_destroy(object);
}

ProjTransformer::Object ProjTransformer::CreateObject(const std::string& definition, const char* role) {
    m_lastMessage.clear();
    Object object(proj_create(m_context.get(), definition.c_str()));
    if (!object) {
        throw Failure(std::string("PROJ does not accept the ") + role + " '" + definition + "'" +
                      LastProjMessage());
    }
    return object;
}

std::string ProjTransformer::LastProjMessage() const {
    return m_lastMessage.empty() ? std::string() : " (" + m_lastMessage + ")";
}

ProjTransformer::ProjTransformer(const ProjSettings& settings) : m_context(proj_context_create()) {
    if (!m_context) {
        throw Failure("cannot create a PROJ context");
    }
    // PROJ would print its errors on stderr itself; keep them for our message.
    proj_log_func(m_context.get(), &m_lastMessage, KeepLastMessage);
    proj_log_level(m_context.get(), PJ_LOG_ERROR);

    if (!settings.pipeline.empty()) {
        m_operation = CreateObject(settings.pipeline, "pipeline");
        if (proj_is_crs(m_operation.get())) {
            throw Failure("the pipeline '" + settings.pipeline +
                          "' is a CRS, not an operation; give it with --target instead");
        }
        if (proj_angular_output(m_operation.get(), PJ_FWD) || proj_degree_output(m_operation.get(), PJ_FWD)) {
            throw Failure("the pipeline '" + settings.pipeline +
                          "' must give easting and northing in metres, not angles");
        }
        m_radiansIn = proj_angular_input(m_operation.get(), PJ_FWD) != 0;
        m_pipelineDescription = "the pipeline " + settings.pipeline;
        return;
    }

    const Object graticule = CreateObject(settings.graticuleCrs, "graticule CRS");
    if (!proj_is_crs(graticule.get()) || !IsGeographic(proj_get_type(graticule.get()))) {
        throw Failure("the graticule CRS '" + settings.graticuleCrs +
                      "' is not a geographic CRS (longitude, latitude)");
    }
    const Object target = CreateObject(settings.targetCrs, "target CRS");
    if (!proj_is_crs(target.get()) || !IsUsableTarget(proj_get_type(target.get()))) {
        throw Failure("the target CRS '" + settings.targetCrs +
                      "' is not a projected CRS (easting, northing in metres)");
    }
    m_lastMessage.clear();
    const Object operation(
        proj_create_crs_to_crs_from_pj(m_context.get(), graticule.get(), target.get(), nullptr, nullptr));
    if (!operation) {
        throw Failure("PROJ finds no operation from '" + settings.graticuleCrs + "' to '" +
                      settings.targetCrs + "'" + LastProjMessage());
    }
    // Longitude first and easting first, whatever the CRS definitions say.
    m_operation.reset(proj_normalize_for_visualization(m_context.get(), operation.get()));
    if (!m_operation) {
        throw Failure("PROJ cannot normalise the axis order of the operation" + LastProjMessage());
    }
}

ProjTransformer::~ProjTransformer() = default;

transform::OutputPoint ProjTransformer::OutputFromGraticule(double lon, double lat) {
    const double scale = m_radiansIn ? M_PI / 180.0 : 1.0;
    m_lastMessage.clear();
    const PJ_COORD in = proj_coord(lon * scale, lat * scale, 0.0, 0.0);
    const PJ_COORD out = proj_trans(m_operation.get(), PJ_FWD, in);
    const double easting = out.xy.x;
    const double northing = out.xy.y;
    // PROJ marks a point it cannot transform with HUGE_VAL (infinity).
    if (!std::isfinite(easting) || !std::isfinite(northing)) {
        throw Failure("PROJ cannot transform longitude " + std::to_string(lon) + ", latitude " +
                      std::to_string(lat) + LastProjMessage());
    }
    return transform::OutputPoint{-northing, -easting};
}

transform::GraticulePoint ProjTransformer::GraticuleFromOutput(double X, double Y) {
    m_lastMessage.clear();
    const PJ_COORD in = proj_coord(-Y, -X, 0.0, 0.0);
    const PJ_COORD out = proj_trans(m_operation.get(), PJ_INV, in);
    const double scale = m_radiansIn ? 180.0 / M_PI : 1.0;
    const double lon = out.lp.lam;
    const double lat = out.lp.phi;
    if (!std::isfinite(lon) || !std::isfinite(lat)) {
        throw Failure("PROJ cannot transform X " + std::to_string(X) + ", Y " + std::to_string(Y) +
                      LastProjMessage());
    }
    return transform::GraticulePoint{lon * scale, lat * scale};
}

std::string ProjTransformer::OperationName() const {
    if (!m_pipelineDescription.empty()) {
        return m_pipelineDescription;
    }
    const Object last(proj_trans_get_last_used_operation(m_operation.get()));
    if (!last) {
        return {};
    }
    const char* name = proj_get_name(last.get());
    return name != nullptr ? name : std::string();
}

}  // namespace georef::projection
