#include "view/core/PrintLayout.h"

#include "view/core/ViewState.h"
#include "imaging/BmpEncoding.h"
#include "imaging/CPicture.h"

#include <QPainter>

QRect ComputePrintRectangle(QSize page, QSize bitmap)
{
    const int pw = page.width();
    const int ph = page.height();
    const int bw = bitmap.width();
    const int bh = bitmap.height();
    if (bw <= 0 || bh <= 0)
        return {};
    const double sx = double(pw) / bw;
    const double sy = double(ph) / bh;
    int width, height, left;
    if (sy < sx) {
        width = static_cast<int>(bw * sy - 20);
        height = ph - 20;
        left = (pw - width) / 2;
    } else {
        width = pw - 20;
        height = static_cast<int>(bh * sx - 20);
        left = 10;
    }
    return {left, 10, width, height};
}

QRect PrintView(QPainter& painter, const ViewState& view, QSize page)
{
    const QImage* bitmap = view.ViewBitmap();
    if (!bitmap || bitmap->isNull())
        return {};
    const QRect area = ComputePrintRectangle(page, bitmap->size());
    // The capture goes to the page as a picture of the picture service, as a bitmap file would.
    CPicture picture;
    picture.LoadFromMemory(EncodeBmp24(*bitmap));
    picture.Draw(&painter, area);
    const int left = area.left();
    const int top = 10;
    const int right = area.left() + area.width();
    const int bottom = top + area.height();
    painter.drawLine(left, top, left, bottom);
    painter.drawLine(left, bottom, right, bottom);
    painter.drawLine(right, bottom, right, top);
    painter.drawLine(right, top, left, top);
    return area;
}
