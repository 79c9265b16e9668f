#include "view/core/ViewPainter.h"

#include "document/CQuilletDoc.h"
#include "geo/Residuals.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewIcons.h"
#include "view/core/ViewState.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor kRangeColour(50, 50, 10);
const QColor kMeasureColour(0, 0, 255);
const QColor kHighlightColour(255, 200, 0);
const QColor kOverThresholdColour(255, 0, 0);

/// The longest residual vector is drawn about this long, in client pixels.
constexpr double kLongestVector = 60.0;

/// value rounded to two significant digits (247.3 gives 250, 0.0734 gives 0.073).
double TwoSignificantDigits(double value)
{
    if (!(value > 0))
        return value;
    const double scale = std::pow(10.0, std::floor(std::log10(value)) - 1);
    return std::round(value / scale) * scale;
}

/// Each point's residual vector from its marker to where its typed coordinates land under the
/// model the map's transformation fits to the points, lengthened so that the longest is about 60 pixels; the factor is
/// written in the lower left corner. Nothing without a model.
void PaintResiduals(QPainter& painter, const CQuilletDoc& doc, const VisibleFrame& frame, const MapPlacement&, int cw,
                    int ch)
{
    const std::vector<CDataGeo>& points = doc.ControlPoints();
    const ResidualAnalysis analysis = AnalyseResiduals(doc.Choice(), points, doc.ImageWidth(), doc.ImageHeight(), false);
    if (!analysis.m_Model || doc.ImageWidth() <= 0 || doc.ImageHeight() <= 0)
        return;
    // Client pixels per picture pixel, across and down.
    const double sx = (cw - 1) / frame.WW / doc.ImageWidth();
    const double sy = (ch - 1) / frame.HH / doc.ImageHeight();
    double longest = 0.0;
    for (const PointResidual& r : analysis.m_Points)
        longest = std::max(longest, std::hypot(r.m_dDx * sx, r.m_dDy * sy));
    // A thousandth of a pixel is the round-off of a fit through the points (a spline's, or an
    // exact one): magnified, it would point anywhere.
    if (!(longest > 1e-3))
        return;
    const double factor = TwoSignificantDigits(kLongestVector / longest);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PointResidual& r = analysis.m_Points[i];
        const QPointF from = FrameToClient(frame, cw, ch, points[i].m_dImageX, points[i].m_dImageY);
        const QPointF start(static_cast<int>(from.x()), static_cast<int>(from.y()));
        const QPointF end = start + QPointF(r.m_dDx * sx, r.m_dDy * sy) * factor;
        painter.setPen(QPen(r.m_bOverThreshold ? kOverThresholdColour : MarkerColour(), r.m_bOverThreshold ? 2 : 1));
        painter.drawLine(start, end);
        // An arrowhead where the typed coordinates land.
        const QPointF along = end - start;
        const double length = std::hypot(along.x(), along.y());
        if (length > 6) {
            const QPointF unit = along / length;
            const QPointF across(-unit.y(), unit.x());
            painter.drawLine(end, end - unit * 6 + across * 3);
            painter.drawLine(end, end - unit * 6 - across * 3);
        }
    }
    const QString label = QStringLiteral("residuals x%1").arg(factor);
    const QRect box = painter.fontMetrics().boundingRect(label);
    const QRect area(4, ch - box.height() - 6, box.width() + 6, box.height() + 2);
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignCenter, label);
    painter.restore();
}

void DrawIconAt(QPainter& painter, int id, int left, int top)
{
    painter.drawImage(QPoint(left, top), ViewIcon(id));
}

/// A point's number: black on white, its top-left corner at (x, y).
void DrawLabel(QPainter& painter, int x, int y, const QString& text)
{
    const QRect box = painter.fontMetrics().boundingRect(text);
    const QRect area(x, y, box.width() + 1, painter.fontMetrics().height());
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop, text);
}

} // namespace

MapPlacement ComputeMapPlacement(const CQuilletDoc& doc, const ViewState& view, int cw, int ch)
{
    const PictureRect picture = ComputePictureRect(doc, ComputeVisibleFrame(doc, view), cw, ch);
    // The edges may lie far outside the client: their distances are taken in doubles.
    const double width = double(picture.xR) - picture.xL;
    const double height = double(picture.yB) - picture.yT;
    MapPlacement m;
    if (!(width > 0) || !(height > 0)) {
        // A map of no width or height on screen (a window or frame of no size) draws nothing.
        m.m_Destination = QRect();
        return m;
    }
    int left, right, top, bottom;
    if (picture.xL > 0) {
        left = picture.xL;
        m.L = 0;
    } else {
        left = 0;
        m.L = -picture.xL / width;
    }
    if (picture.xR > cw) {
        right = cw;
        m.R = (cw - picture.xL) / width;
    } else {
        right = picture.xR;
        m.R = 1;
    }
    if (picture.yB > ch) {
        bottom = ch;
        m.B = (picture.yB - ch) / height;
    } else {
        bottom = picture.yB;
        m.B = 0;
    }
    if (picture.yT > 0) {
        top = picture.yT;
        m.T = 1;
    } else {
        top = 0;
        m.T = picture.yB / height;
    }
    m.m_Destination = QRect(left, top, right - left, bottom - top);
    return m;
}

bool PaintView(QPainter& painter, const CQuilletDoc& doc, ViewState& view, int cw, int ch, MapPlacement* placement)
{
    UpdateFrame(doc, view, cw, ch);
    if (!doc.IsMapLoaded() || cw <= 1 || ch <= 1)
        return false;

    const MapPlacement m = ComputeMapPlacement(doc, view, cw, ch);
    const QRect& dest = m.m_Destination;
    if (doc.IsPictureMap()) {
        doc.Picture().DrawPart(&painter, dest, m.L, m.R, m.B, m.T);
    } else if (doc.IsTiffMap() && view.DisplayCopy().m_pBits) {
        const DIBSection& copy = view.DisplayCopy();
        const int wd = copy.m_nWidth;
        const int hd = copy.m_nHeight;
        if (wd == dest.width() && hd == dest.height()) {
            copy.Draw(painter, dest.left(), dest.top());
        } else {
            const int srcLeft = ToClientInt(wd * m.L);
            const int srcTop = ToClientInt(hd * (1 - m.T));
            copy.StretchDraw(painter, dest.left(), dest.top(), dest.left() + dest.width(), dest.top() + dest.height(),
                             srcLeft, srcTop, ToClientInt(wd * m.R), ToClientInt(hd * (m.T - m.B)));
        }
    }

    if (doc.ShowPoints()) {
        const VisibleFrame frame = ComputeVisibleFrame(doc, view);
        const auto drawPoint = [&](double fx, double fy, size_t index) {
            const QPointF at = FrameToClient(frame, cw, ch, fx, fy);
            const int sx = ToClientInt(at.x());
            const int sy = ToClientInt(at.y());
            DrawIconAt(painter, IDI_POINT_MARKER, sx - 16, sy - 16);
            DrawLabel(painter, sx + 4, sy + 4, QString::asprintf("%d", static_cast<int>(index + 1)));
        };
        const std::vector<CDataGeo>& points = doc.ControlPoints();
        for (size_t i = 0; i < points.size(); ++i) {
            // A point being dragged is drawn under the pointer, not here.
            if (static_cast<int>(i) != view.DraggedPoint())
                drawPoint(points[i].m_dImageX, points[i].m_dImageY, i);
        }
        if (const std::optional<QPointF>& pending = view.PendingPoint())
            drawPoint(pending->x(), pending->y(), points.size());
        const int highlighted = view.HighlightedPoint();
        if (highlighted >= 0 && highlighted < static_cast<int>(points.size()) && highlighted != view.DraggedPoint()) {
            // The point chosen in the control-point table: a ring around its marker.
            const CDataGeo& chosen = points[static_cast<size_t>(highlighted)];
            const QPointF at = FrameToClient(frame, cw, ch, chosen.m_dImageX, chosen.m_dImageY);
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(kHighlightColour, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(QPointF(static_cast<int>(at.x()), static_cast<int>(at.y())), 12, 12);
            painter.restore();
        }
        if (view.ShowsResiduals())
            PaintResiduals(painter, doc, frame, m, cw, ch);
    }

    // The last range dragged stays on the map while both its corners lie on the drawn picture.
    const auto onPicture = [&dest](QPoint p) {
        return p.x() >= dest.left() && p.x() < dest.left() + dest.width() && p.y() >= dest.top() &&
               p.y() < dest.top() + dest.height();
    };
    if (const std::optional<QLine> range = view.RangeCorners(); range && onPicture(range->p1()) && onPicture(range->p2()))
        PaintRangeRectangle(painter, range->p1(), range->p2());

    DrawIconAt(painter, doc.IsGeoCoded() ? IDI_GEOCODED : IDI_NOT_GEOCODED, cw - 33, 1);
    if (placement)
        *placement = m;
    return true;
}

void PaintRangeRectangle(QPainter& painter, QPoint a, QPoint b)
{
    const int left = std::min(a.x(), b.x());
    const int right = std::max(a.x(), b.x());
    const int top = std::min(a.y(), b.y());
    const int bottom = std::max(a.y(), b.y());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kRangeColour, 1, Qt::DashLine));
    painter.drawLine(left, bottom, right, bottom);
    painter.drawLine(right, bottom, right, top);
    painter.drawLine(right, top, left, top);
    painter.drawLine(left, top, left, bottom);
    painter.restore();
}

void PaintFeedback(QPainter& painter, const ViewState& view)
{
    if (const std::optional<QLine> band = view.RangeBeingDragged())
        PaintRangeRectangle(painter, band->p1(), band->p2());
    if (const std::optional<QLine> line = view.MeasuringLine()) {
        painter.save();
        painter.setPen(QPen(kMeasureColour, 1, Qt::DashLine));
        painter.drawLine(*line);
        painter.restore();
    }
    if (const std::optional<QPoint> marker = view.MovingMarker())
        DrawIconAt(painter, IDI_POINT_MARKER, marker->x() - 16, marker->y() - 16);
}
