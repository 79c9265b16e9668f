#pragma once
// Control-point sets for the geo-coding fit tests, built from affine maps chosen by the tests so
// that the right answer is known without running the fit.

#include "geo/CDataGeo.h"

#include <vector>

/// A map from latitude and longitude in decimal degrees to a pixel: column from the left edge,
/// row from the top edge. Its six numbers are, by construction, the stored model slots
/// 0, 1, 3 (column) and 4, 5, 7 (row).
struct AffineMap {
    double m_dColumnPerLat = 0.0;
    double m_dColumnPerLon = 0.0;
    double m_dColumnOffset = 0.0;
    double m_dRowPerLat = 0.0;
    double m_dRowPerLon = 0.0;
    double m_dRowOffset = 0.0;

    double Column(double latDeg, double lonDeg) const
    {
        return m_dColumnPerLat * latDeg + m_dColumnPerLon * lonDeg + m_dColumnOffset;
    }
    double Row(double latDeg, double lonDeg) const
    {
        return m_dRowPerLat * latDeg + m_dRowPerLon * lonDeg + m_dRowOffset;
    }
};

/// A control point as the document holds it: degrees become arc-seconds, the pixel becomes a
/// fraction of the width from the left and of the height from the bottom.
inline CDataGeo MakeControlPoint(double latDeg, double lonDeg, double column, double row, int width, int height)
{
    return {latDeg * 3600.0, lonDeg * 3600.0, column / width, 1.0 - row / height};
}

/// Six points in general position inside the box [lat0, lat0 + latSpan] x [lon0, lon0 + lonSpan]
/// (degrees), touching all four sides so that the spans of the points are exactly the box's,
/// placed exactly on the map.
inline std::vector<CDataGeo> ExactAffinePoints(const AffineMap& map, double lat0, double lon0, double latSpan,
                                               double lonSpan, int width, int height)
{
    static const double kFractions[6][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0.5, 0.25}, {0.25, 0.75}};
    std::vector<CDataGeo> points;
    for (const auto& fraction : kFractions) {
        const double lat = lat0 + fraction[0] * latSpan;
        const double lon = lon0 + fraction[1] * lonSpan;
        points.push_back(MakeControlPoint(lat, lon, map.Column(lat, lon), map.Row(lat, lon), width, height));
    }
    return points;
}

/// A 3 x 3 grid over [lat0, lat0 + latSpan] x [lon0, lon0 + lonSpan], entered row by row from the
/// south-west corner (point 5 is the centre; points 2, 4, 6 and 8 the middles of the sides). The
/// picture has 3600 pixels per degree both ways, north up, with a 200-pixel margin, so one pixel
/// is one arc-second.
///
/// The centre's pixel is moved by (centreRowShift, centreColumnShift) pixels and each side middle
/// by minus a quarter of that. This shift pattern sums to zero and is orthogonal to latitude and
/// longitude over the grid, so the least-squares model stays exactly the grid's map
/// (GridMap) and each point's back-projected position is off by its own shift: the centre's
/// residual is max(|centreRowShift|, |centreColumnShift|) arc-seconds, a side middle's a quarter of
/// that, and a corner's zero.
struct PerturbedGrid {
    double m_dLat0 = 40.0;
    double m_dLon0 = 10.0;
    double m_dLatSpan = 1.0;
    double m_dLonSpan = 2.0;

    int Width() const { return static_cast<int>(3600.0 * m_dLonSpan) + 400; }
    int Height() const { return static_cast<int>(3600.0 * m_dLatSpan) + 400; }
    AffineMap GridMap() const
    {
        return {0.0, 3600.0, 200.0 - 3600.0 * m_dLon0, -3600.0, 0.0, 200.0 + 3600.0 * (m_dLat0 + m_dLatSpan)};
    }
    std::vector<CDataGeo> Points(double centreRowShift, double centreColumnShift) const
    {
        const AffineMap map = GridMap();
        std::vector<CDataGeo> points;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                const double lat = m_dLat0 + 0.5 * i * m_dLatSpan;
                const double lon = m_dLon0 + 0.5 * j * m_dLonSpan;
                double weight = 0.0;
                if (i == 1 && j == 1)
                    weight = 1.0;
                else if (i == 1 || j == 1)
                    weight = -0.25;
                points.push_back(MakeControlPoint(lat, lon, map.Column(lat, lon) + weight * centreColumnShift,
                                                  map.Row(lat, lon) + weight * centreRowShift, Width(), Height()));
            }
        }
        return points;
    }
};
