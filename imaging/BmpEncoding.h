#pragma once
// BMP file bytes: the 14-byte file header and 24-bit encodings of images.

#include <QByteArray>
#include <QImage>

#include <cstdint>

class BinaryWriter;

/// Writes the 14-byte BMP file header: "BM", the file size, two reserved zeros and the offset
/// of the pixel rows.
void WriteBmpFileHeader(BinaryWriter& out, std::uint32_t fileSize, std::uint32_t pixelOffset);

/// A complete 24-bit BMP file of image: 54 bytes of headers, then the rows bottom-up, each
/// padded to a multiple of 4 bytes. Transparent pixels are laid over white.
QByteArray EncodeBmp24(const QImage& image);
