#pragma once
// The BMP payloads of scanned map sheets that the coder benchmarks work on: 24-bit BMP files of
// about 48 MB, made from reproducible noise so that every run codes the same bytes.

#include <QByteArray>
#include <QString>

enum class SheetKind {
    NoisyScan, ///< a colour sheet with strong sensor noise: about 6.7 bits a byte after coding
    LightScan, ///< a pale sheet with moderate noise: about 6 bits a byte
    CleanMap,  ///< flat map colours with little noise: about 4.5 bits a byte
    LineArt,   ///< white paper, black lines and lettering: about 1.2 bits a byte
};

const char* SheetKindName(SheetKind kind);

/// The BMP file of a 4000 x 4000 sheet of the given kind (48 MB), made once and kept.
const QByteArray& MapBmp(SheetKind kind);

constexpr int kLargeMapWidth = 10000;
constexpr int kLargeMapHeight = 8000;

/// The BMP file of a large colour scan, kLargeMapWidth x kLargeMapHeight (240 MB): smooth
/// shading, fine texture and sensor noise, which the coder packs to a little under 7 bits a
/// byte. Made afresh at each call.
QByteArray LargeMapBmp();

/// Writes a blank fax page of side x side pixels to path: one bit a pixel, CCITT group 4 in one
/// strip, as scanners store pages (a few kilobytes for any size). False when libtiff refuses.
bool WriteFaxPage(const QString& path, int side);
