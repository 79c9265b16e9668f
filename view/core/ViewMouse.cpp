// The mouse in the map view: the point tools, the rubber bands of the range and measuring tools,
// zoom clicks, and the pointer read-out.

#include "view/core/ViewState.h"

#include "document/CQuilletDoc.h"
#include "view/core/ReadOut.h"
#include "view/core/ViewActions.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewHost.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kHitDistance = 4;
constexpr int kMarkerHalf = 16;

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

namespace {

/// Whether frame position at lies on the map rectangle, its edges included.
bool OnMap(const CQuilletDoc& doc, QPointF at)
{
    const auto within = [](double value, double start, double span) {
        return value >= std::min(start, start + span) && value <= std::max(start, start + span);
    };
    return within(at.x(), doc.GeoOrigin().m_dLongitude, doc.GeoExtent().m_dLongitude) &&
           within(at.y(), doc.GeoOrigin().m_dLatitude, doc.GeoExtent().m_dLatitude);
}

} // namespace

QRect ViewState::BandRect(QPoint a, QPoint b)
{
    return Spanned(a, b).adjusted(-1, -1, 1, 1);
}

void ViewState::HitTestPoint(const CQuilletDoc& doc, int cw, int ch, int x, int y)
{
    m_nSelectedPoint = -1;
    const VisibleFrame frame = ComputeVisibleFrame(doc, *this);
    int best = 100;
    for (size_t i = 0; i < doc.ControlPoints().size(); ++i) {
        // A point being dragged is not on the map until it is dropped.
        if (static_cast<int>(i) == m_nDraggedPoint)
            continue;
        const CDataGeo& point = doc.ControlPoints()[i];
        const QPointF at = FrameToClient(frame, cw, ch, point.m_dImageX, point.m_dImageY);
        const double px = std::floor(at.x());
        const double py = std::floor(at.y());
        const double dx = std::fabs(px - x);
        const double dy = std::fabs(py - y);
        if (dx < kHitDistance && dy < kHitDistance && dx + dy < best) {
            best = ToClientInt(dx + dy);
            m_nSelectedPoint = static_cast<int>(i);
        }
    }
}

void ViewState::OnLButtonDown(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, QPoint point)
{
    if (!doc.IsMapLoaded())
        return;
    const QSize client = host.ClientSize();
    const bool inside = QRect(QPoint(0, 0), client).contains(point);
    if (m_Tool == Tool::SelectRange) {
        host.SetCapture();
        if (inside) {
            m_ptRangeStart = point;
            m_bRangeDragging = true;
        }
    } else if (m_Tool == Tool::Measure) {
        if (inside) {
            m_ptMeasureStart = point;
            m_ptMeasureEnd = point;
            m_bMeasuring = true;
        } else {
            actions.Refuse(ViewActions::Refusal::MeasureStartOutOfView);
            m_bMeasuring = false;
        }
    }
    if (m_Tool == Tool::MovePoint) {
        HitTestPoint(doc, client.width(), client.height(), point.x(), point.y());
        if (m_nSelectedPoint < 0)
            return;
        m_nDraggedPoint = m_nSelectedPoint;
        host.PointPicked(m_nSelectedPoint);
        m_ptMovePressedAt = point;
        host.SetCapture();
        host.Invalidate(); // the point leaves the drawing; its marker follows the mouse
        m_ptMoveAt = point;
        m_rcMoveSave = MarkerRect(point);
    }
}

void ViewState::OnLButtonUp(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, QPoint point)
{
    if (!doc.IsMapLoaded())
        return;
    const QSize client = host.ClientSize();
    const int cw = client.width();
    const int ch = client.height();
    if (m_Tool == Tool::SelectRange) {
        host.ReleaseCapture();
        m_bRangeDragging = false;
        m_rcRangeSave = QRect();
        m_ptRangeEnd = point;
        host.Invalidate();
    }
    if (m_Tool == Tool::Measure) {
        host.ReleaseCapture();
        m_Tool = Tool::None; // one measurement, then the tool is off
        m_bMeasuring = false;
        m_rcMeasureSave = QRect();
        host.Invalidate();
    }

    const auto frameAt = [&](QPoint p) {
        return ClientToFrame(ComputeVisibleFrame(doc, *this), cw, ch, p.x(), p.y());
    };
    if (m_Tool == Tool::SetPoints) {
        HitTestPoint(doc, cw, ch, point.x(), point.y());
        if (m_nSelectedPoint >= 0) {
            // A click on a point edits that point: a second one on top of it only spoils the fit.
            const int picked = m_nSelectedPoint;
            host.PointPicked(picked);
            actions.EditPoint(picked);
            m_nSelectedPoint = -1;
        } else if (OnMap(doc, frameAt(point))) {
            // The new point shows on the map while its coordinates are asked for. A click beside
            // the picture is no place on the map and adds nothing.
            m_PendingPoint = frameAt(point);
            m_nSelectedPoint = static_cast<int>(doc.ControlPoints().size());
            host.Invalidate();
            actions.AddPoint(*m_PendingPoint);
            m_PendingPoint.reset();
            host.Invalidate();
        }
    } else if (m_Tool == Tool::DeletePoint) {
        HitTestPoint(doc, cw, ch, point.x(), point.y());
        if (m_nSelectedPoint >= 0) {
            if (actions.DeletePoint(m_nSelectedPoint))
                m_nSelectedPoint = -1;
            host.Invalidate();
        }
    } else if (m_Tool == Tool::MovePoint && m_nSelectedPoint >= 0 &&
               m_nSelectedPoint < static_cast<int>(doc.ControlPoints().size())) {
        host.ReleaseCapture();
        if (m_ptMoveAt != QPoint(-1, -1))
            host.InvalidateFeedback(m_rcMoveSave);
        m_ptMoveAt = QPoint(-1, -1);
        // Wherever it is released, inside the picture or not, is where the point goes.
        const QPointF at = frameAt(point);
        const int moved = m_nSelectedPoint;
        m_nSelectedPoint = -1;
        m_nDraggedPoint = -1;
        // A point put down where it was picked up has not moved: no edit, no step to undo.
        if (point != m_ptMovePressedAt)
            actions.MovePoint(moved, at);
        m_rcMoveSave = QRect();
        host.Invalidate();
    }

    if (m_Tool == Tool::ZoomIn)
        ZoomAtPoint(doc, host, actions, point.x(), point.y());
    if (m_Tool == Tool::ZoomOut)
        ZoomAtPoint(doc, host, actions, point.x(), point.y());
}

void ViewState::OnLButtonDblClk(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, QPoint point)
{
    // With Set points the first click of the two has already added or edited the point there.
    if (m_Tool == Tool::SetPoints)
        return;
    const QSize client = host.ClientSize();
    HitTestPoint(doc, client.width(), client.height(), point.x(), point.y());
    if (m_nSelectedPoint < 0)
        return;
    const int picked = m_nSelectedPoint;
    host.PointPicked(picked);
    actions.EditPoint(picked);
    m_nSelectedPoint = -1;
}

void ViewState::OnMouseMove(const CQuilletDoc& doc, ViewHost& host, QPoint point)
{
    const QSize client = host.ClientSize();
    const int cw = client.width();
    const int ch = client.height();
    const int x = point.x();
    const int y = point.y();

    if (doc.IsGeoCoded()) {
        const QString pixel = PixelText(x, y);
        QString decimal, dms, distance;
        if (const std::optional<GeoPosition> here = GeographicPosition(doc, *this, cw, ch, x, y)) {
            decimal = DecimalDegreesText(*here);
            dms = DegMinSecText(*here);
        }
        if (m_Tool == Tool::SelectRange && m_bRangeDragging) {
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
        if (m_Tool == Tool::Measure && m_bMeasuring && QRect(0, 0, cw, ch).contains(point)) {
            const QRect before = m_rcMeasureSave;
            m_ptMeasureEnd = point;
            m_rcMeasureSave = BandRect(m_ptMeasureStart, m_ptMeasureEnd);
            host.InvalidateFeedback(before.united(m_rcMeasureSave));
            const std::optional<GeoPosition> start =
                GeographicPosition(doc, *this, cw, ch, m_ptMeasureStart.x(), m_ptMeasureStart.y());
            const std::optional<GeoPosition> end = GeographicPosition(doc, *this, cw, ch, x, y);
            const double metres = start && end ? GreatCircleDistance(start->m_dLatitude, start->m_dLongitude,
                                                                     end->m_dLatitude, end->m_dLongitude)
                                               : std::nan("");
            if (std::isfinite(metres)) // not past a pole
                distance = DistanceText(metres, doc.UnitFactor());
        }
        host.SetPaneText(pixel, 1);
        host.SetPaneText(decimal, 2);
        host.SetPaneText(dms, 3);
        host.SetPaneText(distance, 4);
    }

    if (doc.IsMapLoaded() && m_Tool == Tool::MovePoint && m_nSelectedPoint >= 0 &&
        m_nSelectedPoint < static_cast<int>(doc.ControlPoints().size())) {
        const QRect before = m_rcMoveSave;
        m_ptMoveAt = point;
        m_rcMoveSave = MarkerRect(point).intersected(QRect(0, 0, cw, ch));
        host.InvalidateFeedback(before.united(MarkerRect(point)));
    }
}

int ViewState::CursorId() const
{
    switch (m_Tool) {
    case Tool::ZoomIn:
        return 130;
    case Tool::ZoomOut:
        return 131;
    case Tool::SetPoints:
        return 132;
    case Tool::Measure:
        return -1;
    case Tool::DeletePoint:
        return 135;
    default:
        return 0;
    }
}
