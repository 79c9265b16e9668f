#pragma once
// Small EMF and WMF byte streams that the metafile tests build record by record, and DIBs
// whose pixels the tests choose, so that every expected value comes from what the test wrote.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <vector>

/// Little-endian record parameters, value by value.
class Params {
public:
    Params& I32(std::int32_t v);
    Params& U32(std::uint32_t v);
    Params& I16(std::int16_t v);
    Params& U16(std::uint16_t v);
    Params& U8(std::uint8_t v);
    Params& F32(float v);
    Params& Colour(QColor c); ///< a COLORREF
    Params& Bytes(const QByteArray& b);
    Params& Utf16(const QString& s);
    QByteArray m_Bytes;
};

/// Edges as GDI stores rectangles: left, top, right, bottom.
struct Ltrb {
    int l, t, r, b;
};

/// How a test DIB stores its pixels.
struct DibFormat {
    int bitCount = 24;
    std::uint32_t headerSize = 40;
    bool topDown = false;
    bool bitFields = false;      ///< BI_BITFIELDS with masks (16 and 32 bits)
    std::uint32_t masks[3] = {0, 0, 0}; ///< red, green, blue when bitFields
    const char* name = "";
};

/// A DIB built by a test: its information block (header, masks, colour table), its rows, and
/// the picture those bytes stand for.
struct TestDib {
    QByteArray info;
    QByteArray bits;
    QImage expected; ///< RGB32
    QByteArray Packed() const { return info + bits; }
};

/// A width x height DIB in the given layout whose pixels follow a fixed pattern of colours the
/// layout can hold exactly.
TestDib MakeDib(int width, int height, const DibFormat& format);

/// An enhanced metafile under construction. The header's frame is in HIMETRIC; the reference
/// device defaults to 960 pixels on 254 mm, so that one device pixel is one pixel at 96 dpi.
class EmfStream {
public:
    explicit EmfStream(Ltrb frame, Ltrb bounds = {0, 0, 0, 0}, QSize devicePixels = {960, 960},
                       QSize deviceMillimetres = {254, 254});
    EmfStream& Record(std::uint32_t type, const QByteArray& params = {});
    EmfStream& Record(std::uint32_t type, const Params& params) { return Record(type, params.m_Bytes); }

    EmfStream& SetMapMode(int mode);
    EmfStream& SetWindowOrg(int x, int y);
    EmfStream& SetWindowExt(int x, int y);
    EmfStream& SetViewportOrg(int x, int y);
    EmfStream& SetViewportExt(int x, int y);
    EmfStream& CreateBrush(std::uint32_t index, QColor colour, std::uint32_t style = 0, std::uint32_t hatch = 0);
    EmfStream& CreatePen(std::uint32_t index, QColor colour, int width = 0, std::uint32_t style = 0);
    EmfStream& CreateFont(std::uint32_t index, int height, const QString& face, int escapement = 0);
    EmfStream& Select(std::uint32_t index);
    EmfStream& Delete(std::uint32_t index);
    EmfStream& Rectangle(Ltrb box);
    EmfStream& Ellipse(Ltrb box);
    EmfStream& MoveTo(int x, int y);
    EmfStream& LineTo(int x, int y);
    EmfStream& Polygon16(std::initializer_list<QPoint> points);
    EmfStream& IntersectClipRect(Ltrb box);
    EmfStream& SetTextColour(QColor colour);
    EmfStream& SetTextAlign(std::uint32_t align);
    EmfStream& SetBkMode(std::uint32_t mode);
    EmfStream& ExtTextOutW(int x, int y, const QString& text, std::uint32_t options = 0, Ltrb rect = {0, 0, 0, 0});
    EmfStream& StretchDIBits(Ltrb dest, QPoint srcCorner, QSize srcSize, const TestDib& dib,
                             std::uint32_t rop = 0x00CC0020);
    /// BITBLT (srcSize empty) or STRETCHBLT of dib from (srcX, srcY) into the rectangle at
    /// dest of destSize.
    EmfStream& Blit(QPoint dest, QSize destSize, QPoint src, QSize srcSize, const TestDib& dib,
                    std::uint32_t rop = 0x00CC0020);
    EmfStream& SetDIBitsToDevice(QPoint dest, QPoint src, QSize size, std::uint32_t startScan, std::uint32_t scans,
                                 const TestDib& dib);

    /// The complete file: the records, EMR_EOF, and the header's counts filled in.
    QByteArray Bytes() const;

private:
    QByteArray m_Records;
    Ltrb m_Frame;
    Ltrb m_Bounds;
    QSize m_DevicePixels;
    QSize m_DeviceMillimetres;
    int m_nRecords = 1;
};

/// A 16-bit metafile under construction: placeable (bounds and units per inch) or plain.
class WmfStream {
public:
    /// A placeable metafile with the given bounds.
    WmfStream(Ltrb bounds, std::uint16_t unitsPerInch);
    /// A plain metafile (no placeable header).
    WmfStream();
    WmfStream& Record(std::uint16_t function, const QByteArray& params = {});
    WmfStream& Record(std::uint16_t function, const Params& params) { return Record(function, params.m_Bytes); }

    WmfStream& SetWindowOrg(int x, int y);
    WmfStream& SetWindowExt(int x, int y);
    WmfStream& CreateBrush(QColor colour, std::uint16_t style = 0, std::uint16_t hatch = 0);
    WmfStream& CreatePen(QColor colour, int width = 0, std::uint16_t style = 0);
    WmfStream& CreateFont(int height, const QByteArray& face, int escapement = 0);
    WmfStream& Select(std::uint16_t index);
    WmfStream& Delete(std::uint16_t index);
    WmfStream& Rectangle(Ltrb box);
    WmfStream& Polygon(std::initializer_list<QPoint> points);
    WmfStream& IntersectClipRect(Ltrb box);
    WmfStream& SetTextColour(QColor colour);
    WmfStream& TextOut(int x, int y, const QByteArray& text);
    WmfStream& ExtTextOut(int x, int y, const QByteArray& text);
    WmfStream& DibBitBlt(QPoint dest, QSize size, QPoint src, const TestDib& dib);
    WmfStream& DibStretchBlt(QPoint dest, QSize destSize, QPoint src, QSize srcSize, const TestDib& dib);
    WmfStream& StretchDib(QPoint dest, QSize destSize, QPoint src, QSize srcSize, const TestDib& dib);
    WmfStream& SetDibToDev(QPoint dest, QPoint src, QSize size, std::uint16_t startScan, std::uint16_t scans,
                           const TestDib& dib);
    /// META_BITBLT with a Bitmap16 of 24-bit rows from the top, made from image.
    WmfStream& BitBlt16(QPoint dest, const QImage& image);

    QByteArray Bytes() const;

private:
    QByteArray m_Records;
    bool m_bPlaceable = false;
    Ltrb m_Bounds{0, 0, 0, 0};
    std::uint16_t m_UnitsPerInch = 0;
    std::uint32_t m_LargestRecord = 0;
};

/// Loads the bytes through the picture service and draws the whole picture onto white at its
/// pixel size (HIMETRIC at 96 dpi). A null image (and a test failure) when nothing loads.
QImage RenderPicture(const QByteArray& bytes);

/// Pixels of image that differ from colour.
int CountNot(const QImage& image, QRgb colour);
/// Pixels of image inside rect that differ from colour.
int CountNotIn(const QImage& image, const QRect& rect, QRgb colour);
