#include "view/core/ReadOut.h"

#include "document/CQuilletDoc.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewState.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr double kMetresPerMile = 1609.0;
/// One mile of 1609 metres in feet: below it distances read in feet.
constexpr double kFeetPerMile = 5278.871391076115;

} // namespace

ReadOutEdges ComputeReadOutEdges(const CQuilletDoc& doc, const ViewState& view, int cw, int ch)
{
    const VisibleFrame frame = ComputeVisibleFrame(doc, view);
    ReadOutEdges edges;
    edges.xL = ToClientInt((doc.GeoOrigin().m_dLongitude - frame.X0) * (cw - 1) / frame.WW);
    edges.xR = ToClientInt(edges.xL + doc.GeoExtent().m_dLongitude * (cw - 1) / frame.WW);
    edges.yB = ToClientInt((ch - 1) - (doc.GeoOrigin().m_dLatitude - frame.Y0) * (ch - 1) / frame.HH);
    edges.yT = ToClientInt(edges.yB - doc.GeoExtent().m_dLatitude * (ch - 1) / frame.HH);
    return edges;
}

std::optional<GeoPosition> GeographicPosition(const CQuilletDoc& doc, const ViewState& view, int cw, int ch, int x,
                                              int y)
{
    if (cw <= 1 || ch <= 1)
        return std::nullopt;
    if (doc.HasGeoTiffFrame()) {
        // The frame is only a latitude/longitude box around the map; the picture pixel under the
        // point goes through the georeference's own inverse projection.
        const QPointF frame = ClientToFrame(ComputeVisibleFrame(doc, view), cw, ch, x, y);
        const CDataGeo& origin = doc.GeoOrigin();
        const CDataGeo& extent = doc.GeoExtent();
        if (extent.m_dLongitude == 0 || extent.m_dLatitude == 0)
            return std::nullopt;
        const double column = (frame.x() - origin.m_dLongitude) / extent.m_dLongitude * doc.ImageWidth();
        const double row = (origin.m_dLatitude + extent.m_dLatitude - frame.y()) / extent.m_dLatitude * doc.ImageHeight();
        return doc.PositionOfPixel(column, row);
    }
    const ReadOutEdges edges = ComputeReadOutEdges(doc, view, cw, ch);
    if (edges.xR == edges.xL || edges.yB == edges.yT)
        return std::nullopt;
    // The picture pixel under the point, in integer arithmetic as the read-out always did it.
    const std::int64_t px = std::int64_t(x - edges.xL) * doc.ImageWidth() / (edges.xR - edges.xL);
    const std::int64_t py = std::int64_t(y - edges.yT) * doc.ImageHeight() / (edges.yB - edges.yT);
    return doc.PositionOfPixel(double(px), double(py));
}

QString PixelText(int x, int y)
{
    return QString::asprintf("(%d, %d)", x, y);
}

QString DecimalDegreesText(const GeoPosition& position)
{
    return QString::asprintf("(%2.5f, %2.5f)", position.m_dLongitude, position.m_dLatitude);
}

namespace {

/// SplitDegrees with the seconds as they are shown, to a tenth: 59.96 seconds would show as
/// "60.0", so they carry into the minutes as a full 60 does.
DegMinSec SplitForDisplay(double degrees)
{
    DegMinSec split = SplitDegrees(degrees);
    if (std::round(split.m_dSeconds * 10) >= 600) {
        split.m_dSeconds = 0.0;
        if (++split.m_nMinutes == 60) {
            split.m_nMinutes = 0;
            ++split.m_nDegrees;
        }
    }
    return split;
}

} // namespace

QString DegMinSecText(const GeoPosition& position)
{
    const DegMinSec lon = SplitForDisplay(std::fabs(position.m_dLongitude));
    const DegMinSec lat = SplitForDisplay(std::fabs(position.m_dLatitude));
    return QString::asprintf("( %d-%.2d-%2.1f %c, %d-%.2d-%2.1f %c )", lon.m_nDegrees, lon.m_nMinutes, lon.m_dSeconds,
                             position.m_dLongitude < 0 ? 'W' : 'E', lat.m_nDegrees, lat.m_nMinutes, lat.m_dSeconds,
                             position.m_dLatitude < 0 ? 'S' : 'N');
}

QString CoordinateText(double degrees, bool latitude, InputNotation inputOption)
{
    if (inputOption == InputNotation::DecimalDegrees)
        return QString::asprintf("%.5f", degrees);
    const DegMinSec split = SplitForDisplay(std::fabs(degrees));
    const char hemisphere = latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
    return QString::asprintf("%d-%.2d-%04.1f %c", split.m_nDegrees, split.m_nMinutes, split.m_dSeconds, hemisphere);
}

QString DistanceText(double metres, double unitFactor)
{
    if (unitFactor < 0.5) {
        const double feet = metres / kMetresPerFoot;
        if (feet < kFeetPerMile)
            return QString::asprintf("d = %5.3f Ft", feet);
        return QString::asprintf("d = %3.5f Miles", feet * kMetresPerFoot / kMetresPerMile);
    }
    if (metres < 1000)
        return QString::asprintf("d = %5.3f m", metres);
    return QString::asprintf("d = %3.5f KMs", metres / 1000);
}
