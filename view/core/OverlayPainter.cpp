#include "view/core/OverlayPainter.h"

#include "document/CQuilletDoc.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewState.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>

void PaintOverlay(QPainter& painter, const OverlayDrawing& drawing, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour);
    pen.setCosmetic(true);
    pen.setWidth(1);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Aliased painting fills the device pixel a coordinate rounds to: half a device pixel back
    // puts a vertex in the pixel whose square holds it.
    painter.setTransform(painter.transform() * QTransform::fromTranslate(-0.5, -0.5));
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

MapOverlayLayer GraticuleLayer(const GeoCoding& coding, int width, int height, double interval, const QColor& colour)
{
    MapOverlayLayer layer;
    layer.m_Colour = colour;
    for (const GraticuleLine& line : Graticule(coding, width, height, interval).m_Lines) {
        const OverlayDrawing runs = DrawOverlay({line.m_Shape}, nullptr, coding, QRectF(0, 0, width, height));
        for (const QPolygonF& run : runs.m_Lines) {
            layer.m_Drawing.m_Lines.push_back(run);
            layer.m_Labels.push_back({GraticuleLabel(line), line.m_bMeridian});
        }
    }
    return layer;
}

namespace {

/// Where the run first crosses the edge (a horizontal edge at y for a meridian, a vertical one at
/// x for a parallel) within the span from..to along it, in client pixels.
std::optional<QPointF> Crossing(const QPolygonF& run, bool horizontal, double at, double from, double to)
{
    for (qsizetype k = 1; k < run.size(); ++k) {
        const QPointF a = run[k - 1], b = run[k];
        const double ea = horizontal ? a.y() : a.x(), eb = horizontal ? b.y() : b.x();
        if ((ea - at) * (eb - at) > 0 || ea == eb)
            continue;
        const QPointF cross = a + (b - a) * ((at - ea) / (eb - ea));
        const double along = horizontal ? cross.x() : cross.y();
        if (along >= from && along <= to)
            return cross;
    }
    return std::nullopt;
}

void PaintLabels(QPainter& painter, const MapOverlayLayer& layer, const QTransform& toClient, const QRectF& visible)
{
    painter.save();
    painter.resetTransform();
    const QFontMetrics metrics = painter.fontMetrics();
    for (std::size_t k = 0; k < layer.m_Labels.size() && k < layer.m_Drawing.m_Lines.size(); ++k) {
        const MapOverlayLayer::RunLabel& label = layer.m_Labels[k];
        const QPolygonF run = toClient.map(layer.m_Drawing.m_Lines[k]);
        const QRect box = metrics.boundingRect(label.m_strText).adjusted(-2, -1, 2, 1);
        const auto place = [&](std::optional<QPointF> at, QPointF offset) {
            if (!at)
                return;
            QRect placed = box;
            placed.moveCenter((*at + offset).toPoint());
            painter.fillRect(placed, QColor(255, 255, 255, 210));
            painter.setPen(layer.m_Colour);
            painter.drawText(placed, Qt::AlignCenter, label.m_strText);
        };
        if (label.m_bMeridian) {
            place(Crossing(run, true, visible.top(), visible.left(), visible.right()), QPointF(0, box.height() / 2.0 + 1));
            place(Crossing(run, true, visible.bottom(), visible.left(), visible.right()), QPointF(0, -box.height() / 2.0 - 1));
        } else {
            place(Crossing(run, false, visible.left(), visible.top(), visible.bottom()), QPointF(box.width() / 2.0 + 1, 0));
            place(Crossing(run, false, visible.right(), visible.top(), visible.bottom()), QPointF(-box.width() / 2.0 - 1, 0));
        }
    }
    painter.restore();
}

} // namespace

void PaintMapOverlays(QPainter& painter, const CQuilletDoc& doc, const ViewState& view, int cw, int ch,
                      const std::vector<MapOverlayLayer>& layers)
{
    const int width = doc.ImageWidth(), height = doc.ImageHeight();
    if (layers.empty() || width <= 0 || height <= 0)
        return;
    // Picture pixels run down from the top edge; the map's frame runs up from its lower-left corner.
    const VisibleFrame frame = ComputeVisibleFrame(doc, view);
    const double left = doc.GeoOrigin().m_dLongitude, bottom = doc.GeoOrigin().m_dLatitude;
    const double right = left + doc.GeoExtent().m_dLongitude, top = bottom + doc.GeoExtent().m_dLatitude;
    const QPointF origin = FrameToClient(frame, cw, ch, left, top);
    const QPointF across = FrameToClient(frame, cw, ch, right, top) - origin;
    const QPointF down = FrameToClient(frame, cw, ch, left, bottom) - origin;
    const QTransform toClient(across.x() / width, across.y() / width, down.x() / height, down.y() / height, origin.x(),
                              origin.y());
    const QRectF visible = QRectF(origin, origin + across + down).normalized().intersected(QRectF(0, 0, cw, ch));
    painter.save();
    painter.setClipRect(visible);
    painter.setTransform(toClient);
    for (const MapOverlayLayer& layer : layers)
        PaintOverlay(painter, layer.m_Drawing, layer.m_Colour);
    painter.setClipping(false);
    for (const MapOverlayLayer& layer : layers)
        PaintLabels(painter, layer, toClient, visible);
    painter.restore();
}

MapOnGrid ResampleMapOnGrid(const QImage& picture, int mapWidth, int mapHeight, const GeoCoding& coding,
                            const FitCrsConversion& system, const std::array<double, 4>& extent, int side)
{
    const QImage scan = picture.convertToFormat(QImage::Format_RGB32);
    const double span = std::max(extent[2] - extent[0], extent[3] - extent[1]);
    const double step = span / side;
    const int width = std::max(1, static_cast<int>(std::ceil((extent[2] - extent[0]) / step)));
    const int height = std::max(1, static_cast<int>(std::ceil((extent[3] - extent[1]) / step)));
    const std::array<double, 6> gt{extent[0], step, 0.0, extent[3], 0.0, -step};
    constexpr int kNode = 8;
    const int nodesX = width / kNode + 2, nodesY = height / kNode + 2;
    std::vector<std::optional<QPointF>> nodes(static_cast<std::size_t>(nodesX) * nodesY);
    for (int j = 0; j < nodesY; ++j)
        for (int i = 0; i < nodesX; ++i) {
            const QPointF ground(gt[0] + (i * kNode + 0.5) * step, gt[3] - (j * kNode + 0.5) * step);
            if (const std::optional<GeoPosition> at = system.ToWgs84(ground))
                nodes[static_cast<std::size_t>(j) * nodesX + i] = coding.GeoToPixel(*at);
        }
    const double scaleX = double(scan.width()) / std::max(1, mapWidth);
    const double scaleY = double(scan.height()) / std::max(1, mapHeight);
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int j = y / kNode;
        const double v = (y % kNode) / double(kNode);
        for (int x = 0; x < width; ++x) {
            const int i = x / kNode;
            const double u = (x % kNode) / double(kNode);
            const auto& a = nodes[static_cast<std::size_t>(j) * nodesX + i];
            const auto& b = nodes[static_cast<std::size_t>(j) * nodesX + i + 1];
            const auto& c = nodes[static_cast<std::size_t>(j + 1) * nodesX + i];
            const auto& d = nodes[static_cast<std::size_t>(j + 1) * nodesX + i + 1];
            if (!a || !b || !c || !d)
                continue;
            const QPointF p = (*a * (1 - u) + *b * u) * (1 - v) + (*c * (1 - u) + *d * u) * v;
            // The geo-coding counts the map's pixels; the picture drawn may be another image's size.
            const int column = static_cast<int>(std::floor(p.x() * scaleX)), row = static_cast<int>(std::floor(p.y() * scaleY));
            if (column >= 0 && row >= 0 && column < scan.width() && row < scan.height())
                line[x] = scan.pixel(column, row) | 0xFF000000u;
        }
    }
    return {image, gt};
}
