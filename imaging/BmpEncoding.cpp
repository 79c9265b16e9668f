#include "imaging/BmpEncoding.h"

#include "imaging/BitmapInfoHeader.h"
#include "platform/BinaryIO.h"
#include "platform/MemoryBudget.h"
#include "platform/WinTypes.h"

#include <QPainter>

void WriteBmpFileHeader(BinaryWriter& out, std::uint32_t fileSize, std::uint32_t pixelOffset)
{
    out.WriteUInt8('B');
    out.WriteUInt8('M');
    out.WriteUInt32(fileSize);
    out.WriteUInt16(0);
    out.WriteUInt16(0);
    out.WriteUInt32(pixelOffset);
}

QByteArray EncodeBmp24(const QImage& image)
{
    QImage rgb = image;
    if (rgb.hasAlphaChannel()) {
        QImage flattened(rgb.size(), QImage::Format_RGB32);
        RequirePixels(flattened);
        flattened.fill(Qt::white);
        QPainter painter(&flattened);
        painter.drawImage(0, 0, rgb);
        painter.end();
        rgb = flattened;
    }
    rgb = rgb.convertToFormat(QImage::Format_BGR888);
    RequirePixels(rgb);

    const std::int64_t width = rgb.width();
    const std::int64_t height = rgb.height();
    const std::int64_t rowBytes = (width * 3 + 3) & ~std::int64_t(3);
    const std::int64_t imageBytes = rowBytes * height;
    const std::int64_t headerBytes = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    if (headerBytes + imageBytes > INT32_MAX)
        return {};

    QByteArray file;
    file.reserve(static_cast<qsizetype>(headerBytes + imageBytes));
    BinaryWriter out(file);
    WriteBmpFileHeader(out, static_cast<std::uint32_t>(headerBytes + imageBytes), static_cast<std::uint32_t>(headerBytes));
    out.WriteUInt32(kBitmapInfoHeaderSize);
    out.WriteInt32(static_cast<std::int32_t>(width));
    out.WriteInt32(static_cast<std::int32_t>(height));
    out.WriteUInt16(1);
    out.WriteUInt16(24);
    out.WriteUInt32(BI_RGB);
    out.WriteUInt32(static_cast<std::uint32_t>(imageBytes));
    for (int i = 0; i < 4; ++i)
        out.WriteUInt32(0); // resolutions, colours used, colours important

    const QByteArray padding(static_cast<qsizetype>(rowBytes - width * 3), '\0');
    for (std::int64_t y = height - 1; y >= 0; --y) {
        out.WriteBytes(rgb.constScanLine(static_cast<int>(y)), static_cast<qsizetype>(width * 3));
        out.WriteBytes(padding);
    }
    return file;
}
