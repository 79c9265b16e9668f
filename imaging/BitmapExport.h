#pragma once
// Bitmaps turned into BMP files: the capture of a drawn bitmap into a packed device-independent
// bitmap, the file header put in front of one, and the writer of a 24-bit DIB section.

#include "platform/Progress.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

#include <cstdint>

class DIBSection;

/// The captured bitmap as a packed device-independent bitmap: the 40-byte information header,
/// a colour table of E four-byte entries (blue, green, red, 0) and the pixel rows bottom-up, each
/// padded to a multiple of 4 bytes. The bit count follows the bitmap's pixel format: 32 for
/// RGB32 and ARGB32 (and any format without an exact DIB equivalent), 24 for BGR888 and RGB888,
/// 16 (5-5-5) for RGB16 and RGB555, 8 for Indexed8 and 1 for the two mono formats. E is 256 at
/// 8 bits, 2 at 1 bit and 0 otherwise. palette, when given for an indexed bitmap, becomes the
/// colour table and every pixel is expressed in it (the nearest entry where a colour is
/// missing); it is ignored at 16 bits and more. Only BI_RGB rows are produced: any other
/// compression, a null bitmap or a size the format cannot hold gives an empty result.
QByteArray CaptureBitmap(const QImage& bitmap, const QVector<QRgb>* palette, std::uint32_t compression);

/// Appends a BMP file of a packed bitmap to file: the 14-byte header ("BM", block size + 14,
/// two reserved zeros, the pixel offset 14 + header size + 4 x E), then the block unchanged.
/// An empty or malformed block appends nothing.
void WritePackedBitmapFile(QByteArray& file, const QByteArray& block);

/// A 24-bit section as a BMP file (54 bytes of headers, then the stored rows bottom row first,
/// each cut to the width x 3 rounded up to 4 bytes). Empty for a section without bits, of another
/// bit count or too large for a BMP file.
QByteArray EncodeDibSectionBmp(const DIBSection& section);

/// A 24-bit section's pixels as the picture is seen: rows top-down, red, green, blue (RGB888).
/// A null image for a section without bits or of another bit count.
QImage RgbImageOf(const DIBSection& section);

/// Writes EncodeDibSectionBmp(section) to path. The file is replaced only once it is complete.
/// False, writing nothing, when there is nothing to write, the file cannot be written, or when
/// cancelled through progress.
bool WriteDibSectionBmp(const QString& path, const DIBSection& section, const Progress& progress = {});
