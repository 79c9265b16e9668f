// The enhanced-metafile records that carry bitmaps: blits, DIB records and pattern brushes.

#include "imaging/EmfRenderer.h"

#include "imaging/EmfRecords.h"
#include "imaging/MetafileCanvas.h"
#include "imaging/MetafileDib.h"

#include <QImage>

using namespace Emr;

namespace {

/// The DIB a bitmap record carries at the given offsets. Null image (and the reader failed)
/// when the offsets leave the record; null image alone when the bitmap is not decoded.
QImage RecordDib(MetafileRecordReader& r, std::uint32_t offInfo, std::uint32_t cbInfo, std::uint32_t offBits,
                 std::uint32_t cbBits, std::uint32_t usage, bool keepAlpha = false)
{
    const QByteArrayView info = r.Slice(offInfo, cbInfo);
    const QByteArrayView bits = r.Slice(offBits, cbBits);
    if (!r.Ok())
        return {};
    return DecodeDib(info, bits, usage, keepAlpha);
}

} // namespace

bool EmfRenderer::CreatePatternBrush(MetafileRecordReader& r)
{
    const std::uint32_t index = r.U32();
    const std::uint32_t usage = r.U32();
    const std::uint32_t offInfo = r.U32(), cbInfo = r.U32(), offBits = r.U32(), cbBits = r.U32();
    if (!r.Ok())
        return false;
    MetafileBrush brush;
    brush.style = Gdi::BS_DIBPATTERNPT;
    brush.colour = Qt::black;
    brush.pattern = RecordDib(r, offInfo, cbInfo, offBits, cbBits, usage);
    if (!r.Ok())
        return false;
    m_Canvas.Objects().Store(index, brush);
    return true;
}

bool EmfRenderer::Blit(std::uint32_t type, MetafileRecordReader& r)
{
    r.Skip(16); // bounds
    const QPointF destCorner = r.Point32();
    const QPointF destExtent = r.Point32();
    const std::uint32_t rop = r.U32();
    const QPointF srcCorner = r.Point32();
    MetafileRecordReader transformFields(r.Slice(std::uint64_t(r.Position()), 24));
    const QTransform sourceTransform = ReadXForm(transformFields);
    const bool usableTransform = transformFields.Ok(); // one that is not finite is taken as none
    r.Skip(24);
    r.U32(); // background colour of a monochrome source
    const std::uint32_t usage = r.U32();
    const std::uint32_t offInfo = r.U32(), cbInfo = r.U32(), offBits = r.U32(), cbBits = r.U32();
    QPointF srcExtent = destExtent;
    if (type != BITBLT && type != MASKBLT)
        srcExtent = r.Point32();
    if (!r.Ok())
        return false;
    const QRectF dest(destCorner, QSizeF(destExtent.x(), destExtent.y()));
    if (cbInfo == 0) { // no source: the brush alone, or a colour
        if (type == BITBLT || type == STRETCHBLT)
            m_Canvas.PatBlt(dest, rop);
        return true;
    }
    const bool alphaBlend = type == ALPHABLEND;
    const bool sourceAlpha = alphaBlend && ((rop >> 24) & 0xFF) != 0;
    QImage image = RecordDib(r, offInfo, cbInfo, offBits, cbBits, usage, sourceAlpha);
    if (!r.Ok())
        return false;
    // The source rectangle is in the source's logical units, which its transform maps to pixels.
    QTransform toPixels = usableTransform ? sourceTransform : QTransform();
    if (toPixels.m12() != 0 || toPixels.m21() != 0)
        toPixels = QTransform();
    const QRectF source(toPixels.map(srcCorner), toPixels.map(srcCorner + srcExtent));
    std::uint32_t operation = type == MASKBLT ? SRCCOPY : rop;
    double opacity = 1.0;
    if (alphaBlend) {
        operation = SRCCOPY;
        opacity = ((rop >> 16) & 0xFF) / 255.0;
    } else if (type == TRANSPARENTBLT && !image.isNull()) {
        const QRgb key = ColorFromRef(rop).rgb();
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF))
                    line[x] = 0;
        }
        operation = SRCCOPY;
    }
    m_Canvas.StretchImage(dest, image, source, operation, opacity);
    return true;
}

bool EmfRenderer::StretchDIBits(MetafileRecordReader& r)
{
    r.Skip(16); // bounds
    const QPointF destCorner = r.Point32();
    const QPointF srcCorner = r.Point32();
    const QPointF srcExtent = r.Point32();
    const std::uint32_t offInfo = r.U32(), cbInfo = r.U32(), offBits = r.U32(), cbBits = r.U32();
    const std::uint32_t usage = r.U32();
    const std::uint32_t rop = r.U32();
    const QPointF destExtent = r.Point32();
    if (!r.Ok())
        return false;
    const QRectF dest(destCorner, QSizeF(destExtent.x(), destExtent.y()));
    if (cbInfo == 0) {
        m_Canvas.PatBlt(dest, rop);
        return true;
    }
    const std::optional<DibLayout> layout = ReadDibLayout(r.Slice(offInfo, cbInfo), usage);
    const QImage image = RecordDib(r, offInfo, cbInfo, offBits, cbBits, usage);
    if (!r.Ok())
        return false;
    if (image.isNull() || !layout)
        return true;
    // A bottom-up DIB counts the source's y from its bottom row.
    double top = srcCorner.y();
    if (!layout->topDown)
        top = layout->height - srcCorner.y() - srcExtent.y();
    m_Canvas.StretchImage(dest, image, QRectF(srcCorner.x(), top, srcExtent.x(), srcExtent.y()), rop);
    return true;
}

bool EmfRenderer::SetDIBitsToDevice(MetafileRecordReader& r)
{
    r.Skip(16); // bounds
    const QPointF destCorner = r.Point32();
    const QPointF srcCorner = r.Point32();
    const QPointF srcExtent = r.Point32();
    const std::uint32_t offInfo = r.U32(), cbInfo = r.U32(), offBits = r.U32(), cbBits = r.U32();
    const std::uint32_t usage = r.U32();
    const std::uint32_t startScan = r.U32();
    const std::uint32_t scans = r.U32();
    if (!r.Ok())
        return false;
    const QByteArrayView info = r.Slice(offInfo, cbInfo);
    const QByteArrayView bits = r.Slice(offBits, cbBits);
    if (!r.Ok())
        return false;
    const std::optional<DibLayout> layout = ReadDibLayout(info, usage);
    if (!layout || scans == 0 || scans > std::uint32_t(layout->height))
        return true;
    // The bits hold only the scans startScan .. startScan + scans - 1.
    const QImage image = DecodeDibRows(info, bits, usage, int(scans));
    if (image.isNull())
        return true;
    const double top = layout->topDown ? srcCorner.y() - startScan
                                       : double(startScan) + scans - srcCorner.y() - srcExtent.y();
    const QSizeF size = m_Canvas.DeviceToLogicalSize(QSizeF(srcExtent.x(), srcExtent.y()));
    m_Canvas.StretchImage(QRectF(destCorner, size), image, QRectF(srcCorner.x(), top, srcExtent.x(), srcExtent.y()),
                          SRCCOPY);
    return true;
}
