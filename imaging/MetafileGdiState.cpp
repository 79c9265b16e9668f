#include "imaging/MetafileGdiState.h"

#include <QBrush>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

// Pens wider than this many target pixels are drawn at this width: nothing a map shows needs
// more, and the stroker's work grows with the width.
constexpr double kMaxPenPixels = 16384.0;
// QPen refuses widths from 32768 on (in its own units, whatever the transform).
constexpr double kMaxQPenWidth = 32767.0;

MetafileBrush SolidBrush(QColor colour)
{
    MetafileBrush brush;
    brush.colour = colour;
    return brush;
}

MetafilePen StockPen(QColor colour, int style = Gdi::PS_SOLID)
{
    MetafilePen pen;
    pen.colour = colour;
    pen.style = std::uint32_t(style);
    return pen;
}

MetafileFont StockFont(const char* face)
{
    MetafileFont font;
    font.face = QString::fromLatin1(face);
    return font;
}

/// Scale of one logical unit along the axes of the metric and English map modes, in millimetres.
double MillimetresPerUnit(int mapMode)
{
    switch (mapMode) {
    case Gdi::MM_LOMETRIC:
        return 0.1;
    case Gdi::MM_HIMETRIC:
        return 0.01;
    case Gdi::MM_LOENGLISH:
        return 0.254;
    case Gdi::MM_HIENGLISH:
        return 0.0254;
    case Gdi::MM_TWIPS:
        return 25.4 / 1440.0;
    default:
        return 0;
    }
}

} // namespace

QColor ColorFromRef(std::uint32_t colorRef)
{
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

MetafileObject StockObject(std::uint32_t index)
{
    switch (index) {
    case 0: // WHITE_BRUSH
    case 18: // DC_BRUSH, white until set
        return SolidBrush(Qt::white);
    case 1:
        return SolidBrush(QColor(0xC0, 0xC0, 0xC0));
    case 2:
        return SolidBrush(QColor(0x80, 0x80, 0x80));
    case 3:
        return SolidBrush(QColor(0x40, 0x40, 0x40));
    case 4:
        return SolidBrush(Qt::black);
    case 5: {
        MetafileBrush none;
        none.style = Gdi::BS_NULL;
        return none;
    }
    case 6:
        return StockPen(Qt::white);
    case 7:
    case 19: // DC_PEN, black until set
        return StockPen(Qt::black);
    case 8:
        return StockPen(Qt::black, Gdi::PS_NULL);
    case 10: // OEM_FIXED_FONT
    case 11: // ANSI_FIXED_FONT
    case 16: // SYSTEM_FIXED_FONT
        return StockFont("Courier New");
    case 12: // ANSI_VAR_FONT
    case 13: // SYSTEM_FONT
    case 14: // DEVICE_DEFAULT_FONT
    case 17: // DEFAULT_GUI_FONT
        return StockFont("Arial");
    case 15:
        return MetafilePalette{};
    default:
        return std::monostate{};
    }
}

QTransform PageTransform(const MetafileDcState& dc, QSizeF devicePerMillimetre)
{
    double sx = 1;
    double sy = 1;
    if (const double mm = MillimetresPerUnit(dc.mapMode); mm > 0) {
        sx = devicePerMillimetre.width() * mm;
        sy = -devicePerMillimetre.height() * mm; // these map modes count y upward
    } else if (dc.mapMode == Gdi::MM_ISOTROPIC || dc.mapMode == Gdi::MM_ANISOTROPIC) {
        sx = dc.viewportExt.width() / dc.windowExt.width();
        sy = dc.viewportExt.height() / dc.windowExt.height();
        if (dc.mapMode == Gdi::MM_ISOTROPIC) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
    }
    return QTransform(sx, 0, 0, sy, dc.viewportOrg.x() - dc.windowOrg.x() * sx,
                      dc.viewportOrg.y() - dc.windowOrg.y() * sy);
}

QPen ToQPen(const MetafilePen& pen, double scale)
{
    const int style = int(pen.style & Gdi::PS_STYLE_MASK);
    if (style == Gdi::PS_NULL)
        return QPen(Qt::NoPen);
    QPen q(pen.colour);
    const double pixels = pen.width * scale;
    const bool onePixel = pen.cosmetic || !(pixels >= 1.0);
    if (onePixel) {
        q.setWidth(0);
        q.setCapStyle(Qt::FlatCap);
    } else {
        if (pixels <= kMaxPenPixels && pen.width <= kMaxQPenWidth) {
            q.setWidthF(pen.width); // in logical units: the transform shapes it, as GDI's geometric pens
        } else {
            q.setCosmetic(true); // too wide to give in logical units: given in target pixels
            q.setWidthF(std::min(pixels, kMaxPenPixels));
        }
        const std::uint32_t cap = pen.style & Gdi::PS_ENDCAP_MASK;
        const std::uint32_t join = pen.style & Gdi::PS_JOIN_MASK;
        q.setCapStyle(cap == Gdi::PS_ENDCAP_SQUARE ? Qt::SquareCap : cap == Gdi::PS_ENDCAP_FLAT ? Qt::FlatCap : Qt::RoundCap);
        q.setJoinStyle(join == Gdi::PS_JOIN_BEVEL ? Qt::BevelJoin : join == Gdi::PS_JOIN_MITER ? Qt::MiterJoin : Qt::RoundJoin);
    }
    switch (style) {
    case Gdi::PS_DASH:
        q.setStyle(Qt::DashLine);
        break;
    case Gdi::PS_DOT:
    case Gdi::PS_ALTERNATE:
        q.setStyle(Qt::DotLine);
        break;
    case Gdi::PS_DASHDOT:
        q.setStyle(Qt::DashDotLine);
        break;
    case Gdi::PS_DASHDOTDOT:
        q.setStyle(Qt::DashDotDotLine);
        break;
    case Gdi::PS_USERSTYLE: {
        // GDI gives the lengths in logical units (device pixels for cosmetic pens), Qt counts
        // them in pen widths. Each is kept at least one wide so that a pattern of zeros cannot
        // turn a line into millions of dashes.
        const double entryPixels = pen.cosmetic ? 1.0 : scale;
        const double penPixels = onePixel ? 1.0 : q.isCosmetic() ? q.widthF() : pen.width * scale;
        QList<qreal> pattern;
        for (double d : pen.dashes)
            pattern.append(std::clamp(d * entryPixels / std::max(penPixels, 1e-9), 1.0, 1.0e4));
        if (pattern.size() % 2 == 1)
            pattern += pattern; // an odd pattern repeats with dashes and gaps swapped
        if (!pattern.isEmpty())
            q.setDashPattern(pattern);
        break;
    }
    default:
        break;
    }
    return q;
}

QBrush ToQBrush(const MetafileBrush& brush)
{
    switch (brush.style) {
    case Gdi::BS_NULL:
        return QBrush(Qt::NoBrush);
    case Gdi::BS_HATCHED: {
        static const Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                                  Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        const Qt::BrushStyle hatch = brush.hatch >= 0 && brush.hatch < 6 ? kHatches[brush.hatch] : Qt::SolidPattern;
        return QBrush(brush.colour, hatch);
    }
    case Gdi::BS_PATTERN:
    case Gdi::BS_DIBPATTERN:
    case Gdi::BS_DIBPATTERNPT:
        if (!brush.pattern.isNull())
            return QBrush(brush.pattern);
        return QBrush(brush.colour);
    default:
        return QBrush(brush.colour);
    }
}
