#include "geo/GeoTiffFrame.h"

#include "geo/UtmProjection.h"

namespace {

/// Scales above this (model units per pixel) are metres; at or below it the model is in degrees.
constexpr double kMetricScale = 0.01;

bool IsMetric(const GeoTiffInfo& info)
{
    return info.m_dScaleX > kMetricScale && info.m_dScaleY > kMetricScale;
}

} // namespace

GeoTiffFrame SetUpGeoTiffFrame(const GeoTiffInfo& info, int width, int height, UtmProjection& projection)
{
    const bool projected =
        InitUtmProjection(projection, EllipsoidForDatum(info.m_nDatum), info.m_nUtmZone, info.m_bSouth != 0);
    const bool metric = IsMetric(info);

    // A metric georeference without a projection cannot be placed on the globe.
    if (metric && !projected)
        return {};

    const double west = info.m_dTieX;
    const double north = info.m_dTieY;
    const double east = info.m_dTieX + width * info.m_dScaleX;
    const double south = info.m_dTieY - height * info.m_dScaleY;

    double latitudeS = south, longitudeE = east;
    double latitudeN = north, longitudeW = west;
    if (metric) {
        if (!UtmToGeographic(projection, east, south, latitudeS, longitudeE) ||
            !UtmToGeographic(projection, west, north, latitudeN, longitudeW))
            return {};
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

std::optional<GeoPosition> GeoTiffPixelToGeographic(const GeoTiffInfo& info, const UtmProjection& projection,
                                                    double column, double row)
{
    const double x = info.m_dTieX + column * info.m_dScaleX;
    const double y = info.m_dTieY - row * info.m_dScaleY;
    if (!IsMetric(info))
        return GeoPosition{y, x};
    GeoPosition position;
    if (!UtmToGeographic(projection, x, y, position.m_dLatitude, position.m_dLongitude))
        return std::nullopt;
    return position;
}
