#pragma once

#include "imaging/IPicture.h"

#include <QImage>

#include <memory>

/// A picture decoded into pixels (BMP, DIB, GIF, ICO, JPEG). Its HIMETRIC size is its pixel size
/// at 96 pixels per inch. A picture that came from a BMP file saves as those same bytes.
class RasterPicture final : public IPicture {
public:
    /// image is held in a format the painter blits fast (RGB32 or premultiplied ARGB32);
    /// bmpFile is the BMP file the picture came from, or empty.
    RasterPicture(QImage image, QByteArray bmpFile);

    /// A picture over the pixel rows of an uncompressed 24-bit BMP file, drawn straight from the
    /// file's bytes: a scanned map sheet of hundreds of megabytes is then held once, not once as
    /// a file and again as decoded pixels. Null for any other kind of BMP file, and for one whose
    /// rows do not all lie inside it; those are decoded.
    static std::unique_ptr<RasterPicture> WrapBmpRows(QByteArray bmpFile);

    QSize HimetricSize() const override;
    bool Render(QPainter& painter, const QRect& dest, int xSrc, int ySrc, int cxSrc, int cySrc) const override;
    QByteArray SaveAsBmp() const override;

    /// The pixels. When RowsBottomUp() is true, image row 0 is the bottom row of the picture.
    const QImage& Image() const { return m_Image; }
    bool RowsBottomUp() const { return m_bRowsBottomUp; }

private:
    QImage m_Image;
    QByteArray m_BmpFile;
    bool m_bRowsBottomUp = false;
};
