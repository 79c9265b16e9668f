#include "imaging/MetafileText.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Glyphs are laid out at this size and scaled to the wanted one, so that fractional heights
// and the advances a record gives stay exact whatever the zoom.
constexpr double kLayoutPixels = 200.0;
constexpr double kDefaultFontPixels = 12.0; // a font of height 0: GDI's default size on screen
constexpr double kMinFontPixels = 0.05;
constexpr double kMaxFontPixels = 1.0e5;

double Length(QPointF v)
{
    return std::hypot(v.x(), v.y());
}

QFont LayoutFont(const MetafileFont& logical)
{
    QFont font = logical.face.isEmpty() ? QFont() : QFont(logical.face);
    font.setPixelSize(int(kLayoutPixels));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setWeight(QFont::Weight(std::clamp(logical.weight <= 0 ? 400 : logical.weight, 1, 1000)));
    font.setItalic(logical.italic);
    font.setUnderline(logical.underline);
    font.setStrikeOut(logical.strikeOut);
    return font;
}

} // namespace

MetafileTextExtent DrawMetafileText(QPainter* painter, const QTransform& logicalToTarget, const MetafileDcState& dc,
                                    const MetafileTextRun& run)
{
    MetafileTextExtent extent;
    const QTransform& m = logicalToTarget;
    const QPointF origin = m.map(run.reference);
    const double sx = Length(m.map(run.reference + QPointF(1, 0)) - origin);
    const double sy = Length(m.map(run.reference + QPointF(0, 1)) - origin);
    if (!std::isfinite(origin.x()) || !std::isfinite(origin.y()) || !(sx > 0) || !(sy > 0) || !std::isfinite(sx) ||
        !std::isfinite(sy))
        return extent;

    if (run.rect && (run.options & Gdi::ETO_OPAQUE)) {
        if (painter) {
            painter->setWorldTransform(m);
            painter->fillRect(*run.rect, dc.bkColour);
        }
        extent.bounds = m.mapRect(*run.rect);
    }
    if (run.text.isEmpty())
        return extent;

    QFont font = LayoutFont(dc.font);
    double pixels = dc.font.height == 0 ? kDefaultFontPixels : std::abs(dc.font.height) * sy;
    if (dc.font.height > 0) {
        // A positive height is the character cell (ascent + descent), not the em.
        const QFontMetricsF cell(font);
        const double cellHeight = cell.ascent() + cell.descent();
        if (cellHeight > 0)
            pixels *= kLayoutPixels / cellHeight;
    }
    if (!(pixels >= kMinFontPixels) || !(pixels <= kMaxFontPixels))
        return extent;
    const double factor = pixels / kLayoutPixels; // target pixels per layout pixel
    if (dc.font.width != 0) {
        const double average = QFontMetricsF(font).averageCharWidth() * factor;
        if (average > 0)
            font.setStretch(int(std::clamp(std::round(100.0 * std::abs(dc.font.width) * sx / average), 1.0, 4000.0)));
    }
    const QFontMetricsF metrics(font);

    double width = 0;
    if (!run.advances.empty()) {
        for (double a : run.advances)
            width += a;
        width *= sx / factor;
    } else {
        width = metrics.horizontalAdvance(run.text);
    }
    double x0 = 0;
    if ((dc.textAlign & Gdi::TA_CENTER) == Gdi::TA_CENTER)
        x0 = -width / 2;
    else if (dc.textAlign & Gdi::TA_RIGHT)
        x0 = -width;
    double y0 = metrics.ascent(); // TA_TOP
    if ((dc.textAlign & Gdi::TA_BASELINE) == Gdi::TA_BASELINE)
        y0 = 0;
    else if (dc.textAlign & Gdi::TA_BOTTOM)
        y0 = -metrics.descent();

    // The string runs along the mapped x axis, turned by the escapement (counter-clockwise on
    // the page), and stands upright whatever the direction of the logical y axis.
    const QPointF baseline = m.map(run.reference + QPointF(1, 0)) - origin;
    const double angle = std::atan2(baseline.y(), baseline.x()) * 180.0 / M_PI - dc.font.escapement / 10.0;
    const QTransform frame = QTransform::fromScale(factor, factor) * QTransform().rotate(angle) *
                             QTransform::fromTranslate(origin.x(), origin.y());
    const QRectF box(x0, y0 - metrics.ascent(), width, metrics.ascent() + metrics.descent());
    extent.bounds = extent.bounds.united(frame.mapRect(box));
    extent.advance = width * factor / sx;
    if (!painter)
        return extent;

    painter->save();
    if (run.rect && (run.options & Gdi::ETO_CLIPPED)) {
        painter->setWorldTransform(m);
        painter->setClipRect(*run.rect, Qt::IntersectClip);
    }
    painter->setWorldTransform(frame);
    if (dc.bkMode == Gdi::OPAQUE)
        painter->fillRect(box, dc.bkColour);
    painter->setFont(font);
    painter->setPen(dc.textColour);
    if (run.advances.empty()) {
        painter->drawText(QPointF(x0, y0), run.text);
    } else {
        double cursor = x0;
        const qsizetype n = run.text.size();
        for (qsizetype i = 0; i < n; ++i) {
            // A surrogate pair is one character with the advances of both its units.
            const qsizetype units = run.text.at(i).isHighSurrogate() && i + 1 < n ? 2 : 1;
            painter->drawText(QPointF(cursor, y0), run.text.mid(i, units));
            for (qsizetype u = 0; u < units && size_t(i + u) < run.advances.size(); ++u)
                cursor += run.advances[size_t(i + u)] * sx / factor;
            i += units - 1;
        }
    }
    painter->restore();
    return extent;
}

QString DecodeAnsiText(const char* bytes, qsizetype size, int charSet)
{
    // Windows-1252 differs from Latin-1 only in 0x80..0x9F.
    static const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    const bool ansi = charSet == 0 || charSet == 1;
    QString text;
    text.reserve(size);
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text.append(ansi && b >= 0x80 && b < 0xA0 ? QChar(kHigh[b - 0x80]) : QChar(b));
    }
    return text;
}
