#include "view/core/ReadOut.h"

#include "document/CQuilletDoc.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewState.h"

#include <cmath>
#include <cstdint>

namespace {

/// Pi to the nine digits the distance read-out has always used.
constexpr double kPi = 3.14159265;
constexpr double kEarthRadius = 6378137.0;
constexpr double kMetresPerFoot = 0.3048;
constexpr double kMetresPerMile = 1609.0;
/// One mile of 1609 metres in feet: below it distances read in feet.
constexpr double kFeetPerMile = 5278.871391076115;

} // namespace

DegMinSec SplitDegrees(double degrees)
{
    DegMinSec result;
    result.m_nDegrees = static_cast<int>(degrees);
    const double fraction = (degrees - result.m_nDegrees) * 60;
    result.m_nMinutes = static_cast<int>(fraction);
    result.m_dSeconds = (fraction - result.m_nMinutes) * 60;
    if (result.m_dSeconds >= 60) {
        if (result.m_nMinutes == 59) {
            result.m_nDegrees += 1;
            result.m_nMinutes = 0;
        } else {
            result.m_nMinutes += 1;
        }
        result.m_dSeconds -= 60;
    }
    return result;
}

double GreatCircleDistance(double latitude1, double longitude1, double latitude2, double longitude2)
{
    const double toRadians = kPi / 180;
    const double phi1 = latitude1 * toRadians;
    const double phi2 = latitude2 * toRadians;
    const double dPhi = (latitude2 - latitude1) * toRadians;
    const double dLambda = (longitude2 - longitude1) * toRadians;
    const double a = std::sin(dPhi / 2) * std::sin(dPhi / 2) +
                     std::cos(phi1) * std::cos(phi2) * std::sin(dLambda / 2) * std::sin(dLambda / 2);
    return 2 * std::atan2(std::sqrt(a), std::sqrt(1 - a)) * kEarthRadius;
}

ReadOutEdges ComputeReadOutEdges(const CQuilletDoc& doc, const ViewState& view, int cw, int ch)
{
    const VisibleFrame frame = ComputeVisibleFrame(doc, view);
    ReadOutEdges edges;
    edges.xL = static_cast<int>((doc.m_GeoOrigin.m_dLongitude - frame.X0) * (cw - 1) / frame.WW);
    edges.xR = static_cast<int>(edges.xL + doc.m_GeoExtent.m_dLongitude * (cw - 1) / frame.WW);
    edges.yB = static_cast<int>((ch - 1) - (doc.m_GeoOrigin.m_dLatitude - frame.Y0) * (ch - 1) / frame.HH);
    edges.yT = static_cast<int>(edges.yB - doc.m_GeoExtent.m_dLatitude * (ch - 1) / frame.HH);
    return edges;
}

std::optional<GeoPosition> GeographicPosition(const CQuilletDoc& doc, const ViewState& view, int cw, int ch, int x,
                                              int y)
{
    if (cw <= 1 || ch <= 1)
        return std::nullopt;
    if (view.m_bGeoTiffFrame) {
        const QPointF frame = ClientToFrame(ComputeVisibleFrame(doc, view), cw, ch, x, y);
        return GeoPosition{frame.y(), frame.x()};
    }
    const ReadOutEdges edges = ComputeReadOutEdges(doc, view, cw, ch);
    if (edges.xR == edges.xL || edges.yB == edges.yT)
        return std::nullopt;
    // The picture pixel under the point, in integer arithmetic as the read-out always did it.
    const std::int64_t px = std::int64_t(x - edges.xL) * doc.m_nImageWidth / (edges.xR - edges.xL);
    const std::int64_t py = std::int64_t(y - edges.yT) * doc.m_nImageHeight / (edges.yB - edges.yT);
    const double* c = doc.m_dGeoCoef.data();
    const double d = c[0] * c[5] - c[1] * c[4];
    if (d == 0)
        return std::nullopt;
    const double column = double(px) - c[3];
    const double row = double(py) - c[7];
    return GeoPosition{(c[5] * column - c[1] * row) / d, (c[0] * row - c[4] * column) / d};
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
