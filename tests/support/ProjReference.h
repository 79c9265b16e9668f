#pragma once
// PROJ as a second opinion: positions computed by PROJ's own EPSG definitions, independently of
// Varnel's UTM set-up.

#include <limits>
#include <string>

struct LatLon {
    double m_dLatitude = std::numeric_limits<double>::quiet_NaN();
    double m_dLongitude = std::numeric_limits<double>::quiet_NaN();
};

/// The geographic position of a projected point by PROJ's own transformation between two EPSG
/// coordinate systems of the same datum (no datum shift, only the inverse projection), in
/// latitude/longitude order. NaN when PROJ cannot build it (the test fails then).
LatLon ReferenceInverse(const std::string& projectedCrs, const std::string& geographicCrs, double easting,
                        double northing);
