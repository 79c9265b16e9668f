#pragma once
// Record functions and small field readers shared by the 16-bit metafile player's sources.

#include "imaging/MetafileRecordReader.h"

#include <QPointF>
#include <QRectF>

#include <cstdint>

namespace Meta {

// Record functions (META_*).
enum : std::uint16_t {
    EOF_ = 0x0000, SAVEDC = 0x001E, REALIZEPALETTE = 0x0035, CREATEPALETTE = 0x00F7, SETBKMODE = 0x0102,
    SETMAPMODE = 0x0103, SETROP2 = 0x0104, SETPOLYFILLMODE = 0x0106, SETSTRETCHBLTMODE = 0x0107,
    RESTOREDC = 0x0127, INVERTREGION = 0x012A, PAINTREGION = 0x012B, SELECTCLIPREGION = 0x012C,
    SELECTOBJECT = 0x012D, SETTEXTALIGN = 0x012E, DIBCREATEPATTERNBRUSH = 0x0142, DELETEOBJECT = 0x01F0,
    CREATEPATTERNBRUSH = 0x01F9, SETBKCOLOR = 0x0201, SETTEXTCOLOR = 0x0209, SETWINDOWORG = 0x020B,
    SETWINDOWEXT = 0x020C, SETVIEWPORTORG = 0x020D, SETVIEWPORTEXT = 0x020E, OFFSETWINDOWORG = 0x020F,
    OFFSETVIEWPORTORG = 0x0211, LINETO = 0x0213, MOVETO = 0x0214, OFFSETCLIPRGN = 0x0220, FILLREGION = 0x0228,
    SETMAPPERFLAGS = 0x0231, SELECTPALETTE = 0x0234, CREATEPENINDIRECT = 0x02FA, CREATEFONTINDIRECT = 0x02FB,
    CREATEBRUSHINDIRECT = 0x02FC, POLYGON = 0x0324, POLYLINE = 0x0325, SCALEWINDOWEXT = 0x0410,
    SCALEVIEWPORTEXT = 0x0412, EXCLUDECLIPRECT = 0x0415, INTERSECTCLIPRECT = 0x0416, ELLIPSE = 0x0418,
    RECTANGLE = 0x041B, SETPIXEL = 0x041F, FRAMEREGION = 0x0429, TEXTOUT = 0x0521, POLYPOLYGON = 0x0538,
    ESCAPE = 0x0626, ROUNDRECT = 0x061C, PATBLT = 0x061D, CREATEREGION = 0x06FF, ARC = 0x0817, PIE = 0x081A,
    CHORD = 0x0830, BITBLT = 0x0922, DIBBITBLT = 0x0940, EXTTEXTOUT = 0x0A32, STRETCHBLT = 0x0B23,
    DIBSTRETCHBLT = 0x0B41, SETDIBTODEV = 0x0D33, STRETCHDIB = 0x0F43,
};

constexpr std::uint32_t SRCCOPY = 0x00CC0020u;

/// x, y stored as y first (16-bit metafiles store parameters in reverse).
inline QPointF ReversedPoint(MetafileRecordReader& r)
{
    const double y = r.I16();
    return {double(r.I16()), y};
}

/// A rectangle stored as bottom, right, top, left.
inline QRectF ReversedRect(MetafileRecordReader& r)
{
    const double b = r.I16(), rt = r.I16(), t = r.I16(), l = r.I16();
    return QRectF(QPointF(l, t), QPointF(rt, b));
}

} // namespace Meta
