#pragma once
// The pointer read-out of a geo-coded map: geographic positions of client points, the status
// pane texts, and great-circle distances.

#include <QPoint>
#include <QString>

#include <optional>

class CQuilletDoc;
class ViewState;

/// Whole degrees, whole minutes and seconds of a non-negative angle in degrees. Seconds that
/// floating-point steps bring to 60 or more carry into the minutes (and the degrees).
struct DegMinSec {
    int m_nDegrees = 0;
    int m_nMinutes = 0;
    double m_dSeconds = 0.0;
};
DegMinSec SplitDegrees(double degrees);

/// Haversine distance in metres on a sphere of radius 6378137 m between two positions in degrees.
double GreatCircleDistance(double latitude1, double longitude1, double latitude2, double longitude2);

/// Latitude and longitude in decimal degrees.
struct GeoPosition {
    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
};

/// The picture's edges in client pixels as the read-out uses them (each truncated toward zero).
struct ReadOutEdges {
    int xL = 0;
    int xR = 0;
    int yB = 0;
    int yT = 0;
};
ReadOutEdges ComputeReadOutEdges(const CQuilletDoc& doc, const ViewState& view, int cw, int ch);

/// The geographic position of client point (x, y): from the frame for a GeoTIFF frame, otherwise
/// by inverting the geo-coding model at the picture pixel under the point. Nothing when the map
/// has no extent on the screen or the model cannot be inverted.
std::optional<GeoPosition> GeographicPosition(const CQuilletDoc& doc, const ViewState& view, int cw, int ch, int x,
                                              int y);

/// Pane 1: "(x, y)".
QString PixelText(int x, int y);
/// Pane 2: "(longitude, latitude)" in decimal degrees.
QString DecimalDegreesText(const GeoPosition& position);
/// Pane 3: degrees-minutes-seconds with the letters E/W and N/S.
QString DegMinSecText(const GeoPosition& position);
/// Pane 4: a distance in metres as feet or miles (unitFactor below 0.5) or metres or kilometres.
QString DistanceText(double metres, double unitFactor);
