#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>

class QPainter;

/// One picture decoded by the picture service: it knows its size in HIMETRIC units, renders
/// any part of itself into a rectangle, and saves itself as a BMP file.
class IPicture {
public:
    virtual ~IPicture() = default;

    /// Width and height in HIMETRIC units (hundredths of a millimetre).
    virtual QSize HimetricSize() const = 0;

    /// Renders a part of the picture stretched into dest (device units). The source is given in
    /// HIMETRIC units with y counted upward from the picture's bottom edge: (xSrc, ySrc) is a
    /// corner and (cxSrc, cySrc) the extent; a negative cySrc runs downward, so
    /// (0, h, w, -h) is the whole picture upright. Returns false when nothing could be drawn.
    virtual bool Render(QPainter& painter, const QRect& dest, int xSrc, int ySrc, int cxSrc, int cySrc) const = 0;

    /// The bytes of a complete BMP file of the picture.
    virtual QByteArray SaveAsBmp() const = 0;
};
