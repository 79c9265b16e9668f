#pragma once
// The pointer read-out of a geo-coded map: geographic positions of client points and the status
// pane texts.

#include "geo/Geodesy.h"

#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>

class CQuilletDoc;
enum class InputNotation : std::int32_t;
class ViewState;

/// The picture's edges in client pixels as the read-out uses them (each truncated toward zero).
struct ReadOutEdges {
    int xL = 0;
    int xR = 0;
    int yB = 0;
    int yT = 0;
};
ReadOutEdges ComputeReadOutEdges(const CQuilletDoc& doc, const ViewState& view, int cw, int ch);

/// The geographic position of client point (x, y): the picture pixel under the point through the
/// map's GeoTIFF georeference when it is the frame, otherwise through the inverted geo-coding
/// model (see CQuilletDoc::PositionOfPixel). Nothing when the map has no extent on the screen or
/// the position cannot be computed.
std::optional<GeoPosition> GeographicPosition(const CQuilletDoc& doc, const ViewState& view, int cw, int ch, int x,
                                              int y);

/// Pane 1: "(x, y)".
QString PixelText(int x, int y);
/// Pane 2: "(longitude, latitude)" in decimal degrees.
QString DecimalDegreesText(const GeoPosition& position);
/// Pane 3: degrees-minutes-seconds with the letters E/W and N/S.
QString DegMinSecText(const GeoPosition& position);
/// One coordinate in the notation points are typed in: decimal degrees with five decimals, or
/// degrees-minutes-seconds with N/S or E/W ("45-30-00.0 N").
QString CoordinateText(double degrees, bool latitude, InputNotation inputOption);
/// Pane 4: a distance in metres as feet or miles (unitFactor below 0.5) or metres or kilometres.
QString DistanceText(double metres, double unitFactor);
