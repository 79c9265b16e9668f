#include "imaging/RasterPicture.h"

#include "imaging/Blit.h"
#include "imaging/BmpEncoding.h"
#include "platform/WinTypes.h"

RasterPicture::RasterPicture(QImage image, QByteArray bmpFile) : m_Image(std::move(image)), m_BmpFile(std::move(bmpFile))
{
}

QSize RasterPicture::HimetricSize() const
{
    return {MulDiv(m_Image.width(), kHimetricPerInch, kPixelsPerInch),
            MulDiv(m_Image.height(), kHimetricPerInch, kPixelsPerInch)};
}

bool RasterPicture::Render(QPainter& painter, const QRect& dest, int xSrc, int ySrc, int cxSrc, int cySrc) const
{
    const QSize himetric = HimetricSize();
    if (himetric.isEmpty())
        return false;
    // HIMETRIC source coordinates count upward from the bottom edge; image rows count downward.
    const double toPixelX = double(m_Image.width()) / himetric.width();
    const double toPixelY = double(m_Image.height()) / himetric.height();
    DrawImagePart(painter, m_Image, QRectF(dest), xSrc * toPixelX, (himetric.height() - double(ySrc)) * toPixelY,
                  cxSrc * toPixelX, -double(cySrc) * toPixelY, BlitMode::Blend);
    return true;
}

QByteArray RasterPicture::SaveAsBmp() const
{
    return m_BmpFile.isEmpty() ? EncodeBmp24(m_Image) : m_BmpFile;
}
