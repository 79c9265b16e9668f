#include "geo/MapCrs.h"

#include <proj.h>
#include <proj_experimental.h> // proj_crs_alter_geodetic_crs, in PROJ since 6.0

#include <cmath>
#include <memory>

namespace {

/// A PROJ context of our own whose messages stay quiet; PROJ objects are made on it.
struct ProjContext {
    ProjContext() : m_pContext(proj_context_create()) { proj_log_level(m_pContext, PJ_LOG_NONE); }
    ~ProjContext() { proj_context_destroy(m_pContext); }
    ProjContext(const ProjContext&) = delete;
    ProjContext& operator=(const ProjContext&) = delete;
    PJ_CONTEXT* m_pContext;
};

struct PjFree {
    void operator()(PJ* pj) const { proj_destroy(pj); }
};
using PjPtr = std::unique_ptr<PJ, PjFree>;

const char* EllipsoidOf(int datum)
{
    switch (datum) {
    case 1:
        return "clrk66";
    case 5:
        return "WGS72";
    default:
        return "WGS84";
    }
}

QString AsWkt(const MapCrs& crs, PJ_WKT_TYPE type)
{
    ProjContext context;
    const PjPtr pj(proj_create(context.m_pContext, crs.Name().toUtf8().constData()));
    if (!pj)
        return {};
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(context.m_pContext, pj.get(), type, options);
    return wkt ? QString::fromUtf8(wkt) : QString();
}

} // namespace

QString MapCrs::Name() const
{
    if (m_nEpsg)
        return QStringLiteral("EPSG:%1").arg(*m_nEpsg);
    if (!m_strDefinition.isEmpty())
        return m_strDefinition;
    if (m_bGeographic)
        return QStringLiteral("EPSG:%1").arg(GeographicEpsg());
    return QStringLiteral("+proj=utm +zone=%1 +ellps=%2%3 +units=m +no_defs +type=crs")
        .arg(m_nUtmZone)
        .arg(QLatin1String(EllipsoidOf(m_nDatum)), m_bSouth ? QStringLiteral(" +south") : QString());
}

QString MapCrs::Citation() const
{
    const QString datum = m_nDatum == 1 ? QStringLiteral("NAD27") : m_nDatum == 5 ? QStringLiteral("WGS 72")
                                                                                  : QStringLiteral("WGS 84");
    if (m_bGeographic)
        return datum;
    return QStringLiteral("%1 / UTM zone %2%3").arg(datum).arg(m_nUtmZone).arg(m_bSouth ? QLatin1Char('S') : QLatin1Char('N'));
}

int MapCrs::GeographicEpsg() const
{
    return m_nDatum == 1 ? 4267 : m_nDatum == 5 ? 4322 : 4326;
}

MapCrs Wgs84()
{
    MapCrs crs;
    crs.m_nEpsg = 4326;
    return crs;
}

MapCrs CrsOfGeoTiff(const GeoTiffInfo& info)
{
    MapCrs crs;
    crs.m_nDatum = info.m_nDatum == 6 ? 0 : info.m_nDatum;
    // Scales of 0.01 model units per pixel or less are degrees, as the frame set-up reads them.
    const bool metric = info.m_dScaleX > 0.01 && info.m_dScaleY > 0.01;
    if (!info.m_strCrs.isEmpty()) {
        // The keys define the system in full: its datum is theirs, not the one the citation
        // suggests (a NAD83 zone is no WGS 84 zone, a user-defined one no NAD27 zone).
        crs.m_bGeographic = IsGeographicCrs(info.m_strCrs).value_or(!metric);
        crs.m_nUtmZone = info.m_nUtmZone;
        crs.m_bSouth = info.m_bSouth != 0;
        crs.m_GeoKeys = info.m_GeoKeys;
        if (info.m_strCrs.startsWith(QStringLiteral("EPSG:")))
            crs.m_nEpsg = info.m_strCrs.mid(5).toInt();
        else
            crs.m_strDefinition = info.m_strCrs;
        return crs;
    }
    if (!metric) {
        crs.m_bGeographic = true;
        crs.m_nEpsg = crs.GeographicEpsg();
        return crs;
    }
    crs.m_bGeographic = false;
    crs.m_nUtmZone = info.m_nUtmZone;
    crs.m_bSouth = info.m_bSouth != 0;
    // WGS 84 zones are 326zz north and 327zz south; NAD27 (Clarke 1866 in North America) has
    // northern zones 267zz. Others are described by their projection and ellipsoid.
    if (crs.m_nDatum == 0)
        crs.m_nEpsg = (crs.m_bSouth ? 32700 : 32600) + crs.m_nUtmZone;
    else if (crs.m_nDatum == 1 && !crs.m_bSouth && crs.m_nUtmZone >= 1 && crs.m_nUtmZone <= 22)
        crs.m_nEpsg = 26700 + crs.m_nUtmZone;
    return crs;
}

QString CrsWktOfDefinition(const QString& proj, std::optional<int> geographicEpsg)
{
    ProjContext context;
    PjPtr crs(proj_create(context.m_pContext, (proj + QStringLiteral(" +type=crs")).toUtf8().constData()));
    if (!crs)
        return {};
    if (geographicEpsg) {
        const PjPtr geographic(proj_create(context.m_pContext, QStringLiteral("EPSG:%1").arg(*geographicEpsg).toUtf8().constData()));
        if (geographic && proj_get_type(crs.get()) == PJ_TYPE_PROJECTED_CRS)
            crs.reset(proj_crs_alter_geodetic_crs(context.m_pContext, crs.get(), geographic.get()));
        else if (geographic)
            crs.reset(proj_clone(context.m_pContext, geographic.get()));
        if (!crs)
            return {};
    }
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(context.m_pContext, crs.get(), PJ_WKT2_2019, options);
    return wkt ? QString::fromUtf8(wkt) : QString();
}

QString CrsWktOfKeys(const QString& definitionWkt, const QString& gdalWkt)
{
    ProjContext context;
    const auto create = [&](const QString& wkt) {
        return PjPtr(wkt.isEmpty() ? nullptr : proj_create(context.m_pContext, wkt.toUtf8().constData()));
    };
    const PjPtr ours = create(definitionWkt);
    const PjPtr gdal = create(gdalWkt);
    if (!gdal || !proj_is_crs(gdal.get()))
        return ours ? definitionWkt : QString();
    if (ours && proj_get_type(ours.get()) == proj_get_type(gdal.get())) {
        const PjPtr ourConversion(proj_crs_get_coordoperation(context.m_pContext, ours.get()));
        const PjPtr gdalConversion(proj_crs_get_coordoperation(context.m_pContext, gdal.get()));
        const PjPtr ourEllipsoid(proj_get_ellipsoid(context.m_pContext, ours.get()));
        const PjPtr gdalEllipsoid(proj_get_ellipsoid(context.m_pContext, gdal.get()));
        double a1 = 0, b1 = 0, a2 = 0, b2 = 0;
        const bool sameEllipsoid =
            ourEllipsoid && gdalEllipsoid &&
            proj_ellipsoid_get_parameters(context.m_pContext, ourEllipsoid.get(), &a1, &b1, nullptr, nullptr) &&
            proj_ellipsoid_get_parameters(context.m_pContext, gdalEllipsoid.get(), &a2, &b2, nullptr, nullptr) &&
            std::abs(a1 - a2) < 1e-3 && std::abs(b1 - b2) < 1e-3; // libgeotiff writes millimetres
        const bool sameConversion =
            (!ourConversion && !gdalConversion) ||
            (ourConversion && gdalConversion &&
             proj_is_equivalent_to(ourConversion.get(), gdalConversion.get(), PJ_COMP_EQUIVALENT));
        if (sameEllipsoid && sameConversion)
            return definitionWkt;
    }
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(context.m_pContext, gdal.get(), PJ_WKT2_2019, options);
    return wkt ? QString::fromUtf8(wkt) : QString();
}

QString CrsWktEsri(const MapCrs& crs)
{
    return AsWkt(crs, PJ_WKT1_ESRI);
}

QString CrsWkt2(const MapCrs& crs)
{
    return AsWkt(crs, PJ_WKT2_2019);
}

std::optional<GeoPosition> ToWgs84(const QString& crs, double x, double y, QString* error)
{
    ProjContext context;
    const PjPtr transformation(
        proj_create_crs_to_crs(context.m_pContext, crs.toUtf8().constData(), "EPSG:4326", nullptr));
    const PjPtr lonLat(transformation ? proj_normalize_for_visualization(context.m_pContext, transformation.get())
                                      : nullptr);
    if (!lonLat) {
        if (error)
            *error = UnknownCrsText();
        return std::nullopt;
    }
    const PJ_COORD c = proj_trans(lonLat.get(), PJ_FWD, proj_coord(x, y, 0.0, 0.0));
    if (c.xy.x == HUGE_VAL || !std::isfinite(c.xy.x) || !std::isfinite(c.xy.y)) {
        if (error)
            *error = QStringLiteral("the point cannot be converted to latitude and longitude");
        return std::nullopt;
    }
    return GeoPosition{c.xy.y, c.xy.x};
}

std::optional<bool> IsGeographicCrs(const QString& crs)
{
    ProjContext context;
    const PjPtr pj(proj_create(context.m_pContext, crs.toUtf8().constData()));
    if (!pj)
        return std::nullopt;
    const PJ_TYPE type = proj_get_type(pj.get());
    if (type == PJ_TYPE_BOUND_CRS) {
        const PjPtr base(proj_get_source_crs(context.m_pContext, pj.get()));
        return base && (proj_get_type(base.get()) == PJ_TYPE_GEOGRAPHIC_2D_CRS ||
                        proj_get_type(base.get()) == PJ_TYPE_GEOGRAPHIC_3D_CRS);
    }
    return type == PJ_TYPE_GEOGRAPHIC_2D_CRS || type == PJ_TYPE_GEOGRAPHIC_3D_CRS;
}
