// The enhanced-metafile records that create and select objects, and those that draw text.

#include "imaging/EmfRenderer.h"

#include "imaging/EmfRecords.h"
#include "imaging/MetafileCanvas.h"

using namespace Emr;

namespace {

constexpr std::uint32_t ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000, ETO_NO_RECT = 0x100, ETO_SMALL_CHARS = 0x200;

/// A little-endian UTF-16 string (read byte by byte: records put strings at any offset).
QString Utf16Le(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(char16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8))));
    return text;
}

} // namespace

bool EmfRenderer::SelectObject(std::uint32_t index)
{
    if (index & kStockObjectFlag) {
        m_Canvas.SelectObject(StockObject(index & ~kStockObjectFlag));
    } else if (const MetafileObject* object = m_Canvas.Objects().Find(index)) {
        m_Canvas.SelectObject(*object);
    }
    return true;
}

bool EmfRenderer::CreatePen(MetafileRecordReader& r)
{
    const std::uint32_t index = r.U32();
    MetafilePen pen;
    pen.style = r.U32();
    pen.width = r.I32();
    r.I32(); // the y of the width is not used
    pen.colour = ReadColour(r);
    if (!r.Ok())
        return false;
    pen.cosmetic = pen.width == 0;
    m_Canvas.Objects().Store(index, pen);
    return true;
}

bool EmfRenderer::ExtCreatePen(MetafileRecordReader& r)
{
    const std::uint32_t index = r.U32();
    r.Skip(16); // a pattern bitmap for the pen's brush: drawn with the pen's colour instead
    MetafilePen pen;
    pen.style = r.U32();
    pen.width = r.U32();
    const std::uint32_t brushStyle = r.U32();
    pen.colour = ReadColour(r);
    r.U32(); // hatch
    const std::uint32_t entries = r.U32();
    if (!r.Ok())
        return false;
    if ((pen.style & Gdi::PS_STYLE_MASK) == Gdi::PS_USERSTYLE && r.HasItems(entries, 4))
        for (std::uint32_t i = 0; i < entries && i < 16; ++i)
            pen.dashes.push_back(r.U32());
    pen.cosmetic = (pen.style & Gdi::PS_GEOMETRIC) == 0 || pen.width == 0;
    if (brushStyle == std::uint32_t(Gdi::BS_NULL))
        pen.style = (pen.style & ~Gdi::PS_STYLE_MASK) | Gdi::PS_NULL;
    m_Canvas.Objects().Store(index, pen);
    return true;
}

bool EmfRenderer::CreateFont(MetafileRecordReader& r)
{
    const std::uint32_t index = r.U32();
    MetafileFont font;
    font.height = r.I32();
    font.width = r.I32();
    font.escapement = r.I32();
    r.I32(); // orientation
    font.weight = r.I32();
    font.italic = r.U8() != 0;
    font.underline = r.U8() != 0;
    font.strikeOut = r.U8() != 0;
    font.charSet = r.U8();
    r.Skip(4); // precisions, quality, pitch and family
    for (int i = 0; i < 32 && r.Ok(); ++i) {
        const char16_t ch = r.U16();
        if (ch == 0)
            break;
        font.face.append(QChar(ch));
    }
    if (!r.Ok())
        return false;
    m_Canvas.Objects().Store(index, font);
    return true;
}

bool EmfRenderer::ExtTextOut(MetafileRecordReader& r, bool wide)
{
    r.Skip(16 + 12); // bounds, graphics mode, x and y scales
    MetafileTextRun run;
    run.reference = r.Point32();
    const std::uint32_t chars = r.U32();
    const std::uint32_t offString = r.U32();
    run.options = r.U32();
    const QRectF rect = r.Rect32();
    const std::uint32_t offDx = r.U32();
    if (!r.Ok())
        return false;
    const QByteArrayView text = chars ? r.Slice(offString, std::uint64_t(chars) * (wide ? 2 : 1)) : QByteArrayView();
    if (!r.Ok())
        return false;
    if (run.options & (Gdi::ETO_OPAQUE | Gdi::ETO_CLIPPED))
        run.rect = rect;
    if (!(run.options & ETO_GLYPH_INDEX)) { // glyph numbers of a font we do not have: not drawn
        if (wide)
            run.text = Utf16Le(text);
        else
            run.text = DecodeAnsiText(text.data(), text.size(), m_Canvas.Dc().font.charSet);
    }
    const std::uint64_t perChar = (run.options & ETO_PDY) ? 2 : 1;
    if (offDx != 0 && chars > 0) {
        MetafileRecordReader dx(r.Slice(offDx, std::uint64_t(chars) * perChar * 4));
        if (r.Ok()) {
            for (std::uint32_t i = 0; i < chars; ++i) {
                run.advances.push_back(dx.I32());
                if (perChar == 2)
                    dx.I32();
            }
        } else {
            return false;
        }
    }
    if (run.text.isEmpty())
        run.advances.clear();
    m_Canvas.DrawText(std::move(run));
    return true;
}

bool EmfRenderer::SmallTextOut(MetafileRecordReader& r)
{
    MetafileTextRun run;
    run.reference = r.Point32();
    const std::uint32_t chars = r.U32();
    run.options = r.U32();
    r.Skip(12); // graphics mode, scales
    if (!(run.options & ETO_NO_RECT))
        run.rect = r.Rect32();
    const bool small = (run.options & ETO_SMALL_CHARS) != 0;
    const QByteArrayView text = r.Slice(std::uint64_t(r.Position()), std::uint64_t(chars) * (small ? 1 : 2));
    if (!r.Ok())
        return false;
    if (!(run.options & ETO_GLYPH_INDEX))
        run.text = small ? QString::fromLatin1(text.data(), text.size()) : Utf16Le(text);
    m_Canvas.DrawText(std::move(run));
    return true;
}
