#include "imaging/WmfRenderer.h"

#include "imaging/MetafileCanvas.h"
#include "imaging/MetafileRecordReader.h"
#include "imaging/WmfRecords.h"

using namespace Meta;

namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;

/// Records that may sit between a plain metafile's SETWINDOWEXT and its first drawing without
/// ending the search for its window origin.
bool IsSetupRecord(std::uint16_t function)
{
    switch (function) {
    case SETWINDOWORG:
    case SETMAPMODE:
    case SETBKMODE:
    case SETBKCOLOR:
    case SETTEXTCOLOR:
    case SETROP2:
    case SETPOLYFILLMODE:
    case SETTEXTALIGN:
    case SETMAPPERFLAGS:
    case SETSTRETCHBLTMODE:
    case ESCAPE:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<WmfHeader> ReadWmfHeader(QByteArrayView bytes)
{
    MetafileRecordReader r(bytes);
    WmfHeader header;
    if (r.U32() == kPlaceableKey) {
        r.U16(); // handle
        const double left = r.I16(), top = r.I16(), right = r.I16(), bottom = r.I16();
        const int inch = r.U16();
        r.Skip(6); // reserved, checksum
        if (!r.Ok() || inch == 0)
            return std::nullopt;
        header.placeable = true;
        header.frame = QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
        if (header.frame.isEmpty())
            return std::nullopt;
        header.windowOrg = header.frame.topLeft();
        header.windowExt = header.frame.size();
        header.unitsPerInch = inch;
        header.recordsOffset = 22;
    }
    r.Seek(header.recordsOffset);
    const std::uint16_t type = r.U16();
    const std::uint16_t headerWords = r.U16();
    r.Skip(14); // version, size, objects, largest record, parameters
    if (!r.Ok() || (type != 1 && type != 2) || headerWords != 9)
        return std::nullopt;
    header.recordsOffset += 18;
    if (header.placeable)
        return header;

    // A plain metafile is as large as the window its first records set.
    bool haveExtent = false;
    while (r.Remaining() >= 6) {
        const qsizetype at = r.Position();
        const std::uint32_t words = r.U32();
        const std::uint16_t function = r.U16();
        if (!r.Ok() || words < 3 || words > std::uint64_t(r.Remaining() + 6) / 2 || function == EOF_)
            break;
        if (haveExtent && !IsSetupRecord(function))
            break;
        if (function == SETWINDOWORG || function == SETWINDOWEXT) {
            const QPointF p = ReversedPoint(r);
            if (!r.Ok())
                break;
            if (function == SETWINDOWORG) {
                header.windowOrg = p;
            } else if (p.x() != 0 && p.y() != 0) {
                header.windowExt = QSizeF(p.x(), p.y());
                haveExtent = true;
            }
        }
        r.Seek(at + qsizetype(words) * 2);
    }
    if (haveExtent)
        header.frame = QRectF(header.windowOrg, header.windowExt).normalized();
    return header;
}

bool WmfRenderer::Play()
{
    m_Canvas.SetMapMode(Gdi::MM_ANISOTROPIC);
    m_Canvas.SetWindowOrg(m_Header.windowOrg);
    m_Canvas.SetWindowExt(m_Header.windowExt);
    m_Canvas.SetViewportOrg(m_Header.frame.topLeft());
    m_Canvas.SetViewportExt(m_Header.frame.size());
    MetafileRecordReader file(m_Bytes);
    if (!file.Seek(m_Header.recordsOffset))
        return false;
    while (file.Remaining() > 0) {
        const qsizetype at = file.Position();
        const std::uint32_t words = file.U32();
        const std::uint16_t function = file.U16();
        if (!file.Ok() || words < 3 || words > std::uint64_t(m_Bytes.size() - at) / 2)
            return false;
        if (function == EOF_)
            return true;
        MetafileRecordReader record(m_Bytes.sliced(at, qsizetype(words) * 2));
        record.Skip(6);
        if (!PlayRecord(function, record))
            return false;
        file.Seek(at + qsizetype(words) * 2);
    }
    return true;
}

void WmfRenderer::Select(std::uint16_t index)
{
    const MetafileObject* object = m_Canvas.Objects().Find(index);
    if (!object)
        return;
    if (const auto* region = std::get_if<MetafileRegion>(object))
        m_Canvas.SelectLogicalClipRegion(region->region, Gdi::RGN_COPY); // selecting a region clips
    else
        m_Canvas.SelectObject(*object);
}

bool WmfRenderer::PlayRecord(std::uint16_t function, MetafileRecordReader& r)
{
    static const RecordTable table{MappingRecords(), StateRecords(), ObjectRecords(), DrawingRecords()};
    return table.Play(*this, function, r);
}

// The handlers below read their parameters and hand them to the canvas. Those that end in r.Ok()
// refuse a record too short for its parameters. SETMAPMODE has no row: the frame decides the
// mapping (see the header).

WmfRenderer::RecordTable::Rows WmfRenderer::MappingRecords()
{
    using R = MetafileRecordReader;
    using W = WmfRenderer;
    const RecordTable::Handler extent = [](W& w, Function f, R& r) { return w.SetExtent(f, r); };
    const RecordTable::Handler scale = [](W& w, Function f, R& r) { return w.ScaleExtent(f, r); };
    return {
        {SETWINDOWORG, [](W& w, Function, R& r) { w.m_Canvas.SetWindowOrg(ReversedPoint(r)); return r.Ok(); }},
        {SETVIEWPORTORG, [](W& w, Function, R& r) { w.m_Canvas.SetViewportOrg(ReversedPoint(r)); return r.Ok(); }},
        {SETWINDOWEXT, extent},
        {SETVIEWPORTEXT, extent},
        {OFFSETWINDOWORG,
         [](W& w, Function, R& r) {
             w.m_Canvas.SetWindowOrg(w.m_Canvas.Dc().windowOrg + ReversedPoint(r));
             return r.Ok();
         }},
        {OFFSETVIEWPORTORG,
         [](W& w, Function, R& r) {
             w.m_Canvas.SetViewportOrg(w.m_Canvas.Dc().viewportOrg + ReversedPoint(r));
             return r.Ok();
         }},
        {SCALEWINDOWEXT, scale},
        {SCALEVIEWPORTEXT, scale},
    };
}

WmfRenderer::RecordTable::Rows WmfRenderer::StateRecords()
{
    using R = MetafileRecordReader;
    using W = WmfRenderer;
    const RecordTable::Handler clipRect = [](W& w, Function f, R& r) { return w.ClipRect(f, r); };
    const RecordTable::Handler region = [](W& w, Function f, R& r) { return w.RegionRecord(f, r); };
    return {
        {SETBKCOLOR, [](W& w, Function, R& r) { w.m_Canvas.Dc().bkColour = ColorFromRef(r.U32()); return r.Ok(); }},
        {SETBKMODE, [](W& w, Function, R& r) { w.m_Canvas.Dc().bkMode = r.U16(); return r.Ok(); }},
        {SETROP2, [](W& w, Function, R& r) { w.m_Canvas.Dc().rop2 = r.U16(); return r.Ok(); }},
        {SETPOLYFILLMODE, [](W& w, Function, R& r) { w.m_Canvas.Dc().polyFillMode = r.U16(); return r.Ok(); }},
        {SETTEXTALIGN, [](W& w, Function, R& r) { w.m_Canvas.Dc().textAlign = r.U16(); return r.Ok(); }},
        {SETTEXTCOLOR, [](W& w, Function, R& r) { w.m_Canvas.Dc().textColour = ColorFromRef(r.U32()); return r.Ok(); }},
        {SAVEDC, [](W& w, Function, R& r) { w.m_Canvas.SaveDc(); return r.Ok(); }},
        {RESTOREDC, [](W& w, Function, R& r) { w.m_Canvas.RestoreDc(r.I16()); return r.Ok(); }},
        {EXCLUDECLIPRECT, clipRect},
        {INTERSECTCLIPRECT, clipRect},
        {OFFSETCLIPRGN, [](W& w, Function, R& r) { w.m_Canvas.OffsetClip(ReversedPoint(r)); return r.Ok(); }},
        {SELECTCLIPREGION, region},
        {FILLREGION, region},
        {FRAMEREGION, region},
        {INVERTREGION, region},
        {PAINTREGION, region},
    };
}

WmfRenderer::RecordTable::Rows WmfRenderer::ObjectRecords()
{
    using R = MetafileRecordReader;
    using W = WmfRenderer;
    const RecordTable::Handler patternBrush = [](W& w, Function f, R& r) { return w.CreatePatternBrush(f, r); };
    return {
        {SELECTOBJECT, [](W& w, Function, R& r) { w.Select(r.U16()); return r.Ok(); }},
        {DELETEOBJECT, [](W& w, Function, R& r) { w.m_Canvas.Objects().Delete(r.U16()); return r.Ok(); }},
        {CREATEPALETTE,
         [](W& w, Function, R& r) {
             w.m_Canvas.Objects().StoreInFreeEntry(MetafilePalette{});
             return r.Ok();
         }},
        {CREATEPENINDIRECT, [](W& w, Function, R& r) { return w.CreatePen(r); }},
        {CREATEBRUSHINDIRECT, [](W& w, Function, R& r) { return w.CreateBrush(r); }},
        {DIBCREATEPATTERNBRUSH, patternBrush},
        {CREATEPATTERNBRUSH, patternBrush},
        {CREATEFONTINDIRECT, [](W& w, Function, R& r) { return w.CreateFont(r); }},
        {CREATEREGION, [](W& w, Function, R& r) { return w.CreateRegion(r); }},
    };
}

WmfRenderer::RecordTable::Rows WmfRenderer::DrawingRecords()
{
    using R = MetafileRecordReader;
    using W = WmfRenderer;
    const RecordTable::Handler arc = [](W& w, Function f, R& r) { return w.ArcRecord(f, r); };
    const RecordTable::Handler box = [](W& w, Function f, R& r) { return w.BoxRecord(f, r); };
    const RecordTable::Handler poly = [](W& w, Function f, R& r) { return w.Poly(f, r); };
    const RecordTable::Handler bitmap = [](W& w, Function f, R& r) { return w.Bitmap(f, r); };
    return {
        {LINETO, [](W& w, Function, R& r) { w.m_Canvas.LineTo(ReversedPoint(r)); return r.Ok(); }},
        {MOVETO, [](W& w, Function, R& r) { w.m_Canvas.MoveTo(ReversedPoint(r)); return r.Ok(); }},
        {ARC, arc},
        {PIE, arc},
        {CHORD, arc},
        {ELLIPSE, box},
        {RECTANGLE, box},
        {ROUNDRECT, [](W& w, Function, R& r) { return w.RoundRect(r); }},
        {PATBLT, [](W& w, Function, R& r) { return w.PatBlt(r); }},
        {SETPIXEL, [](W& w, Function, R& r) { return w.SetPixel(r); }},
        {TEXTOUT, [](W& w, Function, R& r) { return w.TextOut(r); }},
        {EXTTEXTOUT, [](W& w, Function, R& r) { return w.ExtTextOut(r); }},
        {POLYGON, poly},
        {POLYLINE, poly},
        {POLYPOLYGON, [](W& w, Function, R& r) { return w.PolyPolygon(r); }},
        {BITBLT, bitmap},
        {STRETCHBLT, bitmap},
        {DIBBITBLT, bitmap},
        {DIBSTRETCHBLT, bitmap},
        {STRETCHDIB, bitmap},
        {SETDIBTODEV, bitmap},
    };
}

bool WmfRenderer::SetExtent(std::uint16_t function, MetafileRecordReader& r)
{
    const QPointF e = ReversedPoint(r);
    if (function == SETWINDOWEXT)
        m_Canvas.SetWindowExt(QSizeF(e.x(), e.y()));
    else
        m_Canvas.SetViewportExt(QSizeF(e.x(), e.y()));
    return r.Ok();
}

bool WmfRenderer::ScaleExtent(std::uint16_t function, MetafileRecordReader& r)
{
    const double yDenom = r.I16(), yNum = r.I16(), xDenom = r.I16(), xNum = r.I16();
    if (!r.Ok())
        return false;
    if (function == SCALEWINDOWEXT)
        m_Canvas.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
    else
        m_Canvas.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
    return r.Ok();
}

bool WmfRenderer::ClipRect(std::uint16_t function, MetafileRecordReader& r)
{
    const QRectF rect = ReversedRect(r);
    if (!r.Ok())
        return false;
    if (function == EXCLUDECLIPRECT)
        m_Canvas.ExcludeClipRect(rect);
    else
        m_Canvas.IntersectClipRect(rect);
    return r.Ok();
}

bool WmfRenderer::ArcRecord(std::uint16_t function, MetafileRecordReader& r)
{
    const QPointF end = ReversedPoint(r), start = ReversedPoint(r);
    const QRectF box = ReversedRect(r);
    if (!r.Ok())
        return false;
    m_Canvas.Arc(function == ARC   ? MetafileCanvas::ArcKind::Arc
                 : function == PIE ? MetafileCanvas::ArcKind::Pie
                                   : MetafileCanvas::ArcKind::Chord,
                 box, start, end);
    return r.Ok();
}

bool WmfRenderer::BoxRecord(std::uint16_t function, MetafileRecordReader& r)
{
    const QRectF box = ReversedRect(r);
    if (!r.Ok())
        return false;
    if (function == ELLIPSE)
        m_Canvas.Ellipse(box);
    else
        m_Canvas.Rectangle(box);
    return r.Ok();
}

bool WmfRenderer::RoundRect(MetafileRecordReader& r)
{
    const double h = r.I16(), w = r.I16();
    const QRectF box = ReversedRect(r);
    if (!r.Ok())
        return false;
    m_Canvas.RoundRect(box, QSizeF(w, h));
    return r.Ok();
}

bool WmfRenderer::PatBlt(MetafileRecordReader& r)
{
    const std::uint32_t rop = r.U32();
    const double h = r.I16(), w = r.I16();
    const QPointF p = ReversedPoint(r);
    if (!r.Ok())
        return false;
    m_Canvas.PatBlt(QRectF(p, QSizeF(w, h)), rop);
    return r.Ok();
}

bool WmfRenderer::SetPixel(MetafileRecordReader& r)
{
    const QColor colour = ColorFromRef(r.U32());
    const QPointF p = ReversedPoint(r);
    if (!r.Ok())
        return false;
    m_Canvas.SetPixel(p, colour);
    return r.Ok();
}

bool WmfRenderer::CreatePen(MetafileRecordReader& r)
{
    MetafilePen pen;
    pen.style = r.U16();
    pen.width = r.I16();
    r.I16(); // the y of the width is not used
    pen.colour = ColorFromRef(r.U32());
    if (!r.Ok())
        return false;
    pen.cosmetic = pen.width == 0;
    m_Canvas.Objects().StoreInFreeEntry(pen);
    return r.Ok();
}

bool WmfRenderer::CreateBrush(MetafileRecordReader& r)
{
    MetafileBrush brush;
    brush.style = r.U16();
    brush.colour = ColorFromRef(r.U32());
    brush.hatch = r.U16();
    if (!r.Ok())
        return false;
    m_Canvas.Objects().StoreInFreeEntry(brush);
    return r.Ok();
}

bool WmfRenderer::Poly(std::uint16_t function, MetafileRecordReader& r)
{
    const int count = r.I16();
    if (!r.Ok() || count < 0 || !r.HasItems(std::uint32_t(count), 4))
        return false;
    QPolygonF points;
    points.reserve(count);
    for (int i = 0; i < count; ++i)
        points.append(r.Point16());
    if (function == POLYGON)
        m_Canvas.Polygon(points);
    else
        m_Canvas.Polyline(points);
    return true;
}

bool WmfRenderer::PolyPolygon(MetafileRecordReader& r)
{
    const std::uint16_t polygons = r.U16();
    if (!r.Ok() || !r.HasItems(polygons, 2))
        return false;
    std::vector<std::uint16_t> counts(polygons);
    std::uint64_t total = 0;
    for (std::uint16_t& n : counts) {
        n = r.U16();
        total += n;
    }
    if (!r.HasItems(total, 4))
        return false;
    std::vector<QPolygonF> shapes(polygons);
    for (size_t i = 0; i < counts.size(); ++i)
        for (std::uint16_t k = 0; k < counts[i]; ++k)
            shapes[i].append(r.Point16());
    m_Canvas.PolyPolygon(shapes);
    return true;
}

bool WmfRenderer::TextOut(MetafileRecordReader& r)
{
    const int length = r.I16();
    if (!r.Ok() || length < 0)
        return false;
    const QByteArrayView bytes = r.Slice(std::uint64_t(r.Position()), std::uint64_t(length));
    r.Skip((length + 1) / 2 * 2); // the string is padded to whole words
    MetafileTextRun run;
    run.reference = ReversedPoint(r);
    if (!r.Ok())
        return false;
    run.text = DecodeAnsiText(bytes.data(), bytes.size(), m_Canvas.Dc().font.charSet);
    m_Canvas.DrawText(std::move(run));
    return true;
}

bool WmfRenderer::ExtTextOut(MetafileRecordReader& r)
{
    MetafileTextRun run;
    run.reference = ReversedPoint(r);
    const int length = r.I16();
    run.options = r.U16();
    if (!r.Ok() || length < 0)
        return false;
    if (run.options & (Gdi::ETO_OPAQUE | Gdi::ETO_CLIPPED)) {
        const double l = r.I16(), t = r.I16(), rt = r.I16(), b = r.I16();
        run.rect = QRectF(QPointF(l, t), QPointF(rt, b));
    }
    const QByteArrayView bytes = r.Slice(std::uint64_t(r.Position()), std::uint64_t(length));
    r.Skip((length + 1) / 2 * 2);
    if (!r.Ok())
        return false;
    run.text = DecodeAnsiText(bytes.data(), bytes.size(), m_Canvas.Dc().font.charSet);
    if (length > 0 && r.HasItems(std::uint32_t(length), 2))
        for (int i = 0; i < length; ++i)
            run.advances.push_back(r.I16());
    m_Canvas.DrawText(std::move(run));
    return true;
}

