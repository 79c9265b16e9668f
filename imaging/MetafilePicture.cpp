#include "imaging/MetafilePicture.h"

#include "imaging/BmpEncoding.h"
#include "imaging/EmfRenderer.h"
#include "imaging/MetafileCanvas.h"
#include "platform/MemoryBudget.h"
#include "platform/WinTypes.h"

#include <QPainter>

#include <cmath>

namespace {

/// The HIMETRIC size of an extent in units of which unitsPerInch make an inch; 0 when it does
/// not fit.
int ToHimetric(double extent, double unitsPerInch)
{
    const double v = std::round(extent * kHimetricPerInch / unitsPerInch);
    return std::isfinite(v) && v > 0 && v < INT32_MAX ? int(v) : 0;
}

} // namespace

std::unique_ptr<MetafilePicture> MetafilePicture::Load(const QByteArray& bytes, PictureFormat format)
{
    std::unique_ptr<MetafilePicture> picture(new MetafilePicture);
    picture->m_Bytes = bytes;
    picture->m_Format = format;
    if (format == PictureFormat::Emf) {
        const std::optional<EmfHeader> header = ReadEmfHeader(bytes);
        if (!header)
            return nullptr;
        picture->m_Himetric = QSize(ToHimetric(header->frame.width(), kHimetricPerInch),
                                    ToHimetric(header->frame.height(), kHimetricPerInch));
        picture->m_DeviceFrame = header->DeviceFrame();
        picture->m_DevicePerMillimetre = header->DevicePerMillimetre();
    } else if (format == PictureFormat::Wmf) {
        std::optional<WmfHeader> header = ReadWmfHeader(bytes);
        if (!header)
            return nullptr;
        if (header->frame.isEmpty()) {
            // No size stated: measure what the records draw, with logical units as pixels.
            WmfHeader unit = *header;
            unit.frame = QRectF(0, 0, 1, 1);
            unit.windowOrg = QPointF(0, 0);
            unit.windowExt = QSizeF(1, 1);
            picture->m_WmfHeader = unit;
            picture->m_DevicePerMillimetre = QSizeF(kPixelsPerInch / 25.4, kPixelsPerInch / 25.4);
            MetafileCanvas measure(nullptr, QTransform(), picture->m_DevicePerMillimetre);
            WmfRenderer(bytes, unit, measure).Play();
            const QRectF drawn = measure.Bounds();
            if (drawn.isEmpty())
                return nullptr;
            header->frame = QRectF(QPointF(std::floor(drawn.left()), std::floor(drawn.top())),
                                   QPointF(std::ceil(drawn.right()), std::ceil(drawn.bottom())));
            header->windowOrg = header->frame.topLeft();
            header->windowExt = header->frame.size();
        }
        picture->m_WmfHeader = *header;
        picture->m_Himetric = QSize(ToHimetric(header->frame.width(), header->unitsPerInch),
                                    ToHimetric(header->frame.height(), header->unitsPerInch));
        picture->m_DeviceFrame = header->frame;
        const double perMillimetre = header->unitsPerInch / 25.4;
        picture->m_DevicePerMillimetre = QSizeF(perMillimetre, perMillimetre);
    } else {
        return nullptr;
    }
    const QSize pixels = picture->PixelSize();
    if (pixels.width() < 1 || pixels.height() < 1 || pixels.width() > kMaxPixelsPerSide ||
        pixels.height() > kMaxPixelsPerSide || std::int64_t(pixels.width()) * pixels.height() > kMaxPixels)
        return nullptr;
    if (picture->m_DeviceFrame.isEmpty())
        return nullptr;
    return picture;
}

QSize MetafilePicture::PixelSize() const
{
    return {MulDiv(m_Himetric.width(), kPixelsPerInch, kHimetricPerInch),
            MulDiv(m_Himetric.height(), kPixelsPerInch, kHimetricPerInch)};
}

bool MetafilePicture::Play(QPainter* painter, const QTransform& deviceToTarget) const
{
    MetafileCanvas canvas(painter, deviceToTarget, m_DevicePerMillimetre);
    if (m_Format == PictureFormat::Emf)
        return EmfRenderer(m_Bytes, canvas).Play();
    return WmfRenderer(m_Bytes, m_WmfHeader, canvas).Play();
}

bool MetafilePicture::Render(QPainter& painter, const QRect& dest, int xSrc, int ySrc, int cxSrc, int cySrc) const
{
    if (cxSrc == 0 || cySrc == 0 || dest.isEmpty())
        return true;
    // Device units -> HIMETRIC with y downward from the picture's top edge ...
    const double w = m_Himetric.width(), h = m_Himetric.height();
    const QRectF& f = m_DeviceFrame;
    const QTransform toHimetric =
        QTransform::fromTranslate(-f.left(), -f.top()) * QTransform::fromScale(w / f.width(), h / f.height());
    // ... -> the destination: the source's corner (counted upward from the bottom edge) onto
    // dest's top-left, its extents (a negative cySrc runs downward) onto dest's.
    const double sourceTop = h - ySrc;
    const QTransform toDest = QTransform::fromTranslate(-xSrc, -sourceTop) *
                              QTransform::fromScale(dest.width() / double(cxSrc), dest.height() / double(-cySrc)) *
                              QTransform::fromTranslate(dest.x(), dest.y());
    painter.save();
    const QTransform deviceToTarget = toHimetric * toDest * painter.worldTransform();
    painter.setClipRect(dest, Qt::IntersectClip);
    // Drawn as GDI draws: hard edges, bitmaps pixel for pixel; text smoothed for legibility.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    Play(&painter, deviceToTarget);
    painter.restore();
    return true;
}

QImage MetafilePicture::ToImage() const
{
    const QSize size = PixelSize();
    if (size.isEmpty())
        return {};
    QImage image(size, QImage::Format_RGB32);
    RequirePixels(image);
    image.fill(Qt::white);
    QPainter painter(&image);
    Render(painter, QRect(QPoint(0, 0), size), 0, m_Himetric.height(), m_Himetric.width(), -m_Himetric.height());
    painter.end();
    return image;
}

QByteArray MetafilePicture::SaveAsBmp() const
{
    const QImage image = ToImage();
    return image.isNull() ? QByteArray() : EncodeBmp24(image);
}
