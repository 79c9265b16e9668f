// The drawing half of MetafileCanvas: lines, shapes, arcs, regions and bitmaps.

#include "imaging/MetafileCanvas.h"

#include <QImage>
#include <QLinearGradient>

#include <cmath>

namespace {

/// The composition a ternary raster operation with a source amounts to; empty for the
/// operation that leaves the target alone.
struct SourceOperation {
    bool draw = true;
    bool invertSource = false;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
};

SourceOperation ForRop3(std::uint32_t rop)
{
    SourceOperation op;
    switch ((rop >> 16) & 0xFF) {
    case 0xAA: // D: the target stays
        op.draw = false;
        break;
    case 0x88: // SRCAND
        op.mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case 0xEE: // SRCPAINT
        op.mode = QPainter::RasterOp_SourceOrDestination;
        break;
    case 0x66: // SRCINVERT
        op.mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case 0x44: // SRCERASE
        op.mode = QPainter::RasterOp_SourceAndNotDestination;
        break;
    case 0x11: // NOTSRCERASE
        op.mode = QPainter::RasterOp_NotSourceAndNotDestination;
        break;
    case 0x22:
        op.mode = QPainter::RasterOp_NotSourceAndDestination;
        break;
    case 0xBB: // MERGEPAINT
        op.mode = QPainter::RasterOp_NotSourceOrDestination;
        break;
    case 0x33: // NOTSRCCOPY
        op.invertSource = true;
        break;
    default: // SRCCOPY and the operations that mix in the brush: drawn as a copy
        break;
    }
    return op;
}

} // namespace

void MetafileCanvas::MoveTo(QPointF p)
{
    m_Dc.position = p;
    m_bFigureOpen = false;
}

void MetafileCanvas::LineTo(QPointF p)
{
    QPainterPath seg(m_Dc.position);
    seg.lineTo(p);
    AppendToFigure(seg);
    m_Dc.position = p;
}

void MetafileCanvas::Polyline(const QPolygonF& points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(points);
    DrawShape(path, false, true);
}

void MetafileCanvas::PolylineTo(const QPolygonF& points)
{
    if (points.isEmpty())
        return;
    QPainterPath seg(m_Dc.position);
    for (const QPointF& p : points)
        seg.lineTo(p);
    AppendToFigure(seg);
    m_Dc.position = points.back();
}

void MetafileCanvas::PolyPolyline(std::span<const QPolygonF> lines)
{
    QPainterPath path;
    for (const QPolygonF& line : lines)
        if (line.size() >= 2)
            path.addPolygon(line);
    if (!path.isEmpty())
        DrawShape(path, false, true);
}

void MetafileCanvas::Polygon(const QPolygonF& points)
{
    PolyPolygon(std::span<const QPolygonF>(&points, 1));
}

void MetafileCanvas::PolyPolygon(std::span<const QPolygonF> polygons)
{
    QPainterPath path;
    for (const QPolygonF& polygon : polygons) {
        if (polygon.size() < 2)
            continue;
        path.addPolygon(polygon);
        path.closeSubpath();
    }
    if (!path.isEmpty())
        DrawShape(path, true, true);
}

void MetafileCanvas::PolyBezier(const QPolygonF& points)
{
    if (points.size() < 4)
        return;
    QPainterPath path(points[0]);
    for (qsizetype i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    DrawShape(path, false, true);
}

void MetafileCanvas::PolyBezierTo(const QPolygonF& points)
{
    if (points.size() < 3)
        return;
    QPainterPath seg(m_Dc.position);
    for (qsizetype i = 0; i + 2 < points.size(); i += 3)
        seg.cubicTo(points[i], points[i + 1], points[i + 2]);
    AppendToFigure(seg);
    m_Dc.position = seg.currentPosition();
}

void MetafileCanvas::Rectangle(const QRectF& box)
{
    QPainterPath path;
    path.addRect(box.normalized());
    DrawShape(path, true, true);
}

void MetafileCanvas::RoundRect(const QRectF& box, QSizeF corner)
{
    QPainterPath path;
    path.addRoundedRect(box.normalized(), std::abs(corner.width()) / 2, std::abs(corner.height()) / 2);
    DrawShape(path, true, true);
}

void MetafileCanvas::Ellipse(const QRectF& box)
{
    QPainterPath path;
    path.addEllipse(box.normalized());
    DrawShape(path, true, true);
}

QPainterPath MetafileCanvas::ArcPath(ArcKind kind, const QRectF& box, QPointF start, QPointF end) const
{
    const QRectF r = box.normalized();
    if (r.isEmpty())
        return {};
    const QPointF c = r.center();
    const double rx = r.width() / 2, ry = r.height() / 2;
    // Qt measures ellipse angles on the circle the ellipse is stretched from, counter-clockwise
    // on a y-downward page: the radial through a point meets the ellipse at that angle.
    const auto angle = [&](QPointF p) { return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180.0 / M_PI; };
    const double a0 = angle(start);
    double sweep = std::fmod(angle(end) - a0, 360.0);
    // GDI's direction is as seen on the device: a mapping that mirrors reverses it here.
    bool counterClockwise = m_Dc.arcDirection != Gdi::AD_CLOCKWISE;
    if (LogicalToDevice().determinant() < 0)
        counterClockwise = !counterClockwise;
    if (counterClockwise && sweep <= 0)
        sweep += 360.0;
    else if (!counterClockwise && sweep >= 0)
        sweep -= 360.0;
    QPainterPath path;
    if (kind == ArcKind::Pie)
        path.moveTo(c);
    else
        path.arcMoveTo(r, a0);
    path.arcTo(r, a0, sweep);
    if (kind != ArcKind::Arc)
        path.closeSubpath();
    return path;
}

void MetafileCanvas::Arc(ArcKind kind, const QRectF& box, QPointF start, QPointF end)
{
    const QPainterPath path = ArcPath(kind, box, start, end);
    if (!path.isEmpty())
        DrawShape(path, kind != ArcKind::Arc, true);
}

void MetafileCanvas::ArcTo(const QRectF& box, QPointF start, QPointF end)
{
    const QPainterPath arc = ArcPath(ArcKind::Arc, box, start, end);
    if (arc.isEmpty())
        return;
    QPainterPath seg(m_Dc.position);
    seg.connectPath(arc);
    AppendToFigure(seg);
    m_Dc.position = seg.currentPosition();
}

void MetafileCanvas::AngleArc(QPointF centre, double radius, double startDegrees, double sweepDegrees)
{
    if (!std::isfinite(radius) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees))
        return;
    QPainterPath seg(m_Dc.position);
    seg.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), startDegrees,
              std::clamp(sweepDegrees, -360.0, 360.0));
    AppendToFigure(seg);
    m_Dc.position = seg.currentPosition();
}

void MetafileCanvas::SetPixel(QPointF p, const QColor& colour)
{
    const QRectF pixel(ToDevice(p), QSizeF(1, 1));
    if (Prepare(m_DeviceToTarget, pixel))
        m_pPainter->fillRect(pixel, colour);
}

void MetafileCanvas::FillRegion(const QRegion& logical, const MetafileBrush& brush)
{
    QPainterPath path;
    path.addRegion(logical);
    FillShape(path, ToQBrush(brush), QPainter::CompositionMode_SourceOver);
}

void MetafileCanvas::FrameRegion(const QRegion& logical, const MetafileBrush& brush, QSizeF logicalWidth)
{
    QPainterPath path;
    path.addRegion(logical);
    const QTransform t = LogicalToTarget();
    if (!Prepare(t, path.controlPointRect()))
        return;
    MetafilePen pen;
    pen.colour = brush.colour;
    pen.width = std::max(std::abs(logicalWidth.width()), std::abs(logicalWidth.height()));
    pen.cosmetic = false;
    m_pPainter->setPen(ToQPen(pen, std::sqrt(std::abs(t.determinant()))));
    m_pPainter->setBrush(Qt::NoBrush);
    m_pPainter->drawPath(path.simplified());
}

void MetafileCanvas::InvertRegion(const QRegion& logical)
{
    QPainterPath path;
    path.addRegion(logical);
    FillShape(path, QBrush(Qt::white), QPainter::RasterOp_NotDestination);
}

void MetafileCanvas::StretchImage(const QRectF& dest, const QImage& image, const QRectF& source, std::uint32_t rop,
                                  double opacity)
{
    const SourceOperation op = ForRop3(rop);
    if (!op.draw || image.isNull() || source.width() == 0 || source.height() == 0)
        return;
    const QRectF visible = source.normalized().intersected(QRectF(image.rect()));
    if (visible.isEmpty())
        return;
    // Image pixels to logical units: source corner on dest corner, extents scaled (and mirrored
    // where the signs differ).
    const double sx = dest.width() / source.width();
    const double sy = dest.height() / source.height();
    const QTransform local(sx, 0, 0, sy, dest.x() - source.x() * sx, dest.y() - source.y() * sy);
    const QTransform t = local * LogicalToTarget();
    if (!Prepare(t, visible))
        return;
    if (op.mode != QPainter::CompositionMode_SourceOver && m_bRasterOps)
        m_pPainter->setCompositionMode(op.mode);
    m_pPainter->setOpacity(std::clamp(opacity, 0.0, 1.0));
    if (op.invertSource) {
        QImage inverted = image.copy(visible.toAlignedRect());
        inverted.invertPixels();
        m_pPainter->drawImage(QRectF(visible.toAlignedRect()), inverted);
    } else {
        m_pPainter->drawImage(visible, image, visible);
    }
    m_pPainter->setOpacity(1.0);
}

void MetafileCanvas::PatBlt(const QRectF& dest, std::uint32_t rop)
{
    QPainterPath path;
    path.addRect(dest.normalized());
    switch ((rop >> 16) & 0xFF) {
    case 0xAA: // the target stays
        break;
    case 0x00:
        FillShape(path, QBrush(Qt::black), QPainter::CompositionMode_SourceOver);
        break;
    case 0xFF:
        FillShape(path, QBrush(Qt::white), QPainter::CompositionMode_SourceOver);
        break;
    case 0x55: // DSTINVERT
        FillShape(path, QBrush(Qt::white), QPainter::RasterOp_NotDestination);
        break;
    case 0x5A: // PATINVERT
        FillShape(path, ToQBrush(m_Dc.brush), QPainter::RasterOp_SourceXorDestination);
        break;
    default: // PATCOPY and the rest: the brush
        FillShape(path, ToQBrush(m_Dc.brush), QPainter::CompositionMode_SourceOver);
        break;
    }
}

void MetafileCanvas::GradientRect(const QRectF& rect, const QColor& first, const QColor& second, bool vertical)
{
    QLinearGradient gradient(rect.topLeft(), vertical ? rect.bottomLeft() : rect.topRight());
    gradient.setColorAt(0, first);
    gradient.setColorAt(1, second);
    QPainterPath path;
    path.addRect(rect.normalized());
    FillShape(path, QBrush(gradient), QPainter::CompositionMode_SourceOver);
}

void MetafileCanvas::FillPolygonWith(const QPolygonF& points, const QColor& colour)
{
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    FillShape(path, QBrush(colour), QPainter::CompositionMode_SourceOver);
}
