#include "geo/Geodesy.h"

#include <geodesic.h>

#include <algorithm>
#include <cmath>

namespace {

/// The WGS 84 ellipsoid: GPS positions, and the coordinates typed for control points, refer to it.
constexpr double kWgs84SemiMajorAxis = 6378137.0;
constexpr double kWgs84Flattening = 1 / 298.257223563;

const geod_geodesic& Wgs84Geodesic()
{
    static const geod_geodesic geodesic = [] {
        geod_geodesic g{};
        geod_init(&g, kWgs84SemiMajorAxis, kWgs84Flattening);
        return g;
    }();
    return geodesic;
}

} // namespace

DegMinSec SplitDegrees(double degrees)
{
    // A model or point read from a damaged file can put a position anywhere, or nowhere (NaN):
    // the whole degrees stay well inside the int range.
    constexpr double kLimit = 1e9;
    degrees = degrees == degrees ? std::clamp(degrees, -kLimit, kLimit) : 0.0;
    DegMinSec result;
    result.m_nDegrees = static_cast<int>(degrees);
    const double fraction = (degrees - result.m_nDegrees) * 60;
    result.m_nMinutes = static_cast<int>(fraction);
    result.m_dSeconds = (fraction - result.m_nMinutes) * 60;
    if (result.m_dSeconds >= 60) {
        if (result.m_nMinutes == 59) {
            result.m_nDegrees += 1;
            result.m_nMinutes = 0;
        } else {
            result.m_nMinutes += 1;
        }
        result.m_dSeconds -= 60;
    }
    return result;
}

double GreatCircleDistance(double latitude1, double longitude1, double latitude2, double longitude2)
{
    // A latitude beyond a pole (a position read out past a map's edge can lie there) gives NaN.
    double distance = 0.0;
    geod_inverse(&Wgs84Geodesic(), latitude1, longitude1, latitude2, longitude2, &distance, nullptr, nullptr);
    return distance;
}

double LongitudeNear(double longitude, double reference)
{
    return longitude + 360.0 * std::round((reference - longitude) / 360.0);
}
