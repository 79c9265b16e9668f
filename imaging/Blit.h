#pragma once
// Blits in Qt terms: memory drawing surfaces and rectangle copies between them and onto
// windows, printers and images.

#include <QImage>
#include <QRectF>

class QPainter;
class QPaintDevice;

enum class BlitMode {
    Copy,   ///< replace the destination pixels (a plain copy)
    Blend,  ///< let transparent picture pixels show what is underneath
};

/// Draws the source rectangle (sx, sy, sw, sh) of image, in image pixels with y downward,
/// stretched onto dest. Negative source or destination extents mirror, as a stretched blit does.
/// Pixels are taken by nearest neighbour; nothing is drawn for an empty rectangle.
void DrawImagePart(QPainter& painter, const QImage& image, const QRectF& dest, double sx, double sy, double sw,
                   double sh, BlitMode mode);

/// A memory drawing surface compatible with another device (same pixel format), or with the
/// screen when compatible is null. The surface starts black.
QImage CreateCompatibleMemoryContext(const QPaintDevice* compatible, int width, int height);

/// Copies a width x height rectangle of source starting at (srcX, srcY) to destination at
/// (dstX, dstY), replacing what was there.
void BlitRect(QPainter& destination, int dstX, int dstY, int width, int height, const QImage& source, int srcX,
              int srcY);
