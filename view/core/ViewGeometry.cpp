#include "view/core/ViewGeometry.h"

#include "document/CQuilletDoc.h"
#include "view/core/ViewState.h"

#include <algorithm>

int ToClientInt(double value)
{
    constexpr double kLimit = 1 << 30;
    if (!(value == value))
        return 0;
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

VisibleFrame ComputeVisibleFrame(const CQuilletDoc&, const ViewState& view)
{
    const ViewWindow& window = view.Window();
    const CDataGeo& origin = view.FrameOrigin();
    const CDataGeo& extent = view.FrameExtent();
    return {origin.m_dLongitude + extent.m_dLongitude * window.m_dLeft,
            origin.m_dLatitude + extent.m_dLatitude * window.m_dBottom, extent.m_dLongitude * window.Width(),
            extent.m_dLatitude * window.Height()};
}

QPointF FrameToClient(const VisibleFrame& frame, int cw, int ch, double fx, double fy)
{
    return {(fx - frame.X0) * (cw - 1) / frame.WW, (ch - 1) - (fy - frame.Y0) * (ch - 1) / frame.HH};
}

QPointF ClientToFrame(const VisibleFrame& frame, int cw, int ch, double x, double y)
{
    return {frame.X0 + frame.WW * x / (cw - 1), frame.Y0 + frame.HH * (ch - 1 - y) / (ch - 1)};
}

PictureRect ComputePictureRect(const CQuilletDoc& doc, const VisibleFrame& frame, int cw, int ch)
{
    const double left = doc.GeoOrigin().m_dLongitude;
    const double bottom = doc.GeoOrigin().m_dLatitude;
    const QPointF lowerLeft = FrameToClient(frame, cw, ch, left, bottom);
    const QPointF upperRight =
        FrameToClient(frame, cw, ch, left + doc.GeoExtent().m_dLongitude, bottom + doc.GeoExtent().m_dLatitude);
    return {ToClientInt(lowerLeft.x()), ToClientInt(upperRight.x()), ToClientInt(lowerLeft.y()),
            ToClientInt(upperRight.y())};
}

void UpdateFrame(const CQuilletDoc& doc, ViewState& view, int cw, int ch)
{
    const double W = doc.ImageWidth();
    const double H = doc.ImageHeight();
    if (W == 0 || H == 0 || cw <= 0 || ch <= 0)
        return;
    const double rx = W / cw;
    const double ry = H / ch;
    double ox = 0, oy = 0, sx = 1, sy = 1;
    if (doc.HasGeoTiffFrame()) {
        ox = doc.GeoOrigin().m_dLongitude;
        oy = doc.GeoOrigin().m_dLatitude;
        sx = doc.GeoExtent().m_dLongitude;
        sy = doc.GeoExtent().m_dLatitude;
    }
    CDataGeo origin = view.FrameOrigin();
    CDataGeo extent = view.FrameExtent();
    if (ry < rx) {
        // The picture is relatively wider than the client: room to spare vertically.
        const double l = rx / ry;
        origin.m_dLatitude = oy + (1 - l) * sy / 2;
        extent.m_dLatitude = l * sy;
        origin.m_dLongitude = ox;
        extent.m_dLongitude = sx;
    } else {
        const double l = ry / rx;
        origin.m_dLongitude = ox + (1 - l) * sx / 2;
        extent.m_dLongitude = l * sx;
        origin.m_dLatitude = oy;
        extent.m_dLatitude = sy;
    }
    view.SetFrame(origin, extent);
}
