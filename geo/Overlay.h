#pragma once
// Trusted lines drawn over a geo-coded map: a reference's lines and points, and the graticule.
// Each is carried from its own coordinate system to WGS 84 and through the map's geo-coding to
// the picture, its lines followed closely enough that a straight line of the reference (a
// parallel of a latitude/longitude file, a road of a projected one) lies where the geo-coding
// puts it, however curved that is on the map.

#include "geo/GeoCoding.h"

#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QString>

#include <vector>

/// A line (a line string or a polygon's ring, closed by repeating its first vertex) or a point,
/// in the coordinates of its system (x easting or longitude, y northing or latitude).
struct OverlayShape {
    bool m_bPoint = false;
    std::vector<QPointF> m_Vertices;
};

/// Shapes as drawn on a picture: lines as runs of pixel positions (column, row), broken where the
/// geo-coding has no pixel, and points.
struct OverlayDrawing {
    std::vector<QPolygonF> m_Lines;
    std::vector<QPointF> m_Points;
};

/// How far, in pixels, a drawn chord may stray from the true line between two of its vertices.
constexpr double kOverlayTolerance = 0.25;

/// The shapes (coordinates of source's system; null for WGS 84 longitude and latitude) drawn through
/// the geo-coding onto a picture (its rectangle in pixels, (0, 0, width, height)). Each segment is
/// split in its own system until its pieces stay within tolerance pixels of the line, finer near
/// the picture; a line breaks where the geo-coding has no pixel for it and is drawn up to there.
OverlayDrawing DrawOverlay(const std::vector<OverlayShape>& shapes, const FitCrsConversion* source,
                           const GeoCoding& coding, const QRectF& picture, double tolerance = kOverlayTolerance);

/// One line of the graticule: a meridian (value its longitude) or a parallel (value its latitude),
/// in WGS 84 longitude and latitude.
struct GraticuleLine {
    bool m_bMeridian = true;
    double m_dValue = 0.0;
    OverlayShape m_Shape;
};

/// The whole degrees or minutes (degrees; 30, 20, 15, 10, 5, 2 or 1 degrees, 30, 20, 15, 10, 5, 2 or 1
/// minutes) that draw three to about eight lines across the larger side of an extent of the spans.
double GraticuleInterval(double latitudeSpan, double longitudeSpan);

/// The WGS 84 extent a width x height picture reads out over (its border and inside sampled),
/// longitudes counted on from the centre's across the date line: south, west, north, east.
/// Nothing when no pixel reads out.
std::optional<std::array<double, 4>> PictureExtent(const GeoCoding& coding, double width, double height);

/// The meridians and parallels over a picture, every m_dInterval degrees.
struct GraticuleLines {
    double m_dInterval = 0.0;
    std::vector<GraticuleLine> m_Lines;
    QString m_strRefusal; ///< why there are no lines
};

/// The meridians and parallels every interval degrees (automatic when interval is 0) over the
/// picture's extent. None when no pixel of the picture reads out, or when the interval would draw
/// more than a thousand lines.
GraticuleLines Graticule(const GeoCoding& coding, double width, double height, double interval);

/// "12°30'N": a graticule line's label, whole degrees and minutes as the interval needs them.
QString GraticuleLabel(const GraticuleLine& line);

/// The drawing's vertices carried from one system to another through WGS 84; a line is cut where
/// a vertex has no place in the other system, and such a point is left out.
OverlayDrawing ConvertedDrawing(const OverlayDrawing& drawing, const FitCrsConversion& from, const FitCrsConversion& to);
