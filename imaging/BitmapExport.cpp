#include "imaging/BitmapExport.h"

#include "imaging/BitmapInfoHeader.h"
#include "imaging/BmpEncoding.h"
#include "imaging/DIBSection.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/WinTypes.h"

#include <array>
#include <climits>
#include <cstring>
#include <limits>

namespace {

/// Colour-table entries a bitmap of this bit count carries.
int TableEntries(int bitCount)
{
    return bitCount == 1 || bitCount == 4 || bitCount == 8 ? 1 << bitCount : 0;
}

/// The bitmap in the pixel format its rows are copied from, and the bit count that gives.
QImage CapturableImage(const QImage& bitmap, int& bitCount)
{
    switch (bitmap.format()) {
    case QImage::Format_Mono:
        bitCount = 1;
        return bitmap;
    case QImage::Format_MonoLSB:
        bitCount = 1;
        return bitmap.convertToFormat(QImage::Format_Mono);
    case QImage::Format_Indexed8:
        bitCount = 8;
        return bitmap;
    case QImage::Format_RGB16:
    case QImage::Format_RGB555:
        // A 16-bit BI_RGB bitmap is 5-5-5, high bit unused.
        bitCount = 16;
        return bitmap.convertToFormat(QImage::Format_RGB555);
    case QImage::Format_BGR888:
    case QImage::Format_RGB888:
        bitCount = 24;
        return bitmap.convertToFormat(QImage::Format_BGR888);
    default:
        // A screen surface is opaque: whatever transparency the bitmap has shows over black.
        bitCount = 32;
        return bitmap.convertToFormat(QImage::Format_RGB32);
    }
}

int SquaredDistance(QRgb a, QRgb b)
{
    const int r = qRed(a) - qRed(b);
    const int g = qGreen(a) - qGreen(b);
    const int bl = qBlue(a) - qBlue(b);
    return r * r + g * g + bl * bl;
}

/// For every colour index of the bitmap, the entry of table showing that colour (the nearest one
/// when the table lacks it). Indices the bitmap's own table does not define map to entry 0.
std::array<std::uint8_t, 256> IndexMap(const QVector<QRgb>& own, const QVector<QRgb>& table)
{
    std::array<std::uint8_t, 256> map{};
    for (qsizetype i = 0; i < own.size() && i < 256; ++i) {
        int best = 0;
        int bestDistance = INT_MAX;
        for (qsizetype j = 0; j < table.size(); ++j) {
            const int distance = SquaredDistance(own[i], table[j]);
            if (distance < bestDistance) {
                best = static_cast<int>(j);
                bestDistance = distance;
                if (distance == 0)
                    break;
            }
        }
        map[static_cast<size_t>(i)] = static_cast<std::uint8_t>(best);
    }
    return map;
}

void WriteInfoHeader(BinaryWriter& out, std::int32_t width, std::int32_t height, int bitCount,
                     std::uint32_t compression, std::uint32_t imageSize)
{
    out.WriteUInt32(kBitmapInfoHeaderSize);
    out.WriteInt32(width);
    out.WriteInt32(height);
    out.WriteUInt16(1);
    out.WriteUInt16(static_cast<std::uint16_t>(bitCount));
    out.WriteUInt32(compression);
    out.WriteUInt32(imageSize);
    for (int i = 0; i < 4; ++i)
        out.WriteUInt32(0); // resolutions, colours used, colours important
}

} // namespace

QByteArray CaptureBitmap(const QImage& bitmap, const QVector<QRgb>* palette, std::uint32_t compression)
{
    if (bitmap.isNull() || compression != BI_RGB)
        return {};
    int bitCount = 0;
    const QImage image = CapturableImage(bitmap, bitCount);
    RequirePixels(image);
    const int entries = TableEntries(bitCount);
    const std::int64_t width = image.width();
    const std::int64_t height = image.height();
    const std::int64_t rowBytes = ((bitCount * width + 31) & ~std::int64_t(31)) / 8;
    const std::int64_t imageBytes = rowBytes * height;
    const std::int64_t pixelsAt = kBitmapInfoHeaderSize + 4 * std::int64_t(entries);
    // The file header stores the whole size in 32 bits.
    if (kBitmapFileHeaderSize + pixelsAt + imageBytes > INT32_MAX)
        return {};

    // The colour table, and how the bitmap's own indices translate into it.
    QVector<QRgb> table = image.colorTable();
    std::array<std::uint8_t, 256> indexMap{};
    bool remap = false;
    if (entries > 0 && palette && !palette->isEmpty()) {
        table = palette->mid(0, entries);
        indexMap = IndexMap(image.colorTable(), table);
        remap = true;
    }

    QByteArray block;
    block.reserve(static_cast<qsizetype>(pixelsAt + imageBytes));
    BinaryWriter out(block);
    WriteInfoHeader(out, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), bitCount, compression,
                    static_cast<std::uint32_t>(imageBytes));
    for (int i = 0; i < entries; ++i) {
        const QRgb colour = i < table.size() ? table[i] : qRgb(0, 0, 0);
        out.WriteUInt8(static_cast<std::uint8_t>(qBlue(colour)));
        out.WriteUInt8(static_cast<std::uint8_t>(qGreen(colour)));
        out.WriteUInt8(static_cast<std::uint8_t>(qRed(colour)));
        out.WriteUInt8(0);
    }

    block.resize(static_cast<qsizetype>(pixelsAt + imageBytes));
    auto* pixels = reinterpret_cast<std::uint8_t*>(block.data()) + pixelsAt;
    const auto used = static_cast<size_t>((bitCount * width + 7) / 8); // bytes of a row that hold pixels
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* in = image.constScanLine(static_cast<int>(height - 1 - y)); // bottom row first
        std::uint8_t* row = pixels + y * rowBytes;
        std::memset(row, 0, static_cast<size_t>(rowBytes));
        if (bitCount == 32) {
            // Blue, green, red and a reserved zero byte, as the platform hands out screen pixels.
            const auto* rgb = reinterpret_cast<const QRgb*>(in);
            for (std::int64_t x = 0; x < width; ++x) {
                row[4 * x] = static_cast<std::uint8_t>(qBlue(rgb[x]));
                row[4 * x + 1] = static_cast<std::uint8_t>(qGreen(rgb[x]));
                row[4 * x + 2] = static_cast<std::uint8_t>(qRed(rgb[x]));
            }
        } else if (remap && bitCount == 8) {
            for (std::int64_t x = 0; x < width; ++x)
                row[x] = indexMap[in[x]];
        } else if (remap && bitCount == 1) {
            for (std::int64_t x = 0; x < width; ++x) {
                const int bit = (in[x >> 3] >> (7 - (x & 7))) & 1;
                if (indexMap[static_cast<size_t>(bit)])
                    row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
            }
        } else {
            std::memcpy(row, in, used);
            if (bitCount == 1 && (width & 7)) // bits past the last pixel are padding
                row[used - 1] = static_cast<std::uint8_t>(row[used - 1] & (0xFF00 >> (width & 7)));
        }
    }
    return block;
}

void WritePackedBitmapFile(QByteArray& file, const QByteArray& block)
{
    BinaryReader in(block);
    std::uint32_t headerSize = 0;
    std::uint16_t bitCount = 0;
    if (!in.Read(headerSize) || !in.Seek(14) || !in.Read(bitCount) || headerSize > std::uint32_t(block.size()))
        return;
    const std::uint64_t fileSize = kBitmapFileHeaderSize + std::uint64_t(block.size());
    if (fileSize > std::numeric_limits<std::uint32_t>::max())
        return;
    BinaryWriter out(file);
    WriteBmpFileHeader(out, static_cast<std::uint32_t>(fileSize),
                       kBitmapFileHeaderSize + headerSize + 4u * static_cast<std::uint32_t>(TableEntries(bitCount)));
    out.WriteBytes(block);
}

QByteArray EncodeDibSectionBmp(const DIBSection& section)
{
    if (!section.m_pBits || section.m_nBitCount != 24 || section.m_nWidth <= 0 || section.m_nHeight <= 0)
        return {};
    const std::int64_t rowBytes = (std::int64_t(section.m_nWidth) * 3 + 3) & ~std::int64_t(3);
    const std::int64_t height = section.m_nHeight;
    const std::int64_t headerBytes = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    if (headerBytes + rowBytes * height > INT32_MAX)
        return {};

    QByteArray file;
    file.reserve(static_cast<qsizetype>(headerBytes + rowBytes * height));
    BinaryWriter out(file);
    WriteBmpFileHeader(out, static_cast<std::uint32_t>(headerBytes + rowBytes * height),
                       static_cast<std::uint32_t>(headerBytes));
    WriteInfoHeader(out, section.m_nWidth, section.m_nHeight, 24, BI_RGB, static_cast<std::uint32_t>(rowBytes * height));
    // Stored rows are already bottom-up blue, green, red: each is copied as it is, cut to R bytes.
    for (int r = 0; r < section.m_nHeight; ++r)
        out.WriteBytes(section.StoredRow(r), static_cast<qsizetype>(rowBytes));
    return file;
}

bool WriteDibSectionBmp(const QString& path, const DIBSection& section, const Progress& progress)
{
    const QByteArray file = EncodeDibSectionBmp(section);
    return !file.isEmpty() && WriteWholeFile(path, file, nullptr, nullptr, progress);
}

QImage RgbImageOf(const DIBSection& section)
{
    if (!section.m_pBits || section.m_nBitCount != 24)
        return {};
    QImage rgb(section.m_nWidth, section.m_nHeight, QImage::Format_RGB888);
    RequirePixels(rgb);
    for (int y = 0; y < section.m_nHeight; ++y) {
        // Stored rows run bottom-up in blue, green, red.
        const std::uint8_t* from = section.StoredRow(section.m_nHeight - 1 - y);
        uchar* to = rgb.scanLine(y);
        for (int x = 0; x < section.m_nWidth; ++x) {
            to[3 * x] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    return rgb;
}
