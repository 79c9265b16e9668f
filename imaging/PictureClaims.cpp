#include "imaging/PictureClaims.h"

#include "imaging/BitmapInfoHeader.h"
#include "platform/BinaryIO.h"
#include "platform/MemoryBudget.h"
#include "platform/WinTypes.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

/// The most pixels one byte of a run-length BMP can stand for: a 4-byte delta skips up to 255
/// columns and 255 rows.
constexpr std::int64_t kRunLengthPixelsPerByte = 255 * 255;
/// The most pixels one byte of GIF or PNG (inside an ICO) data can stand for: a 12-bit LZW code
/// expands to at most 4096 pixels, a Deflate byte to about 1032.
constexpr std::int64_t kPackedPixelsPerByte = 4096;

/// A picture's claimed size, for the message.
struct Claim {
    std::int64_t m_nWidth = 0;
    std::int64_t m_nHeight = 0;
};

QString TooLittleData(const Claim& claim, qsizetype bytes)
{
    return QStringLiteral("The picture claims %1 x %2 pixels, far more than its %3 of data can describe. "
                          "The file is damaged or cut short.")
        .arg(claim.m_nWidth)
        .arg(claim.m_nHeight)
        .arg(ByteSizeText(bytes));
}

/// Decoding takes the pixels once as the reader makes them and once more in the drawing format.
std::optional<QString> DecodeMemory(const Claim& claim)
{
    const std::optional<std::int64_t> bytes = CheckedProduct(claim.m_nWidth, claim.m_nHeight, 8);
    return CheckMemory(bytes.value_or(-1));
}

std::optional<QString> BmpRefusal(const QByteArray& d)
{
    if (d.size() < qsizetype(kBitmapFileHeaderSize + 16))
        return std::nullopt;
    const std::uint32_t pixelOffset = HeaderU32(d, 10);
    const std::uint32_t headerSize = HeaderU32(d, 14);
    Claim claim;
    std::uint32_t bits = 0, compression = BI_RGB;
    if (headerSize == 12) {
        claim = {HeaderU16(d, 18), HeaderU16(d, 20)};
        bits = HeaderU16(d, 24);
    } else {
        claim = {std::abs(std::int64_t(static_cast<std::int32_t>(HeaderU32(d, 18)))),
                 std::abs(std::int64_t(static_cast<std::int32_t>(HeaderU32(d, 22))))};
        bits = HeaderU16(d, 28);
        compression = HeaderU32(d, 30);
    }
    if (claim.m_nWidth == 0 || claim.m_nHeight == 0)
        return std::nullopt;
    const std::int64_t data = pixelOffset < std::uint64_t(d.size()) ? d.size() - std::int64_t(pixelOffset) : 0;
    if (compression == BI_RGB || compression == BI_BITFIELDS) {
        // Every row but the last must be there whole, the last up to its padding.
        const std::optional<std::int64_t> rowBits = CheckedProduct(claim.m_nWidth, bits);
        if (!rowBits)
            return TooLittleData(claim, data);
        const std::int64_t rowBytes = ((*rowBits + 31) / 32) * 4;
        const std::optional<std::int64_t> rows = CheckedProduct(rowBytes, claim.m_nHeight - 1);
        if (!rows || *rows + (*rowBits + 7) / 8 > data)
            return TooLittleData(claim, data);
    } else if (compression == BI_RLE8 || compression == BI_RLE4) {
        const std::optional<std::int64_t> pixels = CheckedProduct(claim.m_nWidth, claim.m_nHeight);
        if (!pixels || *pixels / kRunLengthPixelsPerByte > data)
            return TooLittleData(claim, data);
    }
    return DecodeMemory(claim);
}

std::uint16_t BigEndian16(const QByteArray& d, qsizetype at)
{
    return static_cast<std::uint16_t>((std::uint8_t(d[at]) << 8) | std::uint8_t(d[at + 1]));
}

/// Where the next marker's code lies at or after pos, found as libjpeg's marker reader finds it:
/// bytes up to a 0xFF are skipped, so are fill bytes 0xFF, and 0xFF 0x00 is data, not a marker.
/// -1 when the bytes end first.
qsizetype NextJpegMarker(const QByteArray& d, qsizetype pos)
{
    for (;;) {
        pos = d.indexOf('\xFF', pos);
        while (pos >= 0 && pos < d.size() && std::uint8_t(d[pos]) == 0xFF)
            ++pos;
        if (pos < 0 || pos >= d.size())
            return -1;
        if (d[pos] != 0)
            return pos;
    }
}

/// The frame as the decoder itself reads it, or nothing when it cannot read the header.
std::optional<Claim> DecoderFrame(const QByteArray& d)
{
    QBuffer buffer;
    buffer.setData(d);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid())
        return std::nullopt;
    return Claim{size.width(), size.height()};
}

/// A Huffman-coded JPEG spends at least one bit on every 8 x 8 block of its first component (its
/// DC difference); arithmetic coding has no such floor and is checked for memory only. The
/// markers are walked as the decoder walks them, and the size checked is the one the decoder
/// reads: where the two frames differ, a damaged marker chain has been read otherwise than the
/// decoder reads it, and the floor is taken for a first component sampled as sparsely as JPEG
/// allows (one in four each way) against every byte of the file.
std::optional<QString> JpegRefusal(const QByteArray& d)
{
    const std::optional<Claim> decoded = DecoderFrame(d);
    if (!decoded)
        return std::nullopt; // the decoder refuses the file before it allocates
    qsizetype pos = 2;
    std::optional<Claim> claim;
    std::int64_t firstComponentBlocks = 0, entropyBytes = 0;
    bool arithmetic = false, scan = false;
    for (qsizetype at = NextJpegMarker(d, pos); at >= 0; at = NextJpegMarker(d, pos)) {
        const auto marker = std::uint8_t(d[at]);
        pos = at + 1;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no segment
        if (pos + 2 > d.size())
            break;
        // A length below 2 skips nothing past itself.
        const qsizetype length = std::max<qsizetype>(BigEndian16(d, pos), 2);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && !claim && length >= 8 && pos + length <= d.size()) {
            const qsizetype f = pos + 2;
            claim = Claim{BigEndian16(d, f + 3), BigEndian16(d, f + 1)};
            const int components = std::uint8_t(d[f + 5]);
            if (components == 0 || length < 8 + 3 * components)
                break;
            int maxH = 1, maxV = 1;
            for (int c = 0; c < components; ++c) {
                const auto sampling = std::uint8_t(d[f + 7 + 3 * c]);
                maxH = std::max(maxH, sampling >> 4);
                maxV = std::max(maxV, sampling & 15);
            }
            const auto first = std::uint8_t(d[f + 7]);
            const std::int64_t h = std::max(1, first >> 4), v = std::max(1, first & 15);
            const std::int64_t columns = (claim->m_nWidth * h + maxH - 1) / maxH;
            const std::int64_t rows = (claim->m_nHeight * v + maxV - 1) / maxV;
            firstComponentBlocks = ((columns + 7) / 8) * ((rows + 7) / 8);
            arithmetic = marker >= 0xC9;
        }
        if (marker == 0xDA) {
            entropyBytes = std::max<std::int64_t>(0, d.size() - (pos + length));
            scan = true;
            break;
        }
        pos += length;
    }
    if (!scan || !claim || claim->m_nWidth != decoded->m_nWidth || claim->m_nHeight != decoded->m_nHeight) {
        claim = decoded;
        firstComponentBlocks = ((decoded->m_nWidth + 31) / 32) * ((decoded->m_nHeight + 31) / 32);
        entropyBytes = d.size();
        arithmetic = false;
    }
    if (!arithmetic && firstComponentBlocks > entropyBytes * 8)
        return TooLittleData(*claim, entropyBytes);
    return DecodeMemory(*claim);
}

std::uint32_t BigEndian32(const QByteArray& d, qsizetype at)
{
    return (std::uint32_t(BigEndian16(d, at)) << 16) | BigEndian16(d, at + 2);
}

/// The largest picture a GIF or ICO file asks its reader to allocate: for a GIF its logical
/// screen (the canvas every frame is drawn onto) or its first frame, whichever is larger; for an
/// ICO the largest of its icons, as their PNG header or bitmap header gives it (the directory's
/// one-byte sizes say nothing about either).
Claim LargestPicture(const QByteArray& d, PictureFormat format)
{
    Claim largest;
    // A PNG icon's header may claim up to 2^32 - 1 pixels each way: compare areas that cannot
    // overflow, a claim too large to multiply being the largest of all.
    const auto area = [](std::int64_t width, std::int64_t height) {
        return CheckedProduct(width, height).value_or(std::numeric_limits<std::int64_t>::max());
    };
    const auto take = [&largest, &area](std::int64_t width, std::int64_t height) {
        if (area(width, height) > area(largest.m_nWidth, largest.m_nHeight))
            largest = {width, height};
    };
    if (format == PictureFormat::Gif) {
        take(HeaderU16(d, 6), HeaderU16(d, 8));
        QBuffer buffer;
        buffer.setData(d);
        if (buffer.open(QIODevice::ReadOnly)) {
            QImageReader reader(&buffer, "gif");
            reader.setAutoDetectImageFormat(false);
            const QSize frame = reader.size();
            if (frame.isValid())
                take(frame.width(), frame.height());
        }
        return largest;
    }
    const int count = HeaderU16(d, 4);
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= d.size(); ++i) {
        const qsizetype entry = 6 + 16 * i;
        take(std::uint8_t(d[entry]) ? std::uint8_t(d[entry]) : 256, std::uint8_t(d[entry + 1]) ? std::uint8_t(d[entry + 1]) : 256);
        const qsizetype at = HeaderU32(d, entry + 12);
        if (at < 0 || at + 24 > d.size())
            continue;
        if (d.mid(at, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8))
            take(BigEndian32(d, at + 16), BigEndian32(d, at + 20));
        else
            take(std::abs(std::int64_t(static_cast<std::int32_t>(HeaderU32(d, at + 4)))),
                 std::abs(std::int64_t(static_cast<std::int32_t>(HeaderU32(d, at + 8)))) / 2);
    }
    return largest;
}

/// GIF and ICO: the largest picture the header asks for, against the best ratio of their coders.
std::optional<QString> PackedRefusal(const QByteArray& data, PictureFormat format)
{
    const Claim claim = LargestPicture(data, format);
    if (claim.m_nWidth <= 0 || claim.m_nHeight <= 0)
        return std::nullopt;
    const std::optional<std::int64_t> pixels = CheckedProduct(claim.m_nWidth, claim.m_nHeight);
    if (!pixels || *pixels / kPackedPixelsPerByte > data.size())
        return TooLittleData(claim, data.size());
    return DecodeMemory(claim);
}

} // namespace

std::optional<QString> RasterPictureRefusal(const QByteArray& data, PictureFormat format)
{
    switch (format) {
    case PictureFormat::Bmp:
    case PictureFormat::Dib: // given as a BMP file by then
        return BmpRefusal(data);
    case PictureFormat::Jpeg:
        return JpegRefusal(data);
    case PictureFormat::Gif:
    case PictureFormat::Ico:
        return PackedRefusal(data, format);
    case PictureFormat::Unknown:
    case PictureFormat::Emf:
    case PictureFormat::Wmf:
        break;
    }
    return std::nullopt;
}

std::optional<QString> StoredSizeMismatch(QSize own, std::int64_t width, std::int64_t height)
{
    constexpr std::int64_t kStoredSizeFactor = 8;
    if (width <= kStoredSizeFactor * (own.width() + std::int64_t(1)) &&
        height <= kStoredSizeFactor * (own.height() + std::int64_t(1)))
        return std::nullopt;
    return QStringLiteral("The file says its map is %1 x %2 pixels, but the picture it holds is %3 x %4 pixels. The "
                          "file is damaged and cannot be read.")
        .arg(width)
        .arg(height)
        .arg(own.width())
        .arg(own.height());
}
