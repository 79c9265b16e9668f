// The 16-bit metafile records that create objects (brushes with bitmaps, fonts, regions), use
// regions, and carry bitmaps.

#include "imaging/WmfRenderer.h"

#include "imaging/MetafileCanvas.h"
#include "imaging/MetafileDib.h"
#include "imaging/WmfRecords.h"

#include <QImage>

using namespace Meta;

namespace {

bool LooksLikeDibHeader(QByteArrayView data)
{
    MetafileRecordReader r(data);
    const std::uint32_t size = r.U32();
    return r.Ok() && (size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124);
}

} // namespace

bool WmfRenderer::CreatePatternBrush(std::uint16_t function, MetafileRecordReader& r)
{
    MetafileBrush brush;
    brush.style = Gdi::BS_PATTERN;
    brush.colour = Qt::black;
    if (function == DIBCREATEPATTERNBRUSH) {
        const int style = r.U16();
        const std::uint32_t usage = r.U16();
        if (!r.Ok())
            return false;
        const QByteArrayView target = r.Record().sliced(r.Position());
        // A BS_PATTERN brush may carry a device-dependent bitmap instead of a DIB.
        if (style == Gdi::BS_PATTERN && !LooksLikeDibHeader(target))
            brush.pattern = DecodeBitmap16(target);
        else
            brush.pattern = DecodePackedDib(target, style == Gdi::BS_PATTERN ? DIB_RGB_COLORS : usage);
    } else {
        // A Bitmap16 header, 18 reserved bytes, then the rows.
        const QByteArrayView header = r.Slice(std::uint64_t(r.Position()), 10);
        r.Skip(28);
        if (!r.Ok())
            return false;
        brush.pattern = DecodeBitmap16(header.toByteArray() + r.Record().sliced(r.Position()).toByteArray());
    }
    m_Canvas.Objects().StoreInFreeEntry(brush); // the entry is taken even when the bitmap is not readable
    return true;
}

bool WmfRenderer::CreateFont(MetafileRecordReader& r)
{
    MetafileFont font;
    font.height = r.I16();
    font.width = r.I16();
    font.escapement = r.I16();
    r.I16(); // orientation
    font.weight = r.I16();
    font.italic = r.U8() != 0;
    font.underline = r.U8() != 0;
    font.strikeOut = r.U8() != 0;
    font.charSet = r.U8();
    r.Skip(4); // precisions, quality, pitch and family
    if (!r.Ok())
        return false;
    QByteArray face;
    while (r.Remaining() > 0 && face.size() < 32) {
        const char ch = char(r.U8());
        if (ch == 0)
            break;
        face.append(ch);
    }
    font.face = DecodeAnsiText(face.constData(), face.size(), 0);
    m_Canvas.Objects().StoreInFreeEntry(font);
    return true;
}

bool WmfRenderer::CreateRegion(MetafileRecordReader& r)
{
    r.Skip(8); // chain, object type, object count, region size
    const int scans = r.I16();
    r.I16(); // largest scan
    const double left = r.I16(), top = r.I16(), right = r.I16(), bottom = r.I16();
    if (!r.Ok())
        return false;
    const QRect bounds = ToRegionRect(QRectF(QPointF(left, top), QPointF(right, bottom)));
    // Each scan: a count of x coordinates, its top and bottom, the left/right pairs, the count
    // again. A scan list that does not fit leaves the region its bounding rectangle.
    std::vector<QRect> rects;
    bool consistent = scans > 0;
    for (int s = 0; s < scans && consistent; ++s) {
        const int count = r.U16();
        const double scanTop = r.I16(), scanBottom = r.I16();
        if (!r.Ok() || count % 2 != 0 || !r.HasItems(std::uint32_t(count) + 1, 2)) {
            consistent = false;
            break;
        }
        for (int i = 0; i < count / 2; ++i) {
            const double l = r.I16(), rt = r.I16();
            rects.push_back(ToRegionRect(QRectF(QPointF(l, scanTop), QPointF(rt, scanBottom))));
        }
        consistent = r.U16() == count;
    }
    MetafileRegion region;
    region.region = consistent ? UniteRects(rects) : QRegion(bounds);
    m_Canvas.Objects().StoreInFreeEntry(region);
    return true;
}

bool WmfRenderer::RegionRecord(std::uint16_t function, MetafileRecordReader& r)
{
    const std::uint16_t regionIndex = r.U16();
    std::uint16_t brushIndex = 0;
    QSizeF width;
    if (function == FILLREGION || function == FRAMEREGION)
        brushIndex = r.U16();
    if (function == FRAMEREGION) {
        const double h = r.I16(), w = r.I16();
        width = QSizeF(w, h);
    }
    if (!r.Ok())
        return false;
    const MetafileObject* object = m_Canvas.Objects().Find(regionIndex);
    const auto* region = object ? std::get_if<MetafileRegion>(object) : nullptr;
    if (function == SELECTCLIPREGION) {
        if (region)
            m_Canvas.SelectLogicalClipRegion(region->region, Gdi::RGN_COPY);
        else
            m_Canvas.SelectClipRegion(std::nullopt, Gdi::RGN_COPY);
        return true;
    }
    if (!region)
        return true;
    MetafileBrush brush = m_Canvas.Dc().brush;
    if (function == FILLREGION || function == FRAMEREGION) {
        const MetafileObject* b = m_Canvas.Objects().Find(brushIndex);
        if (const auto* found = b ? std::get_if<MetafileBrush>(b) : nullptr)
            brush = *found;
    }
    if (function == FRAMEREGION)
        m_Canvas.FrameRegion(region->region, brush, width);
    else if (function == INVERTREGION)
        m_Canvas.InvertRegion(region->region);
    else
        m_Canvas.FillRegion(region->region, brush);
    return true;
}

bool WmfRenderer::Bitmap(std::uint16_t function, MetafileRecordReader& r)
{
    const std::uint32_t rop = r.U32();
    // The blits exist with and without a bitmap; the short form is (function >> 8) + 3 words.
    const bool withBitmap = function == STRETCHDIB || function == SETDIBTODEV ||
                            r.Record().size() != qsizetype(((function >> 8) + 3) * 2);
    std::uint32_t usage = DIB_RGB_COLORS;
    std::uint16_t scans = 0, startScan = 0;
    if (function == STRETCHDIB) {
        usage = r.U16();
    } else if (function == SETDIBTODEV) {
        // SETDIBTODEV has no raster operation: its first word is the colour usage.
        usage = rop & 0xFFFF;
        scans = std::uint16_t(rop >> 16);
        startScan = r.U16();
    }
    QSizeF srcSize;
    const bool stretches = function == STRETCHBLT || function == DIBSTRETCHBLT || function == STRETCHDIB;
    if (stretches) {
        const double h = r.I16(), w = r.I16();
        srcSize = QSizeF(w, h);
    }
    const QPointF srcCorner = ReversedPoint(r);
    if (!withBitmap)
        r.I16(); // reserved
    const double h = r.I16(), w = r.I16();
    const QPointF destCorner = ReversedPoint(r);
    if (!r.Ok())
        return false;
    if (!stretches)
        srcSize = QSizeF(w, h);
    const QRectF dest(destCorner, QSizeF(w, h));
    if (!withBitmap) {
        m_Canvas.PatBlt(dest, rop);
        return true;
    }
    const QByteArrayView data = r.Record().sliced(r.Position());
    if (function == BITBLT || function == STRETCHBLT) {
        m_Canvas.StretchImage(dest, DecodeBitmap16(data), QRectF(srcCorner, srcSize), rop);
        return true;
    }
    const std::optional<DibLayout> layout = ReadDibLayout(data, usage);
    if (!layout)
        return true;
    if (function == SETDIBTODEV) {
        // The rows present are the scans from startScan, drawn pixel for pixel.
        if (scans == 0 || scans > layout->height)
            return true;
        const QImage image = DecodeDibRows(data.first(layout->infoBytes), data.sliced(layout->infoBytes), usage, scans);
        const double top = layout->topDown ? srcCorner.y() - startScan
                                           : double(startScan) + scans - srcCorner.y() - srcSize.height();
        const QSizeF size = m_Canvas.DeviceToLogicalSize(srcSize);
        m_Canvas.StretchImage(QRectF(destCorner, size), image, QRectF(QPointF(srcCorner.x(), top), srcSize), SRCCOPY);
        return true;
    }
    const QImage image = DecodePackedDib(data, usage);
    if (function == STRETCHDIB && !layout->topDown) {
        // Like StretchDIBits: a bottom-up DIB counts the source's y from its bottom row.
        const double top = layout->height - srcCorner.y() - srcSize.height();
        m_Canvas.StretchImage(dest, image, QRectF(QPointF(srcCorner.x(), top), srcSize), rop);
    } else {
        m_Canvas.StretchImage(dest, image, QRectF(srcCorner, srcSize), rop);
    }
    return true;
}
