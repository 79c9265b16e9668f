#pragma once
// Text records drawn the way GDI places them: the reference point mapped to the device, the
// font's height scaled with the mapping, the string upright on the device (turned only by the
// font's escapement and a rotating world transform), aligned by the text-alignment flags, with
// optional per-character advances, an opaque background and a clipping rectangle.

#include "imaging/MetafileGdiState.h"

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <vector>

class QPainter;

/// One string a text record draws.
struct MetafileTextRun {
    QPointF reference;            ///< logical units
    QString text;
    std::vector<double> advances; ///< logical units, one per UTF-16 unit; empty: the font's own
    std::uint32_t options = 0;    ///< ETO_OPAQUE, ETO_CLIPPED
    std::optional<QRectF> rect;   ///< logical units, for ETO_OPAQUE and ETO_CLIPPED
};

/// What a run covered: its advance (logical units along the baseline, for TA_UPDATECP) and the
/// box it was drawn in (target coordinates).
struct MetafileTextExtent {
    double advance = 0;
    QRectF bounds;
};

/// Draws the run with the font, colours, background mode and alignment of dc, for the given
/// logical-to-target transform. With painter null it only measures. Text whose height on the
/// target is below a twentieth of a pixel or beyond 100000 pixels is not drawn.
MetafileTextExtent DrawMetafileText(QPainter* painter, const QTransform& logicalToTarget, const MetafileDcState& dc,
                                    const MetafileTextRun& run);

/// Bytes of a 16-bit metafile's 8-bit string in the font's character set: Windows-1252 for the
/// ANSI and default sets, Latin-1 for the others.
QString DecodeAnsiText(const char* bytes, qsizetype size, int charSet);
