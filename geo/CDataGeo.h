#pragma once

/// A control point, or a (latitude, longitude) pair of the document's map frame.
///
/// In a control point: m_dLatitude and m_dLongitude are in arc-seconds (decimal degrees x
/// kArcSecondsPerDegree, north and east positive); m_dImageX and m_dImageY are the point's place
/// on the map in frame units (for a picture map the fraction of the picture width from the left
/// edge and of the picture height from the bottom edge).
/// In a frame member: m_dLatitude is the vertical and m_dLongitude the horizontal coordinate;
/// the image members are unused (zero).
///
/// The operations below are the one place where a control point's units are converted; they add
/// nothing to the four stored doubles.
struct CDataGeo {
    /// Arc-seconds in a degree: the unit of a control point's latitude and longitude.
    static constexpr double kArcSecondsPerDegree = 3600.0;

    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
    double m_dImageX = 0.0;
    double m_dImageY = 0.0;

    /// A control point from decimal degrees and its place in frame units.
    static CDataGeo FromDegrees(double latitude, double longitude, double imageX, double imageY)
    {
        return {ToArcSeconds(latitude), ToArcSeconds(longitude), imageX, imageY};
    }
    /// A control point from decimal degrees and its pixel in a width x height picture (column from
    /// the left edge, row from the top edge).
    static CDataGeo FromPixel(double latitude, double longitude, double column, double row, double width,
                              double height)
    {
        return {ToArcSeconds(latitude), ToArcSeconds(longitude), column / width, 1.0 - row / height};
    }

    /// Decimal degrees as arc-seconds, and back.
    static constexpr double ToArcSeconds(double degrees) { return degrees * kArcSecondsPerDegree; }
    static constexpr double ToDegrees(double arcSeconds) { return arcSeconds / kArcSecondsPerDegree; }

    /// The latitude and longitude in decimal degrees.
    double LatitudeDegrees() const { return ToDegrees(m_dLatitude); }
    double LongitudeDegrees() const { return ToDegrees(m_dLongitude); }

    /// The point's pixel in a width x height picture: the column from the left edge and the row
    /// from the top edge (the frame's y runs up from the bottom edge). The size is used as it is,
    /// not reduced by one.
    double PixelColumn(double width) const { return width * m_dImageX; }
    double PixelRow(double height) const { return (1.0 - m_dImageY) * height; }

    friend bool operator==(const CDataGeo&, const CDataGeo&) = default;
};
