#include "imaging/MetafileDib.h"

#include "imaging/MetafileRecordReader.h"
#include "platform/WinTypes.h"

#include <bit>
#include <vector>

namespace {

constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

/// One colour channel of a 16- or 32-bit pixel: its mask, where it starts and its largest value.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m)
    {
        if (mask) {
            shift = std::countr_zero(mask);
            max = mask >> shift;
        }
    }
    int Value(std::uint32_t pixel) const
    {
        return max ? int(std::uint64_t((pixel & mask) >> shift) * 255 / max) : 0;
    }
};

/// How the pixels of one bitmap are stored.
struct PixelFormat {
    int bitCount = 0;
    std::vector<QRgb> palette; ///< for 1, 4 and 8 bits
    Channel red, green, blue, alpha;
};

std::vector<QRgb> GreyRamp(int count)
{
    std::vector<QRgb> ramp(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const int v = count > 1 ? i * 255 / (count - 1) : 0;
        ramp[size_t(i)] = qRgb(v, v, v);
    }
    return ramp;
}

int ClampToAlpha(int v, int a)
{
    return v > a ? a : v;
}

/// Decodes height rows of rowBytes bytes each from rows (already checked to be long enough).
QImage DecodeRows(const uchar* rows, int width, int height, std::int64_t rowBytes, bool topDown,
                  const PixelFormat& format, bool keepAlpha)
{
    bool alpha = false;
    if (keepAlpha && format.bitCount == 32 && format.alpha.mask != 0) {
        // A bitmap whose alpha bytes are all zero was written by a program that did not use
        // them: it is opaque.
        for (int row = 0; row < height && !alpha; ++row) {
            const uchar* in = rows + row * rowBytes;
            for (int x = 0; x < width && !alpha; ++x) {
                const uchar* q = in + std::int64_t(x) * 4;
                alpha = format.alpha.Value(q[0] | (std::uint32_t(q[1]) << 8) | (std::uint32_t(q[2]) << 16) |
                                           (std::uint32_t(q[3]) << 24)) != 0;
            }
        }
    }
    QImage image(width, height, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const int paletteSize = int(format.palette.size());
    for (int row = 0; row < height; ++row) {
        const uchar* in = rows + row * rowBytes;
        QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(topDown ? row : height - 1 - row));
        for (int x = 0; x < width; ++x) {
            QRgb colour = qRgb(0, 0, 0);
            switch (format.bitCount) {
            case 1:
            case 4:
            case 8: {
                const int bitsPerPixel = format.bitCount;
                const std::int64_t bit = std::int64_t(x) * bitsPerPixel;
                const int shift = 8 - bitsPerPixel - int(bit % 8);
                const int index = (in[bit / 8] >> shift) & ((1 << bitsPerPixel) - 1);
                if (index < paletteSize)
                    colour = format.palette[size_t(index)];
                break;
            }
            case 16: {
                const std::uint32_t p = in[x * 2] | (std::uint32_t(in[x * 2 + 1]) << 8);
                colour = qRgb(format.red.Value(p), format.green.Value(p), format.blue.Value(p));
                break;
            }
            case 24:
                colour = qRgb(in[x * 3 + 2], in[x * 3 + 1], in[x * 3]);
                break;
            case 32: {
                const uchar* q = in + std::int64_t(x) * 4;
                const std::uint32_t p = q[0] | (std::uint32_t(q[1]) << 8) | (std::uint32_t(q[2]) << 16) |
                                        (std::uint32_t(q[3]) << 24);
                const int r = format.red.Value(p), g = format.green.Value(p), b = format.blue.Value(p);
                if (alpha) {
                    const int a = format.alpha.Value(p);
                    colour = qRgba(ClampToAlpha(r, a), ClampToAlpha(g, a), ClampToAlpha(b, a), a);
                } else {
                    colour = qRgb(r, g, b);
                }
                break;
            }
            default:
                break;
            }
            out[x] = colour;
        }
    }
    return image;
}

bool KnownInfoHeaderSize(std::uint32_t size)
{
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

/// The pixel format of a DIB whose layout has been read: palette or channel masks.
PixelFormat DibPixelFormat(QByteArrayView info, const DibLayout& layout, std::uint32_t usage)
{
    PixelFormat format;
    format.bitCount = layout.bitCount;
    MetafileRecordReader r(info);
    const bool bitFields = layout.compression == BI_BITFIELDS || layout.compression == BI_ALPHABITFIELDS;
    if (bitFields) {
        r.Seek(40); // the masks follow the 40-byte part, inside the larger headers or after it
        format.red = Channel(r.U32());
        format.green = Channel(r.U32());
        format.blue = Channel(r.U32());
        const bool hasAlphaMask = layout.compression == BI_ALPHABITFIELDS || layout.headerSize >= 56;
        format.alpha = Channel(hasAlphaMask ? r.U32() : 0);
    } else if (layout.bitCount == 16) {
        format.red = Channel(0x7C00);
        format.green = Channel(0x03E0);
        format.blue = Channel(0x001F);
    } else if (layout.bitCount == 32) {
        format.red = Channel(0x00FF0000);
        format.green = Channel(0x0000FF00);
        format.blue = Channel(0x000000FF);
        format.alpha = Channel(0xFF000000);
    }
    if (layout.bitCount <= 8) {
        const int entries = layout.colourCount;
        if (usage == DIB_PAL_COLORS) {
            format.palette = GreyRamp(entries);
        } else {
            const bool core = layout.headerSize == 12;
            r.Seek(layout.infoBytes - qsizetype(entries) * (core ? 3 : 4));
            format.palette.resize(size_t(entries));
            for (int i = 0; i < entries; ++i) {
                const int b = r.U8(), g = r.U8(), red = r.U8();
                if (!core)
                    r.U8();
                format.palette[size_t(i)] = qRgb(red, g, b);
            }
        }
    }
    return format;
}

} // namespace

std::optional<DibLayout> ReadDibLayout(QByteArrayView info, std::uint32_t usage)
{
    MetafileRecordReader r(info);
    DibLayout layout;
    layout.headerSize = r.U32();
    if (!r.Ok() || !KnownInfoHeaderSize(layout.headerSize) || qsizetype(layout.headerSize) > info.size())
        return std::nullopt;
    std::int64_t height = 0;
    std::uint32_t coloursUsed = 0;
    if (layout.headerSize == 12) {
        layout.width = r.U16();
        height = r.U16();
        r.U16(); // planes
        layout.bitCount = r.U16();
    } else {
        layout.width = r.I32();
        height = r.I32();
        r.U16(); // planes
        layout.bitCount = r.U16();
        layout.compression = r.U32();
        r.Skip(12); // image size, resolutions
        coloursUsed = r.U32();
    }
    if (!r.Ok() || layout.width <= 0 || height == 0)
        return std::nullopt;
    layout.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (height > INT32_MAX)
        return std::nullopt;
    layout.height = int(height);
    const int bits = layout.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    const bool bitFields = layout.compression == BI_BITFIELDS || layout.compression == BI_ALPHABITFIELDS;
    if (layout.compression != BI_RGB && !(bitFields && (bits == 16 || bits == 32)))
        return std::nullopt;
    if (std::int64_t(layout.width) * layout.height > kMaxMetafileBitmapPixels)
        return std::nullopt;

    std::int64_t maskBytes = 0;
    if (bitFields && layout.headerSize == 40)
        maskBytes = layout.compression == BI_ALPHABITFIELDS ? 16 : 12;
    const std::int64_t entrySize = usage == DIB_PAL_COLORS ? 2 : (layout.headerSize == 12 ? 3 : 4);
    const std::int64_t available = info.size() - std::int64_t(layout.headerSize) - maskBytes;
    if (available < 0)
        return std::nullopt;
    std::int64_t entries = 0;
    if (bits <= 8) {
        const std::int64_t full = std::int64_t(1) << bits;
        entries = coloursUsed == 0 || coloursUsed > full ? full : coloursUsed;
        if (entries * entrySize > available)
            return std::nullopt;
    } else if (coloursUsed != 0 && std::int64_t(coloursUsed) * entrySize <= available) {
        entries = coloursUsed; // a colour table that only optimises display: skipped over
    }
    layout.colourCount = int(entries);
    layout.infoBytes = qsizetype(layout.headerSize + maskBytes + entries * entrySize);
    layout.rowBytes = (std::int64_t(layout.width) * bits + 31) / 32 * 4;
    layout.imageBytes = layout.rowBytes * layout.height;
    return layout;
}

QImage DecodeDib(QByteArrayView info, QByteArrayView bits, std::uint32_t usage, bool keepAlpha)
{
    const std::optional<DibLayout> layout = ReadDibLayout(info, usage);
    if (!layout || bits.size() < layout->imageBytes)
        return {};
    const PixelFormat format = DibPixelFormat(info, *layout, usage);
    return DecodeRows(reinterpret_cast<const uchar*>(bits.data()), layout->width, layout->height, layout->rowBytes,
                      layout->topDown, format, keepAlpha);
}

QImage DecodeDibRows(QByteArrayView info, QByteArrayView bits, std::uint32_t usage, int rows)
{
    const std::optional<DibLayout> layout = ReadDibLayout(info, usage);
    if (!layout || rows < 1 || rows > layout->height)
        return {};
    QByteArray band = info.toByteArray();
    if (layout->headerSize == 12) { // bcHeight: 16 bits at 6
        band[6] = char(rows & 0xFF);
        band[7] = char((rows >> 8) & 0xFF);
    } else { // biHeight: 32 bits at 8, negative for rows from the top
        const std::uint32_t height = std::uint32_t(layout->topDown ? -rows : rows);
        for (int i = 0; i < 4; ++i)
            band[8 + i] = char((height >> (8 * i)) & 0xFF);
    }
    return DecodeDib(band, bits, usage);
}

QImage DecodePackedDib(QByteArrayView packed, std::uint32_t usage)
{
    const std::optional<DibLayout> layout = ReadDibLayout(packed, usage);
    if (!layout)
        return {};
    return DecodeDib(packed.first(layout->infoBytes), packed.sliced(layout->infoBytes), usage);
}

QImage DecodeBitmap16(QByteArrayView bitmap)
{
    MetafileRecordReader r(bitmap);
    r.I16(); // type: always 0 in practice, not relied upon
    const int width = r.I16();
    const int height = r.I16();
    const int rowBytes = r.I16();
    const int planes = r.U8();
    const int bits = r.U8();
    if (!r.Ok() || width <= 0 || height <= 0 || rowBytes <= 0 || planes != 1)
        return {};
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return {};
    if (std::int64_t(width) * bits > std::int64_t(rowBytes) * 8 || std::int64_t(width) * height > kMaxMetafileBitmapPixels)
        return {};
    if (std::int64_t(rowBytes) * height > r.Remaining())
        return {};
    PixelFormat format;
    format.bitCount = bits;
    if (bits <= 8)
        format.palette = GreyRamp(1 << bits);
    format.red = Channel(bits == 16 ? 0x7C00 : 0x00FF0000);
    format.green = Channel(bits == 16 ? 0x03E0 : 0x0000FF00);
    format.blue = Channel(bits == 16 ? 0x001F : 0x000000FF);
    const uchar* rows = reinterpret_cast<const uchar*>(bitmap.data()) + r.Position();
    return DecodeRows(rows, width, height, rowBytes, true, format, false);
}
