#include "MetafileTestStreams.h"

#include "imaging/PictureService.h"
#include "platform/BinaryIO.h"
#include "platform/WinTypes.h"

#include <QPainter>
#include <QRect>

#include <gtest/gtest.h>

#include <bit>

namespace {

constexpr std::uint32_t EMR_EOF = 14;

QRgb PaletteColour(int k)
{
    return qRgb((k * 53 + 17) % 256, (k * 97 + 5) % 256, (k * 151 + 101) % 256);
}

/// The value of a channel of 0..255 put under a mask; only 0 and 255 are used for masks of
/// fewer than 8 bits, so that no rounding convention is assumed.
std::uint32_t UnderMask(int value, std::uint32_t mask)
{
    const int shift = std::countr_zero(mask);
    const std::uint32_t max = mask >> shift;
    const std::uint32_t v = max >= 255 ? std::uint32_t(value) * max / 255 : (value ? max : 0);
    return (v << shift) & mask;
}

void PutBits(QByteArray& row, int x, int bitCount, int index)
{
    const int bit = x * bitCount;
    const int shift = 8 - bitCount - bit % 8;
    row[bit / 8] = char(std::uint8_t(row[bit / 8]) | (index << shift));
}

void PutLe(QByteArray& row, int at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        row[at + i] = char((v >> (8 * i)) & 0xFF);
}

/// Pads params to whole words (16-bit metafiles) or whole double words (enhanced ones).
QByteArray Padded(QByteArray b, int unit)
{
    while (b.size() % unit)
        b.append('\0');
    return b;
}

} // namespace

Params& Params::I32(std::int32_t v)
{
    BinaryWriter(m_Bytes).Write(v);
    return *this;
}
Params& Params::U32(std::uint32_t v)
{
    BinaryWriter(m_Bytes).Write(v);
    return *this;
}
Params& Params::I16(std::int16_t v)
{
    BinaryWriter(m_Bytes).Write(v);
    return *this;
}
Params& Params::U16(std::uint16_t v)
{
    BinaryWriter(m_Bytes).Write(v);
    return *this;
}
Params& Params::U8(std::uint8_t v)
{
    BinaryWriter(m_Bytes).Write(v);
    return *this;
}
Params& Params::F32(float v)
{
    BinaryWriter(m_Bytes).Write(v);
    return *this;
}
Params& Params::Colour(QColor c)
{
    return U32(std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8) | (std::uint32_t(c.blue()) << 16));
}
Params& Params::Bytes(const QByteArray& b)
{
    m_Bytes.append(b);
    return *this;
}
Params& Params::Utf16(const QString& s)
{
    for (QChar c : s)
        U16(c.unicode());
    return *this;
}

TestDib MakeDib(int width, int height, const DibFormat& format)
{
    TestDib dib;
    dib.expected = QImage(width, height, QImage::Format_RGB32);
    const int bits = format.bitCount;
    const int colours = bits <= 8 ? 1 << bits : 0;
    Params info;
    if (format.headerSize == 12) {
        info.U32(12).U16(std::uint16_t(width)).U16(std::uint16_t(height)).U16(1).U16(std::uint16_t(bits));
    } else {
        info.U32(format.headerSize).I32(width).I32(format.topDown ? -height : height).U16(1).U16(std::uint16_t(bits));
        info.U32(format.bitFields ? 3 : 0).U32(0).I32(2835).I32(2835).U32(0).U32(0);
        if (format.headerSize > 40 || format.bitFields)
            info.U32(format.masks[0]).U32(format.masks[1]).U32(format.masks[2]);
        while (info.m_Bytes.size() < qsizetype(format.headerSize))
            info.U32(0); // alpha mask, colour space and the rest of the larger headers
    }
    for (int k = 0; k < colours; ++k) {
        const QRgb c = PaletteColour(k);
        info.U8(std::uint8_t(qBlue(c))).U8(std::uint8_t(qGreen(c))).U8(std::uint8_t(qRed(c)));
        if (format.headerSize != 12)
            info.U8(0);
    }
    dib.info = info.m_Bytes;

    const int stride = (width * bits + 31) / 32 * 4;
    for (int row = 0; row < height; ++row) {
        const int y = format.topDown ? row : height - 1 - row; // the picture row this stored row holds
        QByteArray line(stride, '\0');
        for (int x = 0; x < width; ++x) {
            QRgb colour = 0;
            if (bits <= 8) {
                const int index = (x * 3 + y * 5 + x * y) % colours;
                PutBits(line, x, bits, index);
                colour = PaletteColour(index);
            } else if (bits == 16) {
                const int r = (x + y) % 2 ? 255 : 0, g = (x / 2 + y) % 2 ? 255 : 0, b = y % 3 == 0 ? 255 : 0;
                const std::uint32_t rm = format.bitFields ? format.masks[0] : 0x7C00;
                const std::uint32_t gm = format.bitFields ? format.masks[1] : 0x03E0;
                const std::uint32_t bm = format.bitFields ? format.masks[2] : 0x001F;
                PutLe(line, x * 2, UnderMask(r, rm) | UnderMask(g, gm) | UnderMask(b, bm), 2);
                colour = qRgb(r, g, b);
            } else {
                const int r = (x * 37 + y * 11) & 255, g = (x * 5 + y * 67) & 255, b = (x * x + y * 3) & 255;
                if (bits == 24) {
                    PutLe(line, x * 3, std::uint32_t(b) | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16), 3);
                } else if (format.bitFields) {
                    PutLe(line, x * 4,
                          UnderMask(r, format.masks[0]) | UnderMask(g, format.masks[1]) | UnderMask(b, format.masks[2]), 4);
                } else {
                    // The fourth byte is unused in a plain 32-bit DIB: filled with noise.
                    PutLe(line, x * 4,
                          std::uint32_t(b) | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16) |
                              (std::uint32_t((x * 13 + 7) & 255) << 24),
                          4);
                }
                colour = qRgb(r, g, b);
            }
            dib.expected.setPixel(x, y, colour);
        }
        dib.bits.append(line);
    }
    return dib;
}

// ---------------------------------------------------------------------------------------------

EmfStream::EmfStream(Ltrb frame, Ltrb bounds, QSize devicePixels, QSize deviceMillimetres)
    : m_Frame(frame), m_Bounds(bounds), m_DevicePixels(devicePixels), m_DeviceMillimetres(deviceMillimetres)
{
}

EmfStream& EmfStream::Record(std::uint32_t type, const QByteArray& params)
{
    const QByteArray body = Padded(params, 4);
    Params record;
    record.U32(type).U32(std::uint32_t(8 + body.size())).Bytes(body);
    m_Records.append(record.m_Bytes);
    ++m_nRecords;
    return *this;
}

EmfStream& EmfStream::SetMapMode(int mode)
{
    return Record(17, Params().U32(std::uint32_t(mode)));
}
EmfStream& EmfStream::SetWindowOrg(int x, int y)
{
    return Record(10, Params().I32(x).I32(y));
}
EmfStream& EmfStream::SetWindowExt(int x, int y)
{
    return Record(9, Params().I32(x).I32(y));
}
EmfStream& EmfStream::SetViewportOrg(int x, int y)
{
    return Record(12, Params().I32(x).I32(y));
}
EmfStream& EmfStream::SetViewportExt(int x, int y)
{
    return Record(11, Params().I32(x).I32(y));
}
EmfStream& EmfStream::CreateBrush(std::uint32_t index, QColor colour, std::uint32_t style, std::uint32_t hatch)
{
    return Record(39, Params().U32(index).U32(style).Colour(colour).U32(hatch));
}
EmfStream& EmfStream::CreatePen(std::uint32_t index, QColor colour, int width, std::uint32_t style)
{
    return Record(38, Params().U32(index).U32(style).I32(width).I32(0).Colour(colour));
}
EmfStream& EmfStream::CreateFont(std::uint32_t index, int height, const QString& face, int escapement)
{
    Params p;
    p.U32(index).I32(height).I32(0).I32(escapement).I32(0).I32(400);
    p.U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0);
    for (int i = 0; i < 32; ++i)
        p.U16(i < face.size() ? face.at(i).unicode() : 0);
    return Record(82, p);
}
EmfStream& EmfStream::Select(std::uint32_t index)
{
    return Record(37, Params().U32(index));
}
EmfStream& EmfStream::Delete(std::uint32_t index)
{
    return Record(40, Params().U32(index));
}
EmfStream& EmfStream::Rectangle(Ltrb box)
{
    return Record(43, Params().I32(box.l).I32(box.t).I32(box.r).I32(box.b));
}
EmfStream& EmfStream::Ellipse(Ltrb box)
{
    return Record(42, Params().I32(box.l).I32(box.t).I32(box.r).I32(box.b));
}
EmfStream& EmfStream::MoveTo(int x, int y)
{
    return Record(27, Params().I32(x).I32(y));
}
EmfStream& EmfStream::LineTo(int x, int y)
{
    return Record(54, Params().I32(x).I32(y));
}
EmfStream& EmfStream::Polygon16(std::initializer_list<QPoint> points)
{
    Params p;
    p.I32(0).I32(0).I32(0).I32(0).U32(std::uint32_t(points.size()));
    for (QPoint pt : points)
        p.I16(std::int16_t(pt.x())).I16(std::int16_t(pt.y()));
    return Record(86, p);
}
EmfStream& EmfStream::IntersectClipRect(Ltrb box)
{
    return Record(30, Params().I32(box.l).I32(box.t).I32(box.r).I32(box.b));
}
EmfStream& EmfStream::SetTextColour(QColor colour)
{
    return Record(24, Params().Colour(colour));
}
EmfStream& EmfStream::SetTextAlign(std::uint32_t align)
{
    return Record(22, Params().U32(align));
}
EmfStream& EmfStream::SetBkMode(std::uint32_t mode)
{
    return Record(18, Params().U32(mode));
}
EmfStream& EmfStream::ExtTextOutW(int x, int y, const QString& text, std::uint32_t options, Ltrb rect)
{
    Params p;
    p.I32(0).I32(0).I32(0).I32(0).U32(1).F32(0).F32(0);             // bounds, graphics mode, scales
    p.I32(x).I32(y).U32(std::uint32_t(text.size())).U32(8 + 68);     // reference, characters, string offset
    p.U32(options).I32(rect.l).I32(rect.t).I32(rect.r).I32(rect.b).U32(0); // options, rectangle, no advances
    p.Utf16(text);
    return Record(84, p);
}
EmfStream& EmfStream::StretchDIBits(Ltrb dest, QPoint srcCorner, QSize srcSize, const TestDib& dib, std::uint32_t rop)
{
    const std::uint32_t offInfo = 80;
    Params p;
    p.I32(0).I32(0).I32(0).I32(0).I32(dest.l).I32(dest.t).I32(srcCorner.x()).I32(srcCorner.y());
    p.I32(srcSize.width()).I32(srcSize.height()).U32(offInfo).U32(std::uint32_t(dib.info.size()));
    p.U32(offInfo + std::uint32_t(dib.info.size())).U32(std::uint32_t(dib.bits.size())).U32(0).U32(rop);
    p.I32(dest.r - dest.l).I32(dest.b - dest.t).Bytes(dib.info).Bytes(dib.bits);
    return Record(81, p);
}
EmfStream& EmfStream::Blit(QPoint dest, QSize destSize, QPoint src, QSize srcSize, const TestDib& dib, std::uint32_t rop)
{
    const bool stretch = !srcSize.isEmpty();
    const std::uint32_t offInfo = stretch ? 108 : 100;
    Params p;
    p.I32(0).I32(0).I32(0).I32(0).I32(dest.x()).I32(dest.y()).I32(destSize.width()).I32(destSize.height());
    p.U32(rop).I32(src.x()).I32(src.y()).F32(1).F32(0).F32(0).F32(1).F32(0).F32(0).U32(0).U32(0);
    p.U32(offInfo).U32(std::uint32_t(dib.info.size())).U32(offInfo + std::uint32_t(dib.info.size()));
    p.U32(std::uint32_t(dib.bits.size()));
    if (stretch)
        p.I32(srcSize.width()).I32(srcSize.height());
    p.Bytes(dib.info).Bytes(dib.bits);
    return Record(stretch ? 77 : 76, p);
}
EmfStream& EmfStream::SetDIBitsToDevice(QPoint dest, QPoint src, QSize size, std::uint32_t startScan,
                                        std::uint32_t scans, const TestDib& dib)
{
    // The band of rows from startScan (counted from the bottom of a bottom-up DIB).
    const qsizetype stride = dib.bits.size() / dib.expected.height();
    const QByteArray band = dib.bits.mid(qsizetype(startScan) * stride, qsizetype(scans) * stride);
    const std::uint32_t offInfo = 76;
    Params p;
    p.I32(0).I32(0).I32(0).I32(0).I32(dest.x()).I32(dest.y()).I32(src.x()).I32(src.y());
    p.I32(size.width()).I32(size.height()).U32(offInfo).U32(std::uint32_t(dib.info.size()));
    p.U32(offInfo + std::uint32_t(dib.info.size())).U32(std::uint32_t(band.size())).U32(0).U32(startScan).U32(scans);
    p.Bytes(dib.info).Bytes(band);
    return Record(80, p);
}

QByteArray EmfStream::Bytes() const
{
    QByteArray records = m_Records;
    Params eof;
    eof.U32(EMR_EOF).U32(20).U32(0).U32(16).U32(20);
    records.append(eof.m_Bytes);
    const std::uint32_t headerSize = 108;
    Params header;
    header.U32(1).U32(headerSize);
    header.I32(m_Bounds.l).I32(m_Bounds.t).I32(m_Bounds.r).I32(m_Bounds.b);
    header.I32(m_Frame.l).I32(m_Frame.t).I32(m_Frame.r).I32(m_Frame.b);
    header.U32(0x464D4520).U32(0x10000).U32(std::uint32_t(headerSize + records.size())).U32(std::uint32_t(m_nRecords + 1));
    header.U16(16).U16(0).U32(0).U32(0).U32(0);
    header.I32(m_DevicePixels.width()).I32(m_DevicePixels.height());
    header.I32(m_DeviceMillimetres.width()).I32(m_DeviceMillimetres.height());
    header.U32(0).U32(0).U32(0);
    header.I32(m_DeviceMillimetres.width() * 1000).I32(m_DeviceMillimetres.height() * 1000);
    return header.m_Bytes + records;
}

// ---------------------------------------------------------------------------------------------

WmfStream::WmfStream(Ltrb bounds, std::uint16_t unitsPerInch)
    : m_bPlaceable(true), m_Bounds(bounds), m_UnitsPerInch(unitsPerInch)
{
}

WmfStream::WmfStream() = default;

WmfStream& WmfStream::Record(std::uint16_t function, const QByteArray& params)
{
    const QByteArray body = Padded(params, 2);
    const std::uint32_t words = std::uint32_t(3 + body.size() / 2);
    Params record;
    record.U32(words).U16(function).Bytes(body);
    m_Records.append(record.m_Bytes);
    m_LargestRecord = std::max(m_LargestRecord, words);
    return *this;
}

WmfStream& WmfStream::SetWindowOrg(int x, int y)
{
    return Record(0x020B, Params().I16(std::int16_t(y)).I16(std::int16_t(x)));
}
WmfStream& WmfStream::SetWindowExt(int x, int y)
{
    return Record(0x020C, Params().I16(std::int16_t(y)).I16(std::int16_t(x)));
}
WmfStream& WmfStream::CreateBrush(QColor colour, std::uint16_t style, std::uint16_t hatch)
{
    return Record(0x02FC, Params().U16(style).Colour(colour).U16(hatch));
}
WmfStream& WmfStream::CreatePen(QColor colour, int width, std::uint16_t style)
{
    return Record(0x02FA, Params().U16(style).I16(std::int16_t(width)).I16(0).Colour(colour));
}
WmfStream& WmfStream::CreateFont(int height, const QByteArray& face, int escapement)
{
    Params p;
    p.I16(std::int16_t(height)).I16(0).I16(std::int16_t(escapement)).I16(0).I16(400);
    p.U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).Bytes(face).U8(0);
    return Record(0x02FB, p);
}
WmfStream& WmfStream::Select(std::uint16_t index)
{
    return Record(0x012D, Params().U16(index));
}
WmfStream& WmfStream::Delete(std::uint16_t index)
{
    return Record(0x01F0, Params().U16(index));
}
WmfStream& WmfStream::Rectangle(Ltrb box)
{
    return Record(0x041B, Params()
                              .I16(std::int16_t(box.b))
                              .I16(std::int16_t(box.r))
                              .I16(std::int16_t(box.t))
                              .I16(std::int16_t(box.l)));
}
WmfStream& WmfStream::Polygon(std::initializer_list<QPoint> points)
{
    Params p;
    p.I16(std::int16_t(points.size()));
    for (QPoint pt : points)
        p.I16(std::int16_t(pt.x())).I16(std::int16_t(pt.y()));
    return Record(0x0324, p);
}
WmfStream& WmfStream::IntersectClipRect(Ltrb box)
{
    return Record(0x0416, Params()
                              .I16(std::int16_t(box.b))
                              .I16(std::int16_t(box.r))
                              .I16(std::int16_t(box.t))
                              .I16(std::int16_t(box.l)));
}
WmfStream& WmfStream::SetTextColour(QColor colour)
{
    return Record(0x0209, Params().Colour(colour));
}
WmfStream& WmfStream::TextOut(int x, int y, const QByteArray& text)
{
    Params p;
    p.I16(std::int16_t(text.size())).Bytes(Padded(text, 2)).I16(std::int16_t(y)).I16(std::int16_t(x));
    return Record(0x0521, p);
}
WmfStream& WmfStream::ExtTextOut(int x, int y, const QByteArray& text)
{
    Params p;
    p.I16(std::int16_t(y)).I16(std::int16_t(x)).I16(std::int16_t(text.size())).U16(0).Bytes(Padded(text, 2));
    return Record(0x0A32, p);
}
WmfStream& WmfStream::DibBitBlt(QPoint dest, QSize size, QPoint src, const TestDib& dib)
{
    Params p;
    p.U32(0x00CC0020).I16(std::int16_t(src.y())).I16(std::int16_t(src.x()));
    p.I16(std::int16_t(size.height())).I16(std::int16_t(size.width()));
    p.I16(std::int16_t(dest.y())).I16(std::int16_t(dest.x())).Bytes(dib.Packed());
    return Record(0x0940, p);
}
WmfStream& WmfStream::DibStretchBlt(QPoint dest, QSize destSize, QPoint src, QSize srcSize, const TestDib& dib)
{
    Params p;
    p.U32(0x00CC0020).I16(std::int16_t(srcSize.height())).I16(std::int16_t(srcSize.width()));
    p.I16(std::int16_t(src.y())).I16(std::int16_t(src.x()));
    p.I16(std::int16_t(destSize.height())).I16(std::int16_t(destSize.width()));
    p.I16(std::int16_t(dest.y())).I16(std::int16_t(dest.x())).Bytes(dib.Packed());
    return Record(0x0B41, p);
}
WmfStream& WmfStream::StretchDib(QPoint dest, QSize destSize, QPoint src, QSize srcSize, const TestDib& dib)
{
    Params p;
    p.U32(0x00CC0020).U16(0).I16(std::int16_t(srcSize.height())).I16(std::int16_t(srcSize.width()));
    p.I16(std::int16_t(src.y())).I16(std::int16_t(src.x()));
    p.I16(std::int16_t(destSize.height())).I16(std::int16_t(destSize.width()));
    p.I16(std::int16_t(dest.y())).I16(std::int16_t(dest.x())).Bytes(dib.Packed());
    return Record(0x0F43, p);
}
WmfStream& WmfStream::SetDibToDev(QPoint dest, QPoint src, QSize size, std::uint16_t startScan, std::uint16_t scans,
                                  const TestDib& dib)
{
    const qsizetype stride = dib.bits.size() / dib.expected.height();
    Params p;
    p.U16(0).U16(scans).U16(startScan).I16(std::int16_t(src.y())).I16(std::int16_t(src.x()));
    p.I16(std::int16_t(size.height())).I16(std::int16_t(size.width()));
    p.I16(std::int16_t(dest.y())).I16(std::int16_t(dest.x()));
    p.Bytes(dib.info).Bytes(dib.bits.mid(qsizetype(startScan) * stride, qsizetype(scans) * stride));
    return Record(0x0D33, p);
}
WmfStream& WmfStream::BitBlt16(QPoint dest, const QImage& image)
{
    const int rowBytes = (image.width() * 3 + 1) / 2 * 2;
    Params p;
    p.U32(0x00CC0020).I16(0).I16(0).I16(std::int16_t(image.height())).I16(std::int16_t(image.width()));
    p.I16(std::int16_t(dest.y())).I16(std::int16_t(dest.x()));
    p.I16(0).I16(std::int16_t(image.width())).I16(std::int16_t(image.height())).I16(std::int16_t(rowBytes)).U8(1).U8(24);
    for (int y = 0; y < image.height(); ++y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            row[x * 3] = char(qBlue(c));
            row[x * 3 + 1] = char(qGreen(c));
            row[x * 3 + 2] = char(qRed(c));
        }
        p.Bytes(row);
    }
    return Record(0x0922, p);
}

QByteArray WmfStream::Bytes() const
{
    Params out;
    if (m_bPlaceable) {
        Params placeable;
        placeable.U32(0x9AC6CDD7).U16(0).I16(std::int16_t(m_Bounds.l)).I16(std::int16_t(m_Bounds.t));
        placeable.I16(std::int16_t(m_Bounds.r)).I16(std::int16_t(m_Bounds.b)).U16(m_UnitsPerInch).U32(0);
        std::uint16_t checksum = 0;
        for (int i = 0; i < 20; i += 2)
            checksum ^= std::uint16_t(std::uint8_t(placeable.m_Bytes[i]) | (std::uint8_t(placeable.m_Bytes[i + 1]) << 8));
        placeable.U16(checksum);
        out.Bytes(placeable.m_Bytes);
    }
    const QByteArray records = m_Records + Params().U32(3).U16(0).m_Bytes; // META_EOF
    out.U16(1).U16(9).U16(0x0300).U32(std::uint32_t(9 + records.size() / 2)).U16(32).U32(m_LargestRecord).U16(0);
    out.Bytes(records);
    return out.m_Bytes;
}

QImage RenderPicture(const QByteArray& bytes)
{
    const std::unique_ptr<IPicture> picture = LoadPicture(bytes);
    EXPECT_NE(picture, nullptr);
    if (!picture)
        return {};
    const QSize himetric = picture->HimetricSize();
    const QSize pixels(MulDiv(himetric.width(), kPixelsPerInch, kHimetricPerInch),
                       MulDiv(himetric.height(), kPixelsPerInch, kHimetricPerInch));
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    EXPECT_TRUE(picture->Render(painter, QRect(QPoint(0, 0), pixels), 0, himetric.height(), himetric.width(),
                                -himetric.height()));
    painter.end();
    return image;
}

int CountNot(const QImage& image, QRgb colour)
{
    return CountNotIn(image, image.rect(), colour);
}

int CountNotIn(const QImage& image, const QRect& rect, QRgb colour)
{
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF);
    return n;
}
