#include "imaging/RasterPicture.h"

#include "imaging/BitmapInfoHeader.h"
#include "imaging/Blit.h"
#include "imaging/BmpEncoding.h"
#include "platform/BinaryIO.h"
#include "platform/WinTypes.h"

#include <cstdlib>

RasterPicture::RasterPicture(QImage image, QByteArray bmpFile) : m_Image(std::move(image)), m_BmpFile(std::move(bmpFile))
{
}

std::unique_ptr<RasterPicture> RasterPicture::WrapBmpRows(QByteArray bmpFile)
{
    BinaryReader in(bmpFile);
    std::uint8_t b = 0, m = 0;
    std::uint32_t fileSize = 0, reserved = 0, pixelOffset = 0, headerSize = 0, compression = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bitCount = 0;
    if (!in.Read(b) || !in.Read(m) || !in.Read(fileSize) || !in.Read(reserved) || !in.Read(pixelOffset) ||
        !in.Read(headerSize) || !in.Read(width) || !in.Read(height) || !in.Read(planes) || !in.Read(bitCount) ||
        !in.Read(compression))
        return nullptr;
    // Only the plain layout whose stored bytes are exactly blue, green, red pixels: anything with
    // a colour table, masks or compression goes through the decoder.
    const bool plainHeader = headerSize == kBitmapInfoHeaderSize || headerSize == 108 || headerSize == 124;
    if (b != 'B' || m != 'M' || !plainHeader || planes != 1 || bitCount != 24 || compression != BI_RGB ||
        width <= 0 || height == 0 || height == INT32_MIN)
        return nullptr;
    const std::int64_t rows = std::abs(std::int64_t(height));
    const std::int64_t rowBytes = (std::int64_t(width) * 3 + 3) & ~std::int64_t(3);
    // Compared by division: a header's width and height multiply past 64 bits.
    const std::int64_t stored = bmpFile.size() - std::int64_t(pixelOffset);
    if (pixelOffset < kBitmapFileHeaderSize + headerSize || stored < 0 || rowBytes > stored / rows)
        return nullptr;

    auto picture = std::unique_ptr<RasterPicture>(new RasterPicture(QImage(), std::move(bmpFile)));
    // A read-only image over the held file's bytes: the picture keeps the array, so they stay put.
    const auto* rowsStart = reinterpret_cast<const uchar*>(picture->m_BmpFile.constData()) + pixelOffset;
    picture->m_Image = QImage(rowsStart, width, static_cast<int>(rows), static_cast<qsizetype>(rowBytes),
                              QImage::Format_BGR888);
    if (picture->m_Image.isNull())
        return nullptr;
    picture->m_bRowsBottomUp = height > 0;
    return picture;
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
    // HIMETRIC source coordinates count upward from the bottom edge; picture rows count downward.
    const double toPixelX = double(m_Image.width()) / himetric.width();
    const double toPixelY = double(m_Image.height()) / himetric.height();
    double sy = (himetric.height() - double(ySrc)) * toPixelY;
    double sh = -double(cySrc) * toPixelY;
    if (m_bRowsBottomUp) {
        // Image rows run upward: picture row y is image row H - y, and the source is mirrored.
        sy = m_Image.height() - sy;
        sh = -sh;
    }
    DrawImagePart(painter, m_Image, QRectF(dest), xSrc * toPixelX, sy, cxSrc * toPixelX, sh, BlitMode::Blend);
    return true;
}

QByteArray RasterPicture::SaveAsBmp() const
{
    return m_BmpFile.isEmpty() ? EncodeBmp24(m_Image) : m_BmpFile;
}
