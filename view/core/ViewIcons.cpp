#include "view/core/ViewIcons.h"

#include <QPainter>

#include <map>

namespace {

const QColor kInk(30, 30, 40);
const QColor kMarker(220, 20, 30);

void Crosshair(QPainter& p, const QColor& colour)
{
    p.setPen(QPen(colour, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 6, 6);
    p.setPen(QPen(colour, 1.5));
    p.drawLine(QPointF(16, 3), QPointF(16, 11));
    p.drawLine(QPointF(16, 21), QPointF(16, 29));
    p.drawLine(QPointF(3, 16), QPointF(11, 16));
    p.drawLine(QPointF(21, 16), QPointF(29, 16));
}

void Magnifier(QPainter& p, bool plus)
{
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(210, 230, 250, 200));
    p.drawEllipse(QPointF(13, 13), 9, 9);
    p.setPen(QPen(kInk, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 20), QPointF(29, 29));
    p.setPen(QPen(kInk, 2));
    p.drawLine(QPointF(8, 13), QPointF(18, 13));
    if (plus)
        p.drawLine(QPointF(13, 8), QPointF(13, 18));
}

void Globe(QPainter& p, const QColor& fill)
{
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(fill);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 6, 13);
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    p.drawLine(QPointF(5, 10), QPointF(27, 10));
    p.drawLine(QPointF(5, 22), QPointF(27, 22));
}

QImage Draw(int id)
{
    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    switch (id) {
    case IDI_ZOOM_IN:
        Magnifier(p, true);
        break;
    case IDI_ZOOM_OUT:
        Magnifier(p, false);
        break;
    case IDI_SET_POINTS:
        Crosshair(p, kInk);
        p.setPen(QPen(kMarker, 2));
        p.drawLine(QPointF(25, 2), QPointF(25, 10));
        p.drawLine(QPointF(21, 6), QPointF(29, 6));
        break;
    case IDI_POINT_MARKER:
        Crosshair(p, kMarker);
        p.setPen(Qt::NoPen);
        p.setBrush(kMarker);
        p.drawEllipse(QPointF(16, 16), 1.5, 1.5);
        break;
    case IDI_DELETE_POINT:
        Crosshair(p, kInk);
        p.setPen(QPen(kMarker, 2.5));
        p.drawLine(QPointF(21, 2), QPointF(30, 11));
        p.drawLine(QPointF(30, 2), QPointF(21, 11));
        break;
    case IDI_NOT_GEOCODED:
        Globe(p, QColor(200, 200, 200));
        p.setPen(QPen(kMarker, 3));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
        break;
    case IDI_GEOCODED:
        Globe(p, QColor(120, 200, 120));
        p.setPen(QPen(QColor(20, 110, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 17), QPointF(14, 23));
        p.drawLine(QPointF(14, 23), QPointF(24, 9));
        break;
    default:
        break;
    }
    return icon;
}

} // namespace

const QImage& ViewIcon(int id)
{
    static std::map<int, QImage> cache;
    auto it = cache.find(id);
    if (it == cache.end())
        it = cache.emplace(id, Draw(id)).first;
    return it->second;
}

QColor MarkerColour()
{
    return kMarker;
}
