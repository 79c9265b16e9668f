#pragma once

/// A control point, or a (latitude, longitude) pair of the document's map frame.
///
/// In a control point: m_dLatitude and m_dLongitude are in arc-seconds (decimal degrees x 3600,
/// north and east positive); m_dImageX and m_dImageY are the point's place on the map in frame
/// units (for a picture map the fraction of the picture width from the left edge and of the
/// picture height from the bottom edge).
/// In a frame member: m_dLatitude is the vertical and m_dLongitude the horizontal coordinate;
/// the image members are unused (zero).
struct CDataGeo {
    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
    double m_dImageX = 0.0;
    double m_dImageY = 0.0;

    friend bool operator==(const CDataGeo&, const CDataGeo&) = default;
};
