#pragma once
// Positions on the globe and what is measured between them: latitude/longitude pairs, the
// splitting of an angle into degrees, minutes and seconds, and distances on the WGS 84 ellipsoid.

/// Latitude and longitude in decimal degrees, north and east positive.
struct GeoPosition {
    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
};

/// Whole degrees, whole minutes and seconds of a non-negative angle in degrees. Seconds that
/// floating-point steps bring to 60 or more carry into the minutes (and the degrees).
struct DegMinSec {
    int m_nDegrees = 0;
    int m_nMinutes = 0;
    double m_dSeconds = 0.0;
};
DegMinSec SplitDegrees(double degrees);

/// The longitude that names the same meridian as longitude within half a turn of reference: a
/// position read out as 179.9 beside a point typed at -180 is 0.1 degree away, not 359.9.
double LongitudeNear(double longitude, double reference);

/// The shortest distance in metres on the WGS 84 ellipsoid between two positions in degrees
/// (PROJ's geodesic, exact to nanometres). NaN when a latitude lies beyond a pole or a position is
/// not a number.
double GreatCircleDistance(double latitude1, double longitude1, double latitude2, double longitude2);
