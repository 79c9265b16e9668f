#include "imaging/MetafileCanvas.h"

#include <QPaintEngine>

#include <cmath>

namespace {

// Nothing a metafile draws lies this far from the target's origin (in target pixels); shapes
// beyond are transforms gone wrong and are not handed to the rasteriser.
constexpr double kMaxTargetCoordinate = 1.0e8;
// Device coordinates of clip regions are kept within this range so that they fit in integers.
constexpr int kRegionLimit = 1 << 28;

bool Usable(const QRectF& r)
{
    return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.right()) && std::isfinite(r.bottom()) &&
           std::abs(r.left()) < kMaxTargetCoordinate && std::abs(r.right()) < kMaxTargetCoordinate &&
           std::abs(r.top()) < kMaxTargetCoordinate && std::abs(r.bottom()) < kMaxTargetCoordinate;
}

bool Finite(const QTransform& t)
{
    return std::isfinite(t.m11()) && std::isfinite(t.m12()) && std::isfinite(t.m21()) && std::isfinite(t.m22()) &&
           std::isfinite(t.dx()) && std::isfinite(t.dy()) && t.isAffine();
}

int ClampToRegion(double v)
{
    if (!(v > -kRegionLimit))
        return -kRegionLimit;
    if (!(v < kRegionLimit))
        return kRegionLimit;
    return int(std::lround(v));
}

QRegion Everything()
{
    return QRegion(-kRegionLimit, -kRegionLimit, 2 * kRegionLimit, 2 * kRegionLimit);
}

} // namespace

QRect ToRegionRect(const QRectF& r)
{
    const int l = ClampToRegion(r.left()), t = ClampToRegion(r.top());
    const int rt = ClampToRegion(r.right()), b = ClampToRegion(r.bottom());
    return QRect(l, t, std::max(0, rt - l), std::max(0, b - t));
}

QRegion UniteRects(std::span<const QRect> rects)
{
    if (rects.empty())
        return {};
    if (rects.size() == 1)
        return QRegion(rects.front());
    const size_t half = rects.size() / 2;
    return UniteRects(rects.first(half)).united(UniteRects(rects.subspan(half)));
}

MetafileCanvas::MetafileCanvas(QPainter* painter, const QTransform& deviceToTarget, QSizeF devicePerMillimetre)
    : m_pPainter(painter), m_DeviceToTarget(deviceToTarget), m_DevicePerMillimetre(devicePerMillimetre)
{
    if (m_pPainter) {
        m_pPainter->save();
        const QPaintEngine* engine = m_pPainter->paintEngine();
        m_bRasterOps = engine && engine->hasFeature(QPaintEngine::RasterOpModes);
    }
    m_Dc.pen = std::get<MetafilePen>(StockObject(7));
    m_Dc.brush = std::get<MetafileBrush>(StockObject(0));
    m_Dc.font = std::get<MetafileFont>(StockObject(13));
}

MetafileCanvas::~MetafileCanvas()
{
    if (m_pPainter)
        m_pPainter->restore();
}

QTransform MetafileCanvas::LogicalToDevice() const
{
    return m_Dc.world * PageTransform(m_Dc, m_DevicePerMillimetre);
}

void MetafileCanvas::SelectObject(const MetafileObject& object)
{
    if (const auto* pen = std::get_if<MetafilePen>(&object))
        m_Dc.pen = *pen;
    else if (const auto* brush = std::get_if<MetafileBrush>(&object))
        m_Dc.brush = *brush;
    else if (const auto* font = std::get_if<MetafileFont>(&object))
        m_Dc.font = *font;
}

void MetafileCanvas::SetMapMode(int mode)
{
    if (mode >= Gdi::MM_TEXT && mode <= Gdi::MM_ANISOTROPIC)
        m_Dc.mapMode = mode;
}

void MetafileCanvas::SetWindowExt(QSizeF ext)
{
    if (ext.width() != 0 && ext.height() != 0 && std::isfinite(ext.width()) && std::isfinite(ext.height()))
        m_Dc.windowExt = ext;
}

void MetafileCanvas::SetViewportExt(QSizeF ext)
{
    if (ext.width() != 0 && ext.height() != 0 && std::isfinite(ext.width()) && std::isfinite(ext.height()))
        m_Dc.viewportExt = ext;
}

void MetafileCanvas::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom != 0 && yDenom != 0)
        SetWindowExt(QSizeF(m_Dc.windowExt.width() * xNum / xDenom, m_Dc.windowExt.height() * yNum / yDenom));
}

void MetafileCanvas::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom != 0 && yDenom != 0)
        SetViewportExt(QSizeF(m_Dc.viewportExt.width() * xNum / xDenom, m_Dc.viewportExt.height() * yNum / yDenom));
}

void MetafileCanvas::SetWorldTransform(const QTransform& world)
{
    if (Finite(world))
        m_Dc.world = world;
}

void MetafileCanvas::ModifyWorldTransform(const QTransform& transform, std::uint32_t mode)
{
    switch (mode) {
    case 1:
        m_Dc.world = QTransform();
        break;
    case 2:
        SetWorldTransform(transform * m_Dc.world);
        break;
    case 3:
        SetWorldTransform(m_Dc.world * transform);
        break;
    case 4:
        SetWorldTransform(transform);
        break;
    default:
        break;
    }
}

void MetafileCanvas::SaveDc()
{
    if (m_Saved.size() < kMaxSavedStates)
        m_Saved.push_back(m_Dc);
}

void MetafileCanvas::RestoreDc(int relative)
{
    size_t keep = 0;
    if (relative < 0) {
        const size_t pop = size_t(-std::int64_t(relative));
        if (pop > m_Saved.size())
            return;
        keep = m_Saved.size() - pop;
    } else if (relative > 0 && size_t(relative) <= m_Saved.size()) {
        keep = size_t(relative) - 1;
    } else {
        return;
    }
    m_Dc = m_Saved[keep];
    m_Saved.resize(keep);
    m_bClipDirty = true;
}

QRegion MetafileCanvas::ClipBase() const
{
    return m_Dc.clip ? *m_Dc.clip : Everything();
}

void MetafileCanvas::IntersectClipRect(const QRectF& logical)
{
    const QRegion rect(ToRegionRect(LogicalToDevice().mapRect(logical.normalized())));
    m_Dc.clip = m_Dc.clip ? m_Dc.clip->intersected(rect) : rect;
    m_bClipDirty = true;
}

void MetafileCanvas::ExcludeClipRect(const QRectF& logical)
{
    m_Dc.clip = ClipBase().subtracted(QRegion(ToRegionRect(LogicalToDevice().mapRect(logical.normalized()))));
    m_bClipDirty = true;
}

void MetafileCanvas::SelectClipRegion(const std::optional<QRegion>& device, int mode)
{
    if (mode == Gdi::RGN_COPY) {
        m_Dc.clip = device;
    } else if (!device) {
        return;
    } else if (mode == Gdi::RGN_AND) {
        m_Dc.clip = m_Dc.clip ? m_Dc.clip->intersected(*device) : *device;
    } else if (mode == Gdi::RGN_OR) {
        if (m_Dc.clip)
            m_Dc.clip = m_Dc.clip->united(*device);
    } else if (mode == Gdi::RGN_XOR) {
        m_Dc.clip = ClipBase().xored(*device);
    } else if (mode == Gdi::RGN_DIFF) {
        m_Dc.clip = ClipBase().subtracted(*device);
    } else {
        return;
    }
    m_bClipDirty = true;
}

QRegion MetafileCanvas::DeviceRegion(const QRegion& logical) const
{
    const QTransform toDevice = LogicalToDevice();
    std::vector<QRect> rects;
    for (const QRect& r : logical)
        rects.push_back(ToRegionRect(toDevice.mapRect(QRectF(r))));
    return UniteRects(rects);
}

void MetafileCanvas::SelectLogicalClipRegion(const QRegion& logical, int mode)
{
    SelectClipRegion(DeviceRegion(logical), mode);
}

void MetafileCanvas::OffsetClip(QPointF logical)
{
    if (!m_Dc.clip)
        return;
    const QPointF d = LogicalToDevice().map(logical) - LogicalToDevice().map(QPointF(0, 0));
    m_Dc.clip->translate(ClampToRegion(d.x()), ClampToRegion(d.y()));
    m_bClipDirty = true;
}

void MetafileCanvas::SelectClipPath(int mode)
{
    QPolygon polygon;
    for (const QPointF& p : m_Path.toFillPolygon())
        polygon << QPoint(ClampToRegion(p.x()), ClampToRegion(p.y()));
    const Qt::FillRule rule = m_Dc.polyFillMode == Gdi::WINDING ? Qt::WindingFill : Qt::OddEvenFill;
    SelectClipRegion(QRegion(polygon, rule), mode);
    AbortPath();
}

void MetafileCanvas::ApplyClip()
{
    if (!m_bClipDirty || !m_pPainter)
        return;
    m_bClipDirty = false;
    m_pPainter->restore(); // back to the caller's clip ...
    m_pPainter->save();
    if (m_Dc.clip) {       // ... narrowed by the metafile's own
        m_pPainter->setWorldTransform(m_DeviceToTarget);
        m_pPainter->setClipRegion(*m_Dc.clip, Qt::IntersectClip);
    }
}

bool MetafileCanvas::Prepare(const QTransform& transform, const QRectF& localBounds)
{
    if (!Finite(transform))
        return false;
    const QRectF target = transform.mapRect(localBounds);
    if (!Usable(target))
        return false;
    m_Bounds = m_bHasBounds ? m_Bounds.united(target) : target;
    m_bHasBounds = true;
    if (!m_pPainter)
        return false;
    ApplyClip();
    m_pPainter->setWorldTransform(transform);
    m_pPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    return true;
}

void MetafileCanvas::SetRasterOperation(int rop2)
{
    if (!m_bRasterOps)
        return;
    switch (rop2) {
    case Gdi::R2_NOT:
        m_pPainter->setCompositionMode(QPainter::RasterOp_NotDestination);
        break;
    case Gdi::R2_XORPEN:
        m_pPainter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        break;
    case Gdi::R2_MASKPEN:
        m_pPainter->setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        break;
    case Gdi::R2_MERGEPEN:
        m_pPainter->setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        break;
    default:
        break;
    }
}

void MetafileCanvas::DrawShape(const QPainterPath& logical, bool fill, bool stroke)
{
    if (m_bInPath) {
        m_Path.addPath(LogicalToDevice().map(logical));
        m_bFigureOpen = false;
        return;
    }
    if (m_Dc.rop2 == Gdi::R2_NOP)
        return;
    const QTransform t = LogicalToTarget();
    if (!Prepare(t, logical.controlPointRect()))
        return;
    QPainterPath path = logical;
    path.setFillRule(m_Dc.polyFillMode == Gdi::WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    QPen pen = stroke ? ToQPen(m_Dc.pen, std::sqrt(std::abs(t.determinant()))) : QPen(Qt::NoPen);
    QBrush brush = fill ? ToQBrush(m_Dc.brush) : QBrush(Qt::NoBrush);
    if (brush.style() == Qt::TexturePattern)
        brush.setTransform(LogicalToDevice().inverted()); // patterns repeat in device pixels
    if (m_Dc.rop2 == Gdi::R2_BLACK || m_Dc.rop2 == Gdi::R2_WHITE) {
        const QColor c = m_Dc.rop2 == Gdi::R2_BLACK ? Qt::black : Qt::white;
        pen.setColor(c);
        if (brush.style() != Qt::NoBrush)
            brush = QBrush(c);
    }
    if (fill && m_Dc.brush.style == Gdi::BS_HATCHED && m_Dc.bkMode == Gdi::OPAQUE) {
        m_pPainter->setPen(Qt::NoPen);
        m_pPainter->setBrush(m_Dc.bkColour);
        m_pPainter->drawPath(path);
    }
    SetRasterOperation(m_Dc.rop2);
    m_pPainter->setPen(pen);
    m_pPainter->setBrush(brush);
    m_pPainter->drawPath(path);
}

void MetafileCanvas::FillShape(const QPainterPath& logical, const QBrush& brush, QPainter::CompositionMode mode)
{
    if (!Prepare(LogicalToTarget(), logical.controlPointRect()))
        return;
    if (mode != QPainter::CompositionMode_SourceOver) {
        if (!m_bRasterOps)
            return;
        m_pPainter->setCompositionMode(mode);
    }
    m_pPainter->setPen(Qt::NoPen);
    m_pPainter->setBrush(brush);
    m_pPainter->drawPath(logical);
}

void MetafileCanvas::DrawDevicePath(bool fill, bool stroke)
{
    QPainterPath path = m_Path;
    AbortPath(); // filling or stroking uses the path up, as in GDI
    if (Prepare(m_DeviceToTarget, path.controlPointRect())) {
        path.setFillRule(m_Dc.polyFillMode == Gdi::WINDING ? Qt::WindingFill : Qt::OddEvenFill);
        MetafilePen pen = m_Dc.pen;
        pen.width *= std::sqrt(std::abs(LogicalToDevice().determinant())); // the path is in device units
        m_pPainter->setPen(stroke ? ToQPen(pen, std::sqrt(std::abs(m_DeviceToTarget.determinant()))) : QPen(Qt::NoPen));
        m_pPainter->setBrush(fill ? ToQBrush(m_Dc.brush) : QBrush(Qt::NoBrush));
        m_pPainter->drawPath(path);
    }
}

void MetafileCanvas::BeginPath()
{
    m_Path = QPainterPath();
    m_bInPath = true;
    m_bFigureOpen = false;
}

void MetafileCanvas::AbortPath()
{
    m_Path = QPainterPath();
    m_bInPath = false;
    m_bFigureOpen = false;
}

void MetafileCanvas::CloseFigure()
{
    if (m_bInPath)
        m_Path.closeSubpath();
    m_bFigureOpen = false;
}

void MetafileCanvas::AppendToFigure(const QPainterPath& seg)
{
    if (!m_bInPath) {
        DrawShape(seg, false, true);
        return;
    }
    const QPainterPath device = LogicalToDevice().map(seg);
    if (m_bFigureOpen)
        m_Path.connectPath(device);
    else
        m_Path.addPath(device);
    m_bFigureOpen = true;
}

QSizeF MetafileCanvas::DeviceToLogicalSize(QSizeF device) const
{
    // Signed where the axes stay axes, so that the bitmap comes out upright on the device
    // also when the logical y axis points up.
    const QTransform t = LogicalToDevice();
    const bool axisAligned = t.m12() == 0 && t.m21() == 0;
    const double sx = axisAligned ? t.m11() : std::hypot(t.m11(), t.m12());
    const double sy = axisAligned ? t.m22() : std::hypot(t.m21(), t.m22());
    if (sx == 0 || sy == 0 || !std::isfinite(sx) || !std::isfinite(sy))
        return device;
    return QSizeF(device.width() / sx, device.height() / sy);
}

void MetafileCanvas::DrawText(MetafileTextRun run)
{
    if (m_bInPath || m_Dc.rop2 == Gdi::R2_NOP)
        return;
    const bool updateCp = (m_Dc.textAlign & Gdi::TA_UPDATECP) != 0;
    if (updateCp)
        run.reference = m_Dc.position;
    const QTransform t = LogicalToTarget();
    if (!Finite(t) || !Usable(QRectF(t.map(run.reference), QSizeF(0, 0))))
        return;
    if (m_pPainter) {
        ApplyClip();
        m_pPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    const MetafileTextExtent extent = DrawMetafileText(m_pPainter, t, m_Dc, run);
    if (!extent.bounds.isEmpty() && Usable(extent.bounds)) {
        m_Bounds = m_bHasBounds ? m_Bounds.united(extent.bounds) : extent.bounds;
        m_bHasBounds = true;
    }
    if (updateCp) {
        if ((m_Dc.textAlign & Gdi::TA_CENTER) == Gdi::TA_CENTER)
            return;
        m_Dc.position.rx() += (m_Dc.textAlign & Gdi::TA_RIGHT) ? -extent.advance : extent.advance;
    }
}

