#include "geo/FitCrsConversion.h"

#include "platform/DisplayText.h"

#include <proj.h>

#include <cmath>

struct FitCrsConversionState {
    FitCrsConversionState() : m_pContext(proj_context_create()) { proj_log_level(m_pContext, PJ_LOG_NONE); }
    ~FitCrsConversionState()
    {
        proj_destroy(m_pConversion);
        proj_context_destroy(m_pContext);
    }
    FitCrsConversionState(const FitCrsConversionState&) = delete;
    FitCrsConversionState& operator=(const FitCrsConversionState&) = delete;

    PJ_CONTEXT* m_pContext;
    PJ* m_pConversion = nullptr; ///< WGS 84 longitude, latitude to the system's x, y
};

namespace {

/// A system a plane fit can be made in: one PROJ knows, with a horizontal position.
bool IsPlanarCrs(PJ_CONTEXT* context, const QByteArray& definition)
{
    PJ* crs = proj_create(context, definition.constData());
    const bool planar = crs && proj_is_crs(crs) && proj_get_type(crs) != PJ_TYPE_GEOCENTRIC_CRS &&
                        proj_get_type(crs) != PJ_TYPE_VERTICAL_CRS && proj_get_type(crs) != PJ_TYPE_TEMPORAL_CRS;
    proj_destroy(crs);
    return planar;
}

bool IsFinite(const PJ_COORD& c)
{
    return c.xy.x != HUGE_VAL && std::isfinite(c.xy.x) && std::isfinite(c.xy.y);
}

} // namespace

FitCrsConversion::FitCrsConversion() = default;
FitCrsConversion::FitCrsConversion(FitCrsConversion&&) noexcept = default;
FitCrsConversion& FitCrsConversion::operator=(FitCrsConversion&&) noexcept = default;
FitCrsConversion::~FitCrsConversion() = default;

std::optional<FitCrsConversion> FitCrsConversion::Create(const FitCrs& crs, QString* refusal)
{
    FitCrsConversion conversion;
    if (crs.GetKind() == FitCrs::Kind::Geographic)
        return conversion;
    conversion.m_pState = std::make_unique<FitCrsConversionState>();
    FitCrsConversionState& state = *conversion.m_pState;
    const QByteArray definition = crs.Definition().toUtf8();
    if (!definition.isEmpty() && IsPlanarCrs(state.m_pContext, definition)) {
        if (PJ* raw = proj_create_crs_to_crs(state.m_pContext, "EPSG:4326", definition.constData(), nullptr)) {
            // Longitude and easting first, whatever order the system's own axes have.
            state.m_pConversion = proj_normalize_for_visualization(state.m_pContext, raw);
            proj_destroy(raw);
        }
    }
    if (!state.m_pConversion) {
        if (refusal)
            *refusal = QStringLiteral("The coordinate system \"%1\" is not one PROJ knows.")
                           .arg(DisplayText(crs.Text(), 80));
        return std::nullopt;
    }
    return conversion;
}

std::optional<QPointF> FitCrsConversion::ToFit(const GeoPosition& position) const
{
    if (!m_pState)
        return QPointF(position.m_dLongitude, position.m_dLatitude);
    const PJ_COORD c =
        proj_trans(m_pState->m_pConversion, PJ_FWD, proj_coord(position.m_dLongitude, position.m_dLatitude, 0.0, 0.0));
    if (!IsFinite(c))
        return std::nullopt;
    return QPointF(c.xy.x, c.xy.y);
}

std::optional<GeoPosition> FitCrsConversion::ToWgs84(const QPointF& xy) const
{
    if (!m_pState)
        return GeoPosition{xy.y(), xy.x()};
    const PJ_COORD c = proj_trans(m_pState->m_pConversion, PJ_INV, proj_coord(xy.x(), xy.y(), 0.0, 0.0));
    if (!IsFinite(c))
        return std::nullopt;
    return GeoPosition{c.xy.y, c.xy.x};
}
