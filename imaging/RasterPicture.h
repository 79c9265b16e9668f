#pragma once

#include "imaging/IPicture.h"

#include <QImage>

/// A picture decoded into pixels (BMP, DIB, GIF, ICO, JPEG). Its HIMETRIC size is its pixel size
/// at 96 pixels per inch. A picture that came from a BMP file saves as those same bytes.
class RasterPicture final : public IPicture {
public:
    /// image is held in a format the painter blits fast (RGB32 or premultiplied ARGB32);
    /// bmpFile is the BMP file the picture came from, or empty.
    RasterPicture(QImage image, QByteArray bmpFile);

    QSize HimetricSize() const override;
    bool Render(QPainter& painter, const QRect& dest, int xSrc, int ySrc, int cxSrc, int cySrc) const override;
    QByteArray SaveAsBmp() const override;

    const QImage& Image() const { return m_Image; }

private:
    QImage m_Image;
    QByteArray m_BmpFile;
};
