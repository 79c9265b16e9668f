#pragma once
// Positions on the globe and what is measured between them: latitude/longitude pairs, the
// splitting of an angle into degrees, minutes and seconds, and great-circle distances.

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

/// Haversine distance in metres on a sphere of radius 6378137 m between two positions in
/// degrees, with pi to the nine digits the distance read-out has always used.
double GreatCircleDistance(double latitude1, double longitude1, double latitude2, double longitude2);
