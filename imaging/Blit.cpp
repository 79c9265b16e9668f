#include "imaging/Blit.h"

#include <QPainter>

#include <algorithm>

void DrawImagePart(QPainter& painter, const QImage& image, const QRectF& dest, double sx, double sy, double sw,
                   double sh, BlitMode mode)
{
    if (image.isNull() || dest.width() == 0 || dest.height() == 0 || sw == 0 || sh == 0)
        return;
    // Map image coordinates onto the device so that the (possibly mirrored) source rectangle
    // lands on dest, then draw the part of the image that lies inside the source rectangle.
    const double scaleX = dest.width() / sw;
    const double scaleY = dest.height() / sh;
    const QTransform toDevice(scaleX, 0, 0, scaleY, dest.left() - sx * scaleX, dest.top() - sy * scaleY);
    const QRectF source = QRectF(sx, sy, sw, sh).normalized() & QRectF(image.rect());
    if (source.isEmpty())
        return;

    painter.save();
    painter.setTransform(toDevice, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (mode == BlitMode::Copy)
        painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(source, image, source);
    painter.restore();
}

QImage CreateCompatibleMemoryContext(const QPaintDevice* compatible, int width, int height)
{
    QImage::Format format = QImage::Format_RGB32;
    if (compatible && compatible->devType() == QInternal::Image) {
        const QImage::Format imageFormat = static_cast<const QImage*>(compatible)->format();
        if (imageFormat != QImage::Format_Invalid)
            format = imageFormat;
    }
    QImage image(std::max(width, 0), std::max(height, 0), format);
    image.fill(Qt::black);
    return image;
}

void BlitRect(QPainter& destination, int dstX, int dstY, int width, int height, const QImage& source, int srcX,
              int srcY)
{
    if (width <= 0 || height <= 0)
        return;
    destination.save();
    destination.setCompositionMode(QPainter::CompositionMode_Source);
    destination.drawImage(QPoint(dstX, dstY), source, QRect(srcX, srcY, width, height));
    destination.restore();
}
