#include "view/core/OverlayPainter.h"

#include <QPainter>

void PaintOverlay(QPainter& painter, const OverlayDrawing& drawing, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour);
    pen.setCosmetic(true);
    pen.setWidth(1);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Picture pixel (column, row) is the square from there to one more; aliased painting fills
    // the pixel a coordinate rounds to, so half a pixel back puts each vertex in its own square.
    painter.translate(-0.5, -0.5);
    for (const QPolygonF& line : drawing.m_Lines)
        painter.drawPolyline(line);
    const QTransform toDevice = painter.transform();
    painter.resetTransform();
    for (const QPointF& point : drawing.m_Points) {
        const QPoint at = toDevice.map(point).toPoint();
        painter.drawLine(at.x() - kOverlayPointArm, at.y(), at.x() + kOverlayPointArm, at.y());
        painter.drawLine(at.x(), at.y() - kOverlayPointArm, at.x(), at.y() + kOverlayPointArm);
    }
    painter.restore();
}
