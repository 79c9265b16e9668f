// The mouse in the map view: the point tools, the rubber bands of the range and measuring tools,
// zoom clicks, and the pointer read-out.

#include "view/core/ViewState.h"

#include "document/CQuilletDoc.h"
#include "fitting/PointEntry.h"
#include "platform/UiServices.h"
#include "view/core/ReadOut.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewHost.h"

#include <algorithm>
#include <cmath>

namespace {

/// While dragged, a point is parked far outside the frame so that neither the drawing nor the
/// hit test finds it.
constexpr double kParkedPosition = -10.0;
constexpr int kHitDistance = 4;
constexpr int kMarkerHalf = 16;

const QString kInvalidPoint = QStringLiteral("Invalid Point");

} // namespace

QRect ViewState::MarkerRect(QPoint point)
{
    return {point.x() - kMarkerHalf, point.y() - kMarkerHalf, 2 * kMarkerHalf + 1, 2 * kMarkerHalf + 1};
}

namespace {

/// The rectangle spanned by two corners, whichever way round they are given.
QRect Spanned(QPoint a, QPoint b)
{
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

} // namespace

QRect ViewState::BandRect(QPoint a, QPoint b)
{
    return Spanned(a, b).adjusted(-1, -1, 1, 1);
}

void ViewState::HitTestPoint(const CQuilletDoc& doc, int cw, int ch, int x, int y)
{
    m_nSelectedPoint = -1;
    RefreshWindowSize();
    const VisibleFrame frame = ComputeVisibleFrame(doc, *this);
    int best = 100;
    for (size_t i = 0; i < doc.m_ControlPoints.size(); ++i) {
        const CDataGeo& point = doc.m_ControlPoints[i];
        const QPointF at = FrameToClient(frame, cw, ch, point.m_dImageX, point.m_dImageY);
        const double px = std::floor(at.x());
        const double py = std::floor(at.y());
        const double dx = std::fabs(px - x);
        const double dy = std::fabs(py - y);
        if (dx < kHitDistance && dy < kHitDistance && dx + dy < best) {
            best = static_cast<int>(dx + dy);
            m_nSelectedPoint = static_cast<int>(i);
        }
    }
}

bool ViewState::AskCoordinates(const CQuilletDoc& doc, double& latitude, double& longitude, bool prefill)
{
    const ArcSeconds current{latitude, longitude};
    EntryError error;
    std::optional<ArcSeconds> typed;
    if (doc.m_nInputOption == 0) {
        CoordinateEntry entry = prefill ? FormatDecimal(current) : CoordinateEntry{};
        while (Ui().RunDataInputDialog(entry) == IDOK) {
            if ((typed = ComposeDecimal(entry, &error)))
                break;
            // Nothing is stored until every field is a number; the dialog comes back as typed.
            Ui().MessageBox(EntryErrorText(error), QStringLiteral("Invalid Coordinates"), MB_OK | MB_ICONEXCLAMATION);
        }
    } else {
        DegMinSecEntry entry = prefill ? FormatDegMinSec(current) : DegMinSecEntry{};
        while (Ui().RunDegMinSecDialog(entry) == IDOK) {
            if ((typed = ComposeDegMinSec(entry, &error)))
                break;
            Ui().MessageBox(EntryErrorText(error), QStringLiteral("Invalid Coordinates"), MB_OK | MB_ICONEXCLAMATION);
        }
    }
    if (!typed)
        return false;
    latitude = typed->m_dLatitude;
    longitude = typed->m_dLongitude;
    return true;
}

void ViewState::OnLButtonDown(CQuilletDoc& doc, ViewHost& host, QPoint point)
{
    if (!doc.m_bMapLoaded)
        return;
    const QSize client = host.ClientSize();
    const bool inside = QRect(QPoint(0, 0), client).contains(point);
    if (m_bSelectRange) {
        host.SetCapture();
        if (inside) {
            m_ptRangeStart = point;
            m_bRangeDragging = 1;
        }
    } else if (m_bMeasure) {
        if (inside) {
            m_ptMeasureStart = point;
            m_ptMeasureEnd = point;
            m_bMeasuring = 1;
        } else {
            Ui().MessageBox(QStringLiteral("The 1st Point Is Out of View!"), kInvalidPoint, MB_OK | MB_ICONSTOP);
            m_bMeasuring = 0;
        }
    }
    if (m_bMovePoint) {
        HitTestPoint(doc, client.width(), client.height(), point.x(), point.y());
        if (m_nSelectedPoint < 0)
            return;
        CDataGeo& picked = doc.m_ControlPoints[static_cast<size_t>(m_nSelectedPoint)];
        picked.m_dImageX = kParkedPosition;
        picked.m_dImageY = kParkedPosition;
        host.SetCapture();
        host.Invalidate(); // the point leaves the drawing; its marker follows the mouse
        m_ptMoveAt = point;
        m_rcMoveSave = MarkerRect(point);
    }
}

void ViewState::OnLButtonUp(CQuilletDoc& doc, ViewHost& host, QPoint point)
{
    if (!doc.m_bMapLoaded)
        return;
    const QSize client = host.ClientSize();
    const int cw = client.width();
    const int ch = client.height();
    if (m_bSelectRange) {
        host.ReleaseCapture();
        m_bRangeDragging = 0;
        m_rcRangeSave = QRect();
        m_ptRangeEnd = point;
        host.Invalidate();
    }
    if (m_bMeasure) {
        host.ReleaseCapture();
        m_bMeasure = 0; // one measurement, then the tool is off
        m_bMeasuring = 0;
        m_rcMeasureSave = QRect();
        host.Invalidate();
    }

    const auto frameAt = [&](QPoint p) {
        RefreshWindowSize();
        return ClientToFrame(ComputeVisibleFrame(doc, *this), cw, ch, p.x(), p.y());
    };
    if (doc.m_bSetPoints) {
        const QPointF at = frameAt(point);
        doc.m_ControlPoints.push_back({0.0, 0.0, at.x(), at.y()});
        m_nSelectedPoint = static_cast<int>(doc.m_ControlPoints.size()) - 1;
        host.Invalidate();
        double latitude = 0.0, longitude = 0.0;
        if (AskCoordinates(doc, latitude, longitude, false)) {
            CDataGeo& added = doc.m_ControlPoints.back();
            added.m_dLatitude = latitude;
            added.m_dLongitude = longitude;
            doc.ComputeProjection();
        } else {
            doc.m_ControlPoints.pop_back();
        }
        host.Invalidate();
    } else if (m_bDeletePoint) {
        HitTestPoint(doc, cw, ch, point.x(), point.y());
        if (m_nSelectedPoint >= 0) {
            if (Ui().MessageBox(QStringLiteral("Delete this point?"), QStringLiteral("Point Deletion"),
                                MB_YESNO | MB_ICONINFORMATION) == IDYES) {
                doc.m_ControlPoints.erase(doc.m_ControlPoints.begin() + m_nSelectedPoint);
                m_nSelectedPoint = -1;
                doc.ComputeProjection();
            }
            host.Invalidate();
        }
    } else if (m_bMovePoint && m_nSelectedPoint >= 0 &&
               m_nSelectedPoint < static_cast<int>(doc.m_ControlPoints.size())) {
        host.ReleaseCapture();
        if (m_ptMoveAt != QPoint(-1, -1))
            host.InvalidateFeedback(m_rcMoveSave);
        m_ptMoveAt = QPoint(-1, -1);
        // Wherever it is released, inside the picture or not, is where the point goes.
        const QPointF at = frameAt(point);
        CDataGeo& moved = doc.m_ControlPoints[static_cast<size_t>(m_nSelectedPoint)];
        moved.m_dImageX = at.x();
        moved.m_dImageY = at.y();
        m_nSelectedPoint = -1;
        doc.ComputeProjection();
        m_rcMoveSave = QRect();
        host.Invalidate();
    }

    if (m_bZoomIn)
        ZoomAtPoint(doc, host, point.x(), point.y());
    if (m_bZoomOut)
        ZoomAtPoint(doc, host, point.x(), point.y());
}

void ViewState::OnLButtonDblClk(CQuilletDoc& doc, ViewHost& host, QPoint point)
{
    const QSize client = host.ClientSize();
    HitTestPoint(doc, client.width(), client.height(), point.x(), point.y());
    if (m_nSelectedPoint < 0)
        return;
    CDataGeo& edited = doc.m_ControlPoints[static_cast<size_t>(m_nSelectedPoint)];
    double latitude = edited.m_dLatitude, longitude = edited.m_dLongitude;
    if (AskCoordinates(doc, latitude, longitude, true)) {
        edited.m_dLatitude = latitude;
        edited.m_dLongitude = longitude;
        doc.ComputeProjection();
    }
    m_nSelectedPoint = -1;
}

void ViewState::OnMouseMove(CQuilletDoc& doc, ViewHost& host, QPoint point)
{
    const QSize client = host.ClientSize();
    const int cw = client.width();
    const int ch = client.height();
    const int x = point.x();
    const int y = point.y();

    if (doc.m_bGeoCoded) {
        RefreshWindowSize();
        const QString pixel = PixelText(x, y);
        QString decimal, dms, distance;
        if (const std::optional<GeoPosition> here = GeographicPosition(doc, *this, cw, ch, x, y)) {
            decimal = DecimalDegreesText(*here);
            dms = DegMinSecText(*here);
        }
        if (m_bSelectRange && m_bRangeDragging) {
            const QRect before = m_rcRangeSave;
            m_ptRangeEnd = point;
            m_rcRangeSave = BandRect(m_ptRangeStart, m_ptRangeEnd);
            host.InvalidateFeedback(before.united(m_rcRangeSave));
            // The range as fractions of the picture, top and bottom counted from its top edge.
            const ReadOutEdges edges = ComputeReadOutEdges(doc, *this, cw, ch);
            const QRect band = Spanned(m_ptRangeStart, m_ptRangeEnd);
            const double width = edges.xR - edges.xL;
            const double height = edges.yB - edges.yT;
            if (width != 0 && height != 0) {
                m_dRangeLeft = (band.left() - edges.xL) / width;
                m_dRangeRight = (band.right() - edges.xL) / width;
                m_dRangeTop = (band.top() - edges.yT) / height;
                m_dRangeBottom = (band.bottom() - edges.yT) / height;
            }
        }
        if (m_bMeasure && m_bMeasuring && QRect(0, 0, cw, ch).contains(point)) {
            const QRect before = m_rcMeasureSave;
            m_ptMeasureEnd = point;
            m_rcMeasureSave = BandRect(m_ptMeasureStart, m_ptMeasureEnd);
            host.InvalidateFeedback(before.united(m_rcMeasureSave));
            const std::optional<GeoPosition> start =
                GeographicPosition(doc, *this, cw, ch, m_ptMeasureStart.x(), m_ptMeasureStart.y());
            const std::optional<GeoPosition> end = GeographicPosition(doc, *this, cw, ch, x, y);
            if (start && end)
                distance = DistanceText(GreatCircleDistance(start->m_dLatitude, start->m_dLongitude,
                                                            end->m_dLatitude, end->m_dLongitude),
                                        doc.m_dUnitFactor);
        }
        host.SetPaneText(pixel, 1);
        host.SetPaneText(decimal, 2);
        host.SetPaneText(dms, 3);
        host.SetPaneText(distance, 4);
    }

    if (doc.m_bMapLoaded && m_bMovePoint && m_nSelectedPoint >= 0 &&
        m_nSelectedPoint < static_cast<int>(doc.m_ControlPoints.size())) {
        const QRect before = m_rcMoveSave;
        m_ptMoveAt = point;
        m_rcMoveSave = MarkerRect(point).intersected(QRect(0, 0, cw, ch));
        host.InvalidateFeedback(before.united(MarkerRect(point)));
    }
}

int ViewState::CursorId(const CQuilletDoc& doc) const
{
    if (m_bZoomIn)
        return 130;
    if (m_bZoomOut)
        return 131;
    if (doc.m_bSetPoints)
        return 132;
    if (m_bMeasure)
        return -1;
    if (m_bDeletePoint)
        return 135;
    return 0;
}
