#include "geo/Geodesy.h"

#include <algorithm>
#include <cmath>

namespace {

/// Pi to the nine digits the distance read-out has always used.
constexpr double kPi = 3.14159265;
constexpr double kEarthRadius = 6378137.0;

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
    const double toRadians = kPi / 180;
    const double phi1 = latitude1 * toRadians;
    const double phi2 = latitude2 * toRadians;
    const double dPhi = (latitude2 - latitude1) * toRadians;
    const double dLambda = (longitude2 - longitude1) * toRadians;
    const double a = std::sin(dPhi / 2) * std::sin(dPhi / 2) +
                     std::cos(phi1) * std::cos(phi2) * std::sin(dLambda / 2) * std::sin(dLambda / 2);
    return 2 * std::atan2(std::sqrt(a), std::sqrt(1 - a)) * kEarthRadius;
}
