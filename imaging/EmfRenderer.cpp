#include "imaging/EmfRenderer.h"

#include "imaging/EmfRecords.h"
#include "imaging/MetafileCanvas.h"
#include "imaging/MetafileRecordReader.h"

#include <cmath>

using namespace Emr;

namespace {

constexpr double kDefaultDevicePerMillimetre = 96.0 / 25.4;

/// The rectangles of a RGNDATA structure of cb bytes at the reader's position.
std::optional<std::vector<QRect>> ReadRegionData(MetafileRecordReader& r, std::uint32_t cb)
{
    const qsizetype start = r.Position();
    r.U32(); // header size
    r.U32(); // type
    const std::uint32_t count = r.U32();
    r.Skip(20); // region size, bounds
    if (!r.Ok() || cb < 32 || count > (cb - 32) / 16 || !r.HasItems(count, 16))
        return std::nullopt;
    std::vector<QRect> rects;
    rects.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        rects.push_back(ToRegionRect(r.Rect32()));
    r.Seek(start + qsizetype(cb));
    return r.Ok() ? std::optional(std::move(rects)) : std::nullopt;
}

/// An extent stored as a point (cx, cy).
QSizeF ReadSize(MetafileRecordReader& r)
{
    const QPointF e = r.Point32();
    return QSizeF(e.x(), e.y());
}

} // namespace

QSizeF EmfHeader::DevicePerMillimetre() const
{
    const double x = devicePixels.width() / deviceMillimetres.width();
    const double y = devicePixels.height() / deviceMillimetres.height();
    if (std::isfinite(x) && std::isfinite(y) && x > 0 && y > 0)
        return {x, y};
    return {kDefaultDevicePerMillimetre, kDefaultDevicePerMillimetre};
}

QRectF EmfHeader::DeviceFrame() const
{
    const QSizeF d = DevicePerMillimetre();
    return QRectF(QPointF(frame.left() * d.width() / 100.0, frame.top() * d.height() / 100.0),
                  QPointF(frame.right() * d.width() / 100.0, frame.bottom() * d.height() / 100.0));
}

std::optional<EmfHeader> ReadEmfHeader(QByteArrayView bytes)
{
    MetafileRecordReader r(bytes);
    const std::uint32_t type = r.U32();
    const std::uint32_t size = r.U32();
    if (!r.Ok() || type != HEADER || size < 88 || size > std::uint64_t(bytes.size()))
        return std::nullopt;
    EmfHeader header;
    header.bounds = r.Rect32();
    header.frame = r.Rect32();
    r.Skip(12); // signature, version, file size
    r.U32();    // record count
    header.handles = r.U16();
    r.U16();
    const std::uint32_t descriptionChars = r.U32();
    const std::uint32_t descriptionOffset = r.U32();
    r.U32(); // palette entries
    const double devX = r.I32(), devY = r.I32();
    const double mmX = r.I32(), mmY = r.I32();
    if (!r.Ok())
        return std::nullopt;
    header.devicePixels = QSizeF(devX, devY);
    header.deviceMillimetres = QSizeF(mmX, mmY);
    // Later writers add the size in micrometres (more exact) after the pixel-format fields,
    // unless the description string starts where those fields would be.
    const bool hasExtensions = size >= 108 && (descriptionChars == 0 || descriptionOffset >= 108);
    if (hasExtensions && r.Seek(100)) {
        const double umX = r.I32(), umY = r.I32();
        if (r.Ok() && umX > 0 && umY > 0)
            header.deviceMillimetres = QSizeF(umX / 1000.0, umY / 1000.0);
    }
    if (header.frame.width() <= 0 || header.frame.height() <= 0) {
        const QSizeF d = header.DevicePerMillimetre();
        const QRectF& b = header.bounds;
        header.frame = QRectF(QPointF(b.left() * 100.0 / d.width(), b.top() * 100.0 / d.height()),
                              QPointF((b.right() + 1) * 100.0 / d.width(), (b.bottom() + 1) * 100.0 / d.height()));
        if (!(header.frame.width() > 0) || !(header.frame.height() > 0))
            return std::nullopt;
    }
    return header;
}

bool EmfRenderer::Play()
{
    MetafileRecordReader file(m_Bytes);
    bool first = true;
    while (file.Remaining() > 0) {
        const qsizetype at = file.Position();
        const std::uint32_t type = file.U32();
        const std::uint32_t size = file.U32();
        if (!file.Ok() || size < 8 || size > std::uint64_t(m_Bytes.size() - at))
            return false;
        if (type == EOF_)
            return true;
        MetafileRecordReader record(m_Bytes.sliced(at, size));
        record.Skip(8);
        if (!(first && type == HEADER) && !PlayRecord(type, record))
            return false;
        first = false;
        file.Seek(at + qsizetype(size));
    }
    return true;
}

bool EmfRenderer::PlayRecord(std::uint32_t type, MetafileRecordReader& r)
{
    static const RecordTable table{MappingRecords(), StateRecords(), ClipAndPathRecords(), ObjectRecords(),
                                   DrawingRecords()};
    return table.Play(*this, type, r);
}

// The handlers below read their parameters and hand them to the canvas. Those that end in r.Ok()
// refuse a record too short for its parameters; those that return true pass over one.

EmfRenderer::RecordTable::Rows EmfRenderer::MappingRecords()
{
    using R = MetafileRecordReader;
    using E = EmfRenderer;
    return {
        {SETWINDOWEXTEX, [](E& e, Type, R& r) { e.m_Canvas.SetWindowExt(ReadSize(r)); return r.Ok(); }},
        {SETWINDOWORGEX, [](E& e, Type, R& r) { e.m_Canvas.SetWindowOrg(r.Point32()); return r.Ok(); }},
        {SETVIEWPORTEXTEX, [](E& e, Type, R& r) { e.m_Canvas.SetViewportExt(ReadSize(r)); return r.Ok(); }},
        {SETVIEWPORTORGEX, [](E& e, Type, R& r) { e.m_Canvas.SetViewportOrg(r.Point32()); return r.Ok(); }},
        {SCALEVIEWPORTEXTEX, [](E& e, Type t, R& r) { return e.ScaleExtent(t, r); }},
        {SCALEWINDOWEXTEX, [](E& e, Type t, R& r) { return e.ScaleExtent(t, r); }},
        {SETMAPMODE, [](E& e, Type, R& r) { e.m_Canvas.SetMapMode(int(r.U32())); return r.Ok(); }},
        {SETWORLDTRANSFORM, [](E& e, Type, R& r) { return e.SetWorldTransform(r); }},
        {MODIFYWORLDTRANSFORM, [](E& e, Type, R& r) { return e.ModifyWorldTransform(r); }},
    };
}

EmfRenderer::RecordTable::Rows EmfRenderer::StateRecords()
{
    using R = MetafileRecordReader;
    using E = EmfRenderer;
    return {
        {SETBKMODE, [](E& e, Type, R& r) { e.m_Canvas.Dc().bkMode = int(r.U32()); return r.Ok(); }},
        {SETPOLYFILLMODE, [](E& e, Type, R& r) { e.m_Canvas.Dc().polyFillMode = int(r.U32()); return r.Ok(); }},
        {SETROP2, [](E& e, Type, R& r) { e.m_Canvas.Dc().rop2 = int(r.U32()); return r.Ok(); }},
        {SETTEXTALIGN, [](E& e, Type, R& r) { e.m_Canvas.Dc().textAlign = r.U32(); return r.Ok(); }},
        {SETTEXTCOLOR, [](E& e, Type, R& r) { e.m_Canvas.Dc().textColour = ReadColour(r); return r.Ok(); }},
        {SETBKCOLOR, [](E& e, Type, R& r) { e.m_Canvas.Dc().bkColour = ReadColour(r); return r.Ok(); }},
        {SETARCDIRECTION, [](E& e, Type, R& r) { e.m_Canvas.Dc().arcDirection = int(r.U32()); return r.Ok(); }},
        {SAVEDC, [](E& e, Type, R& r) { e.m_Canvas.SaveDc(); return r.Ok(); }},
        {RESTOREDC, [](E& e, Type, R& r) { e.m_Canvas.RestoreDc(r.I32()); return r.Ok(); }},
    };
}

EmfRenderer::RecordTable::Rows EmfRenderer::ClipAndPathRecords()
{
    using R = MetafileRecordReader;
    using E = EmfRenderer;
    const RecordTable::Handler region = [](E& e, Type t, R& r) { return e.RegionRecord(t, r); };
    return {
        {OFFSETCLIPRGN, [](E& e, Type, R& r) { e.m_Canvas.OffsetClip(r.Point32()); return r.Ok(); }},
        {EXCLUDECLIPRECT, [](E& e, Type t, R& r) { return e.ClipRect(t, r); }},
        {INTERSECTCLIPRECT, [](E& e, Type t, R& r) { return e.ClipRect(t, r); }},
        {SELECTCLIPPATH, [](E& e, Type, R& r) { e.m_Canvas.SelectClipPath(int(r.U32())); return r.Ok(); }},
        {BEGINPATH, [](E& e, Type, R& r) { e.m_Canvas.BeginPath(); return r.Ok(); }},
        {ENDPATH, [](E& e, Type, R& r) { e.m_Canvas.EndPath(); return r.Ok(); }},
        {CLOSEFIGURE, [](E& e, Type, R& r) { e.m_Canvas.CloseFigure(); return r.Ok(); }},
        {ABORTPATH, [](E& e, Type, R& r) { e.m_Canvas.AbortPath(); return r.Ok(); }},
        {FILLPATH, [](E& e, Type, R& r) { e.m_Canvas.FillPath(); return r.Ok(); }},
        {STROKEPATH, [](E& e, Type, R& r) { e.m_Canvas.StrokePath(); return r.Ok(); }},
        {STROKEANDFILLPATH, [](E& e, Type, R& r) { e.m_Canvas.StrokeAndFillPath(); return r.Ok(); }},
        {FILLRGN, region},
        {FRAMERGN, region},
        {INVERTRGN, region},
        {PAINTRGN, region},
        {EXTSELECTCLIPRGN, region},
    };
}

EmfRenderer::RecordTable::Rows EmfRenderer::ObjectRecords()
{
    using R = MetafileRecordReader;
    using E = EmfRenderer;
    const RecordTable::Handler patternBrush = [](E& e, Type, R& r) { return e.CreatePatternBrush(r); };
    return {
        {SELECTOBJECT, [](E& e, Type, R& r) { e.SelectObject(r.U32()); return r.Ok(); }},
        {DELETEOBJECT, [](E& e, Type, R& r) { e.m_Canvas.Objects().Delete(r.U32()); return r.Ok(); }},
        {CREATEPEN, [](E& e, Type, R& r) { return e.CreatePen(r); }},
        {EXTCREATEPEN, [](E& e, Type, R& r) { return e.ExtCreatePen(r); }},
        {CREATEBRUSHINDIRECT, [](E& e, Type, R& r) { return e.CreateBrushIndirect(r); }},
        {CREATEMONOBRUSH, patternBrush},
        {CREATEDIBPATTERNBRUSHPT, patternBrush},
        {CREATEPALETTE,
         [](E& e, Type, R& r) {
             e.m_Canvas.Objects().Store(r.U32(), MetafilePalette{});
             return r.Ok();
         }},
        {EXTCREATEFONTINDIRECTW, [](E& e, Type, R& r) { return e.CreateFont(r); }},
    };
}

EmfRenderer::RecordTable::Rows EmfRenderer::DrawingRecords()
{
    using R = MetafileRecordReader;
    using E = EmfRenderer;
    const RecordTable::Handler polygonal = [](E& e, Type t, R& r) { return e.Polygonal(t, r, false); };
    const RecordTable::Handler polygonal16 = [](E& e, Type t, R& r) { return e.Polygonal(t, r, true); };
    const RecordTable::Handler polyPolygonal = [](E& e, Type t, R& r) { return e.PolyPolygonal(t, r, false); };
    const RecordTable::Handler polyPolygonal16 = [](E& e, Type t, R& r) { return e.PolyPolygonal(t, r, true); };
    const RecordTable::Handler arc = [](E& e, Type t, R& r) { return e.ArcRecord(t, r); };
    const RecordTable::Handler blit = [](E& e, Type t, R& r) { return e.Blit(t, r); };
    return {
        {POLYBEZIER, polygonal},
        {POLYGON, polygonal},
        {POLYLINE, polygonal},
        {POLYBEZIERTO, polygonal},
        {POLYLINETO, polygonal},
        {POLYBEZIER16, polygonal16},
        {POLYGON16, polygonal16},
        {POLYLINE16, polygonal16},
        {POLYBEZIERTO16, polygonal16},
        {POLYLINETO16, polygonal16},
        {POLYPOLYLINE, polyPolygonal},
        {POLYPOLYGON, polyPolygonal},
        {POLYPOLYLINE16, polyPolygonal16},
        {POLYPOLYGON16, polyPolygonal16},
        {SETPIXELV, [](E& e, Type, R& r) { return e.SetPixelV(r); }},
        {MOVETOEX, [](E& e, Type, R& r) { e.m_Canvas.MoveTo(r.Point32()); return r.Ok(); }},
        {LINETO, [](E& e, Type, R& r) { e.m_Canvas.LineTo(r.Point32()); return r.Ok(); }},
        {ANGLEARC, [](E& e, Type, R& r) { return e.AngleArc(r); }},
        {ELLIPSE, [](E& e, Type t, R& r) { return e.BoxRecord(t, r); }},
        {RECTANGLE, [](E& e, Type t, R& r) { return e.BoxRecord(t, r); }},
        {ROUNDRECT, [](E& e, Type, R& r) { return e.RoundRect(r); }},
        {ARC, arc},
        {CHORD, arc},
        {PIE, arc},
        {ARCTO, arc},
        {BITBLT, blit},
        {STRETCHBLT, blit},
        {MASKBLT, blit},
        {ALPHABLEND, blit},
        {TRANSPARENTBLT, blit},
        {STRETCHDIBITS, [](E& e, Type, R& r) { return e.StretchDIBits(r); }},
        {SETDIBITSTODEVICE, [](E& e, Type, R& r) { return e.SetDIBitsToDevice(r); }},
        {EXTTEXTOUTA, [](E& e, Type, R& r) { return e.ExtTextOut(r, false); }},
        {EXTTEXTOUTW, [](E& e, Type, R& r) { return e.ExtTextOut(r, true); }},
        {SMALLTEXTOUT, [](E& e, Type, R& r) { return e.SmallTextOut(r); }},
        {GRADIENTFILL, [](E& e, Type, R& r) { return e.GradientFill(r); }},
    };
}

bool EmfRenderer::ScaleExtent(std::uint32_t type, MetafileRecordReader& r)
{
    const double xNum = r.I32(), xDenom = r.I32(), yNum = r.I32(), yDenom = r.I32();
    if (!r.Ok())
        return false;
    if (type == SCALEWINDOWEXTEX)
        m_Canvas.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
    else
        m_Canvas.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
    return r.Ok();
}

bool EmfRenderer::SetWorldTransform(MetafileRecordReader& r)
{
    const QTransform xf = ReadXForm(r);
    if (r.Ok())
        m_Canvas.SetWorldTransform(xf);
    return true; // a transform that is not finite is ignored, not an error
}

bool EmfRenderer::ModifyWorldTransform(MetafileRecordReader& r)
{
    const QTransform xf = ReadXForm(r);
    const std::uint32_t mode = r.U32();
    if (r.Ok())
        m_Canvas.ModifyWorldTransform(xf, mode);
    return true;
}

bool EmfRenderer::ClipRect(std::uint32_t type, MetafileRecordReader& r)
{
    const QRectF rect = r.Rect32();
    if (!r.Ok())
        return false;
    if (type == EXCLUDECLIPRECT)
        m_Canvas.ExcludeClipRect(rect);
    else
        m_Canvas.IntersectClipRect(rect);
    return r.Ok();
}

bool EmfRenderer::CreateBrushIndirect(MetafileRecordReader& r)
{
    const std::uint32_t index = r.U32();
    MetafileBrush brush;
    brush.style = int(r.U32());
    brush.colour = ReadColour(r);
    brush.hatch = int(r.U32());
    if (!r.Ok())
        return false;
    m_Canvas.Objects().Store(index, brush);
    return r.Ok();
}

bool EmfRenderer::SetPixelV(MetafileRecordReader& r)
{
    const QPointF p = r.Point32();
    const QColor colour = ReadColour(r);
    if (r.Ok())
        m_Canvas.SetPixel(p, colour);
    return r.Ok();
}

bool EmfRenderer::AngleArc(MetafileRecordReader& r)
{
    const QPointF centre = r.Point32();
    const double radius = r.U32();
    const double start = r.F32(), sweep = r.F32();
    if (r.Ok())
        m_Canvas.AngleArc(centre, radius, start, sweep);
    return true;
}

bool EmfRenderer::BoxRecord(std::uint32_t type, MetafileRecordReader& r)
{
    const QRectF box = r.Rect32();
    if (!r.Ok())
        return false;
    if (type == ELLIPSE)
        m_Canvas.Ellipse(box);
    else
        m_Canvas.Rectangle(box);
    return r.Ok();
}

bool EmfRenderer::RoundRect(MetafileRecordReader& r)
{
    const QRectF box = r.Rect32();
    const QPointF corner = r.Point32();
    if (!r.Ok())
        return false;
    m_Canvas.RoundRect(box, QSizeF(corner.x(), corner.y()));
    return r.Ok();
}

bool EmfRenderer::ArcRecord(std::uint32_t type, MetafileRecordReader& r)
{
    const QRectF box = r.Rect32();
    const QPointF start = r.Point32(), end = r.Point32();
    if (!r.Ok())
        return false;
    if (type == ARCTO)
        m_Canvas.ArcTo(box, start, end);
    else
        m_Canvas.Arc(type == ARC     ? MetafileCanvas::ArcKind::Arc
                     : type == CHORD ? MetafileCanvas::ArcKind::Chord
                                     : MetafileCanvas::ArcKind::Pie,
                     box, start, end);
    return r.Ok();
}

bool EmfRenderer::Polygonal(std::uint32_t type, MetafileRecordReader& r, bool shortPoints)
{
    r.Skip(16); // bounds
    const std::uint32_t count = r.U32();
    if (!r.Ok() || !r.HasItems(count, shortPoints ? 4 : 8))
        return false;
    QPolygonF points;
    points.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        points.append(shortPoints ? r.Point16() : r.Point32());
    switch (type) {
    case POLYBEZIER:
    case POLYBEZIER16:
        m_Canvas.PolyBezier(points);
        break;
    case POLYGON:
    case POLYGON16:
        m_Canvas.Polygon(points);
        break;
    case POLYLINE:
    case POLYLINE16:
        m_Canvas.Polyline(points);
        break;
    case POLYBEZIERTO:
    case POLYBEZIERTO16:
        m_Canvas.PolyBezierTo(points);
        break;
    default:
        m_Canvas.PolylineTo(points);
        break;
    }
    return true;
}

bool EmfRenderer::PolyPolygonal(std::uint32_t type, MetafileRecordReader& r, bool shortPoints)
{
    r.Skip(16); // bounds
    const std::uint32_t polygons = r.U32();
    const std::uint32_t total = r.U32();
    if (!r.Ok() || !r.HasItems(polygons, 4))
        return false;
    std::vector<std::uint32_t> counts(polygons);
    std::uint64_t sum = 0;
    for (std::uint32_t& n : counts) {
        n = r.U32();
        sum += n;
    }
    if (sum != total || !r.HasItems(total, shortPoints ? 4 : 8))
        return false;
    std::vector<QPolygonF> shapes(polygons);
    for (std::uint32_t i = 0; i < polygons; ++i) {
        shapes[i].reserve(counts[i]);
        for (std::uint32_t k = 0; k < counts[i]; ++k)
            shapes[i].append(shortPoints ? r.Point16() : r.Point32());
    }
    if (type == POLYPOLYGON || type == POLYPOLYGON16)
        m_Canvas.PolyPolygon(shapes);
    else
        m_Canvas.PolyPolyline(shapes);
    return true;
}

bool EmfRenderer::GradientFill(MetafileRecordReader& r)
{
    r.Skip(16); // bounds
    const std::uint32_t vertices = r.U32();
    const std::uint32_t shapes = r.U32();
    const std::uint32_t mode = r.U32();
    if (!r.Ok() || !r.HasItems(vertices, 16))
        return false;
    std::vector<std::pair<QPointF, QColor>> vertex(vertices);
    for (auto& v : vertex) {
        v.first = r.Point32();
        const int red = r.U16() >> 8, green = r.U16() >> 8, blue = r.U16() >> 8;
        r.U16(); // alpha
        v.second = QColor(red, green, blue);
    }
    const std::uint32_t perShape = mode == 2 ? 3 : 2;
    if (!r.HasItems(shapes, perShape * 4))
        return false;
    for (std::uint32_t s = 0; s < shapes; ++s) {
        std::uint32_t index[3] = {0, 0, 0};
        for (std::uint32_t k = 0; k < perShape; ++k)
            index[k] = r.U32();
        if (index[0] >= vertices || index[1] >= vertices || (perShape == 3 && index[2] >= vertices))
            continue;
        if (perShape == 2) {
            const QRectF rect(vertex[index[0]].first, vertex[index[1]].first);
            m_Canvas.GradientRect(rect, vertex[index[0]].second, vertex[index[1]].second, mode == 1);
        } else {
            // Triangles are filled with the mean of their corner colours.
            int red = 0, green = 0, blue = 0;
            QPolygonF triangle;
            for (std::uint32_t i : index) {
                triangle << vertex[i].first;
                red += vertex[i].second.red();
                green += vertex[i].second.green();
                blue += vertex[i].second.blue();
            }
            m_Canvas.FillPolygonWith(triangle, QColor(red / 3, green / 3, blue / 3));
        }
    }
    return true;
}

bool EmfRenderer::RegionRecord(std::uint32_t type, MetafileRecordReader& r)
{
    if (type == EXTSELECTCLIPRGN) {
        const std::uint32_t cb = r.U32();
        const int mode = int(r.U32());
        if (!r.Ok())
            return false;
        if (cb == 0) {
            m_Canvas.SelectClipRegion(std::nullopt, mode);
            return true;
        }
        const std::optional<std::vector<QRect>> rects = ReadRegionData(r, cb);
        if (!rects)
            return false;
        m_Canvas.SelectClipRegion(UniteRects(*rects), mode);
        return true;
    }
    r.Skip(16); // bounds
    const std::uint32_t cb = r.U32();
    std::uint32_t brushIndex = 0;
    QSizeF stroke;
    if (type == FILLRGN || type == FRAMERGN)
        brushIndex = r.U32();
    if (type == FRAMERGN) {
        const QPointF s = r.Point32();
        stroke = QSizeF(s.x(), s.y());
    }
    if (!r.Ok())
        return false;
    const std::optional<std::vector<QRect>> rects = ReadRegionData(r, cb);
    if (!rects)
        return false;
    const QRegion region = UniteRects(*rects);
    MetafileBrush brush = m_Canvas.Dc().brush;
    if (type == FILLRGN || type == FRAMERGN) {
        const MetafileObject object = (brushIndex & kStockObjectFlag) ? StockObject(brushIndex & ~kStockObjectFlag)
                                      : m_Canvas.Objects().Find(brushIndex) ? *m_Canvas.Objects().Find(brushIndex)
                                                                              : MetafileObject{};
        if (const auto* b = std::get_if<MetafileBrush>(&object))
            brush = *b;
    }
    if (type == FRAMERGN)
        m_Canvas.FrameRegion(region, brush, stroke);
    else if (type == INVERTRGN)
        m_Canvas.InvertRegion(region);
    else
        m_Canvas.FillRegion(region, brush);
    return true;
}
