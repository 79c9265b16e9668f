#pragma once
// Bitmaps carried inside metafile records: device-independent bitmaps (DIBs) with any of the
// information headers GDI writes (12, 40, 52, 56, 64, 108 and 124 bytes), 1, 4, 8, 16, 24 and
// 32 bits per pixel, colour tables, bit-field masks, bottom-up and top-down rows; and the
// device-dependent Bitmap16 of 16-bit metafiles.
//
// Not decoded (the record draws nothing): run-length (RLE4/RLE8), JPEG and PNG compressed DIBs.
// Colour tables of palette indexes (DIB_PAL_COLORS) refer to a palette the metafile may not
// carry; their entries are shown as an even grey ramp (black and white for one bit).

#include <QByteArrayView>
#include <QImage>

#include <cstdint>
#include <optional>

/// Colour-table kinds of a DIB: explicit colours or indexes into the logical palette.
constexpr std::uint32_t DIB_RGB_COLORS = 0;
constexpr std::uint32_t DIB_PAL_COLORS = 1;

/// The most pixels a bitmap inside a metafile may have (a 256 MB rendering); larger ones are
/// not drawn. The rows must also be present in the record, so a small file cannot claim a
/// large bitmap.
constexpr std::int64_t kMaxMetafileBitmapPixels = std::int64_t(64) * 1024 * 1024;

/// The layout a DIB's information header describes.
struct DibLayout {
    std::uint32_t headerSize = 0;
    int width = 0;
    int height = 0;       ///< number of rows (always positive)
    bool topDown = false; ///< rows stored from the top
    int bitCount = 0;
    std::uint32_t compression = 0;
    int colourCount = 0;         ///< colour-table entries that follow the header (and masks)
    qsizetype infoBytes = 0;     ///< header + masks + colour table
    std::int64_t rowBytes = 0;   ///< bytes per row, padded to 4
    std::int64_t imageBytes = 0; ///< rowBytes * height
};

/// Reads a DIB's information header (and checks that its masks and colour table fit in info).
/// Empty when the header is unknown or inconsistent, or the bitmap exceeds the pixel limit.
std::optional<DibLayout> ReadDibLayout(QByteArrayView info, std::uint32_t usage);

/// Decodes a DIB whose information block (header, masks, colour table) and pixel rows are held
/// apart, as enhanced-metafile records hold them. With keepAlpha a 32-bit bitmap keeps its
/// fourth byte as (premultiplied) alpha; otherwise the image is opaque RGB32. A null image when
/// a size or count disagrees with the bytes or the compression is not decoded.
QImage DecodeDib(QByteArrayView info, QByteArrayView bits, std::uint32_t usage, bool keepAlpha = false);

/// Decodes only the first `rows` rows of a DIB whose bits hold just those (a band of scans),
/// as if its header said that many rows. Null when rows is not between 1 and the header's
/// height, or as DecodeDib.
QImage DecodeDibRows(QByteArrayView info, QByteArrayView bits, std::uint32_t usage, int rows);

/// Decodes a packed DIB (header, colour table and rows in one block), as 16-bit metafiles
/// store them.
QImage DecodePackedDib(QByteArrayView packed, std::uint32_t usage);

/// Decodes a Bitmap16 (type, width, height, bytes per row, planes, bits per pixel, rows from the
/// top). One-bit rows are black (0) and white (1); 4- and 8-bit ones, which carry no colours,
/// a grey ramp. Null when inconsistent.
QImage DecodeBitmap16(QByteArrayView bitmap);
