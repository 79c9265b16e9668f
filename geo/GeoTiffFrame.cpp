#include "geo/GeoTiffFrame.h"

#include "geo/UtmProjection.h"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

/// Scales above this (model units per pixel) are metres; at or below it the model is in degrees.
constexpr double kMetricScale = 0.01;

/// How far apart, in degrees, two readings of the same corner may lie and still be the same
/// reading: about a centimetre, far below a pixel of any map, far above what separates the
/// GRS 80 and WGS 84 ellipsoids, and far below what separates any other two.
constexpr double kSameReading = 1e-7;

bool IsMetric(const GeoTiffInfo& info)
{
    return info.m_dScaleX > kMetricScale && info.m_dScaleY > kMetricScale;
}

struct ModelPoint {
    double m_dX;
    double m_dY;
};

ModelPoint PixelToModel(const std::array<double, 6>& gt, double column, double row)
{
    return {gt[0] + column * gt[1] + row * gt[2], gt[3] + column * gt[4] + row * gt[5]};
}

/// The frame the citation's zone (or the degrees) gives, as it always has; nothing when that
/// reading cannot place the map.
std::optional<GeoTiffFrame> CitationFrame(const GeoTiffInfo& info, int width, int height, UtmProjection& projection)
{
    const bool projected =
        InitUtmProjection(projection, EllipsoidForDatum(info.m_nDatum), info.m_nUtmZone, info.m_bSouth != 0);
    const bool metric = IsMetric(info);

    // A metric georeference without a projection cannot be placed on the globe.
    if (metric && !projected)
        return std::nullopt;

    const double west = info.m_dTieX;
    const double north = info.m_dTieY;
    const double east = info.m_dTieX + width * info.m_dScaleX;
    const double south = info.m_dTieY - height * info.m_dScaleY;

    double latitudeS = south, longitudeE = east;
    double latitudeN = north, longitudeW = west;
    if (metric) {
        if (!UtmToGeographic(projection, east, south, latitudeS, longitudeE) ||
            !UtmToGeographic(projection, west, north, latitudeN, longitudeW))
            return std::nullopt;
        // The inverse projection answers longitudes within -180..180; a map across the 180th
        // meridian has its east corner there, so carry it on past 180.
        if (longitudeW > longitudeE)
            longitudeE += 360.0;
    }

    GeoTiffFrame frame;
    frame.m_bGeoTiffFrame = true;
    frame.m_bGeoCoded = true;
    frame.m_Origin = CDataGeo{latitudeS, longitudeW};
    frame.m_Extent = CDataGeo{latitudeN - latitudeS, longitudeE - longitudeW};
    return frame;
}

struct ProjFree {
    void operator()(PJ* pj) const { proj_destroy(pj); }
    void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};

/// Whether the citation's reading of the model is the keys' own: the picture's corners and
/// centre fall on the same latitude and longitude of the keys' geographic system (a zone's
/// reading has no datum shift) or, for degrees, which the citation takes for WGS 84 ones, of
/// WGS 84. Only then does a map keep the numbers it has always had; a WGS 84 zone whose citation
/// reads as Clarke 1866 lands some 200 m away and does not, nor do NAD27 degrees.
bool CitationReadsAsKeys(const GeoTiffInfo& info, const UtmProjection& projection, int width, int height)
{
    const std::unique_ptr<PJ_CONTEXT, ProjFree> context(proj_context_create());
    proj_log_level(context.get(), PJ_LOG_NONE);
    const std::unique_ptr<PJ, ProjFree> crs(proj_create(context.get(), info.m_strCrs.toUtf8().constData()));
    const std::unique_ptr<PJ, ProjFree> geographic(
        !crs                ? nullptr
        : IsMetric(info)    ? proj_crs_get_geodetic_crs(context.get(), crs.get())
                            : proj_create(context.get(), "EPSG:4326"));
    const std::unique_ptr<PJ, ProjFree> raw(
        geographic ? proj_create_crs_to_crs_from_pj(context.get(), crs.get(), geographic.get(), nullptr, nullptr)
                   : nullptr);
    const std::unique_ptr<PJ, ProjFree> toLonLat(raw ? proj_normalize_for_visualization(context.get(), raw.get())
                                                     : nullptr);
    if (!toLonLat)
        return false;
    // The citation's reading takes the tie point at the top-left corner, the keys' the position it ties.
    const std::array<double, 6> citation = {info.m_dTieX, info.m_dScaleX, 0.0, info.m_dTieY, 0.0, -info.m_dScaleY};
    const std::array<double, 6> gt = GeoTiffGeoTransform(info);
    const double places[3][2] = {{0.0, 0.0}, {width / 2.0, height / 2.0}, {double(width), double(height)}};
    for (const auto& place : places) {
        const ModelPoint model = PixelToModel(citation, place[0], place[1]);
        double latitude = model.m_dY, longitude = model.m_dX;
        if (IsMetric(info) && !UtmToGeographic(projection, model.m_dX, model.m_dY, latitude, longitude))
            return false;
        const ModelPoint own = PixelToModel(gt, place[0], place[1]);
        const PJ_COORD keys = proj_trans(toLonLat.get(), PJ_FWD, proj_coord(own.m_dX, own.m_dY, 0.0, 0.0));
        if (!(std::abs(keys.xy.x - longitude) <= kSameReading && std::abs(keys.xy.y - latitude) <= kSameReading))
            return false;
    }
    return true;
}

/// The frame of a map read through keysCrs: the box spanned by its top-left and bottom-right
/// corners, as for a zone; for a map turned so far that these span none, the box around its
/// outline. Nothing when the outline cannot be converted.
std::optional<GeoTiffFrame> KeysFrame(const GeoTiffInfo& info, const FitCrsConversion& keysCrs, int width, int height)
{
    const std::array<double, 6> gt = GeoTiffGeoTransform(info);
    const auto locate = [&](double column, double row) {
        const ModelPoint model = PixelToModel(gt, column, row);
        return keysCrs.ToWgs84(QPointF(model.m_dX, model.m_dY));
    };
    const std::optional<GeoPosition> northWest = locate(0.0, 0.0);
    const std::optional<GeoPosition> southEast = locate(width, height);
    if (!northWest || !southEast)
        return std::nullopt;
    double north = northWest->m_dLatitude, west = northWest->m_dLongitude;
    double south = southEast->m_dLatitude, east = southEast->m_dLongitude;
    if (west > east)
        east += 360.0; // across the 180th meridian, as for a zone
    if (!(north > south && east > west && east - west < 360.0)) {
        // The outline, every tenth of each edge, longitudes kept continuous from the first.
        north = south = northWest->m_dLatitude;
        west = east = northWest->m_dLongitude;
        constexpr int kSteps = 10;
        for (int i = 0; i <= kSteps; ++i) {
            const double f = double(i) / kSteps;
            for (const auto& [column, row] : {std::pair{f * width, 0.0}, std::pair{f * width, double(height)},
                                              std::pair{0.0, f * height}, std::pair{double(width), f * height}}) {
                const std::optional<GeoPosition> p = locate(column, row);
                if (!p)
                    return std::nullopt;
                const double longitude =
                    northWest->m_dLongitude + std::remainder(p->m_dLongitude - northWest->m_dLongitude, 360.0);
                north = std::max(north, p->m_dLatitude);
                south = std::min(south, p->m_dLatitude);
                west = std::min(west, longitude);
                east = std::max(east, longitude);
            }
        }
        if (!(north > south && east > west))
            return std::nullopt;
    }
    GeoTiffFrame frame;
    frame.m_bGeoTiffFrame = true;
    frame.m_bGeoCoded = true;
    frame.m_Origin = CDataGeo{south, west};
    frame.m_Extent = CDataGeo{north - south, east - west};
    return frame;
}

} // namespace

std::array<double, 6> GeoTiffGeoTransform(const GeoTiffInfo& info)
{
    std::array<double, 6> gt = info.m_ModelTransformation.value_or(
        std::array<double, 6>{info.m_dTieX, info.m_dScaleX, 0.0, info.m_dTieY, 0.0, -info.m_dScaleY});
    if (info.m_dTieColumn != 0.0 || info.m_dTieRow != 0.0) {
        // Moved from the tied position to the top-left corner of the picture.
        gt[0] -= info.m_dTieColumn * gt[1] + info.m_dTieRow * gt[2];
        gt[3] -= info.m_dTieColumn * gt[4] + info.m_dTieRow * gt[5];
    }
    return gt;
}

GeoTiffFrame SetUpGeoTiffFrame(const GeoTiffInfo& info, int width, int height, UtmProjection& projection,
                               std::optional<FitCrsConversion>& keysCrs)
{
    keysCrs.reset();
    const std::optional<GeoTiffFrame> citation = CitationFrame(info, width, height, projection);
    if (info.m_strCrs.isEmpty() || (citation && !info.m_ModelTransformation &&
                                    CitationReadsAsKeys(info, projection, width, height)))
        return citation.value_or(GeoTiffFrame{});

    // The keys say what the model is; PROJ reads it out, and the citation's zone is not used.
    FreeUtmProjection(projection);
    if (const std::optional<FitCrs> crs = FitCrs::Parse(info.m_strCrs))
        keysCrs = FitCrsConversion::Create(*crs);
    if (keysCrs)
        if (const std::optional<GeoTiffFrame> frame = KeysFrame(info, *keysCrs, width, height))
            return *frame;
    keysCrs.reset();
    return {};
}

std::optional<GeoPosition> GeoTiffPixelToGeographic(const GeoTiffInfo& info, const UtmProjection& projection,
                                                    const std::optional<FitCrsConversion>& keysCrs, double column,
                                                    double row)
{
    if (keysCrs) {
        const ModelPoint model = PixelToModel(GeoTiffGeoTransform(info), column, row);
        return keysCrs->ToWgs84(QPointF(model.m_dX, model.m_dY));
    }
    const double x = info.m_dTieX + column * info.m_dScaleX;
    const double y = info.m_dTieY - row * info.m_dScaleY;
    if (!IsMetric(info))
        return GeoPosition{y, x};
    GeoPosition position;
    if (!UtmToGeographic(projection, x, y, position.m_dLatitude, position.m_dLongitude))
        return std::nullopt;
    return position;
}
