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
    MetafileCanvas& c = m_Canvas;
    MetafileDcState& dc = c.Dc();
    switch (function) {
    case SETBKCOLOR:
        dc.bkColour = ColorFromRef(r.U32());
        break;
    case SETBKMODE:
        dc.bkMode = r.U16();
        break;
    case SETROP2:
        dc.rop2 = r.U16();
        break;
    case SETPOLYFILLMODE:
        dc.polyFillMode = r.U16();
        break;
    case SETTEXTALIGN:
        dc.textAlign = r.U16();
        break;
    case SETTEXTCOLOR:
        dc.textColour = ColorFromRef(r.U32());
        break;
    case SETWINDOWORG:
        c.SetWindowOrg(ReversedPoint(r));
        break;
    case SETVIEWPORTORG:
        c.SetViewportOrg(ReversedPoint(r));
        break;
    case SETWINDOWEXT:
    case SETVIEWPORTEXT: {
        const QPointF e = ReversedPoint(r);
        if (function == SETWINDOWEXT)
            c.SetWindowExt(QSizeF(e.x(), e.y()));
        else
            c.SetViewportExt(QSizeF(e.x(), e.y()));
        break;
    }
    case OFFSETWINDOWORG:
        c.SetWindowOrg(dc.windowOrg + ReversedPoint(r));
        break;
    case OFFSETVIEWPORTORG:
        c.SetViewportOrg(dc.viewportOrg + ReversedPoint(r));
        break;
    case SCALEWINDOWEXT:
    case SCALEVIEWPORTEXT: {
        const double yDenom = r.I16(), yNum = r.I16(), xDenom = r.I16(), xNum = r.I16();
        if (!r.Ok())
            return false;
        if (function == SCALEWINDOWEXT)
            c.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
        else
            c.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
        break;
    }
    case LINETO:
        c.LineTo(ReversedPoint(r));
        break;
    case MOVETO:
        c.MoveTo(ReversedPoint(r));
        break;
    case EXCLUDECLIPRECT:
    case INTERSECTCLIPRECT: {
        const QRectF rect = ReversedRect(r);
        if (!r.Ok())
            return false;
        if (function == EXCLUDECLIPRECT)
            c.ExcludeClipRect(rect);
        else
            c.IntersectClipRect(rect);
        break;
    }
    case OFFSETCLIPRGN:
        c.OffsetClip(ReversedPoint(r));
        break;
    case ARC:
    case PIE:
    case CHORD: {
        const QPointF end = ReversedPoint(r), start = ReversedPoint(r);
        const QRectF box = ReversedRect(r);
        if (!r.Ok())
            return false;
        c.Arc(function == ARC ? MetafileCanvas::ArcKind::Arc
              : function == PIE ? MetafileCanvas::ArcKind::Pie
                                : MetafileCanvas::ArcKind::Chord,
              box, start, end);
        break;
    }
    case ELLIPSE:
    case RECTANGLE: {
        const QRectF box = ReversedRect(r);
        if (!r.Ok())
            return false;
        if (function == ELLIPSE)
            c.Ellipse(box);
        else
            c.Rectangle(box);
        break;
    }
    case ROUNDRECT: {
        const double h = r.I16(), w = r.I16();
        const QRectF box = ReversedRect(r);
        if (!r.Ok())
            return false;
        c.RoundRect(box, QSizeF(w, h));
        break;
    }
    case PATBLT: {
        const std::uint32_t rop = r.U32();
        const double h = r.I16(), w = r.I16();
        const QPointF p = ReversedPoint(r);
        if (!r.Ok())
            return false;
        c.PatBlt(QRectF(p, QSizeF(w, h)), rop);
        break;
    }
    case SAVEDC:
        c.SaveDc();
        break;
    case RESTOREDC:
        c.RestoreDc(r.I16());
        break;
    case SETPIXEL: {
        const QColor colour = ColorFromRef(r.U32());
        const QPointF p = ReversedPoint(r);
        if (!r.Ok())
            return false;
        c.SetPixel(p, colour);
        break;
    }
    case TEXTOUT:
        return TextOut(r);
    case EXTTEXTOUT:
        return ExtTextOut(r);
    case POLYGON:
    case POLYLINE:
        return Poly(function, r);
    case POLYPOLYGON:
        return PolyPolygon(r);
    case SELECTOBJECT:
        Select(r.U16());
        break;
    case SELECTCLIPREGION:
    case FILLREGION:
    case FRAMEREGION:
    case INVERTREGION:
    case PAINTREGION:
        return RegionRecord(function, r);
    case DELETEOBJECT:
        c.Objects().Delete(r.U16());
        break;
    case CREATEPALETTE:
        c.Objects().StoreInFreeEntry(MetafilePalette{});
        break;
    case CREATEPENINDIRECT: {
        MetafilePen pen;
        pen.style = r.U16();
        pen.width = r.I16();
        r.I16(); // the y of the width is not used
        pen.colour = ColorFromRef(r.U32());
        if (!r.Ok())
            return false;
        pen.cosmetic = pen.width == 0;
        c.Objects().StoreInFreeEntry(pen);
        break;
    }
    case CREATEBRUSHINDIRECT: {
        MetafileBrush brush;
        brush.style = r.U16();
        brush.colour = ColorFromRef(r.U32());
        brush.hatch = r.U16();
        if (!r.Ok())
            return false;
        c.Objects().StoreInFreeEntry(brush);
        break;
    }
    case DIBCREATEPATTERNBRUSH:
    case CREATEPATTERNBRUSH:
        return CreatePatternBrush(function, r);
    case CREATEFONTINDIRECT:
        return CreateFont(r);
    case CREATEREGION:
        return CreateRegion(r);
    case BITBLT:
    case STRETCHBLT:
    case DIBBITBLT:
    case DIBSTRETCHBLT:
    case STRETCHDIB:
    case SETDIBTODEV:
        return Bitmap(function, r);
    case SETMAPMODE: // see the header: the frame decides the mapping
    default:
        return true;
    }
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

