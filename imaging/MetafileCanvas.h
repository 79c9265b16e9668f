#pragma once
// The device both metafile players draw on: GDI's drawing operations (lines, shapes, paths,
// text, bitmaps, clipping, saved states) carried out with a QPainter. Coordinates come in the
// metafile's logical units; the canvas applies the world and page transforms to reach the
// metafile's device units, and the caller's device-to-target transform to reach the painter.

#include "imaging/MetafileGdiState.h"
#include "imaging/MetafileObjectTable.h"
#include "imaging/MetafileText.h"

#include <QBrush>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRect>
#include <QRegion>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class QImage;

/// The union of many rectangles, built pairwise so that large region lists stay fast.
QRegion UniteRects(std::span<const QRect> rects);

/// A rectangle for a region (right and bottom edges excluded, as GDI's region rectangles
/// are), its edges kept within +-2^28 so that any coordinate a file gives fits.
QRect ToRegionRect(const QRectF& r);

/// Carries out GDI drawing operations on a painter. With no painter it draws nothing and only
/// gathers the target-space box of what would have been drawn (Bounds), which sizes
/// metafiles that state no size of their own.
class MetafileCanvas {
public:
    enum class ArcKind { Arc, Chord, Pie };

    /// deviceToTarget maps the metafile's device units onto the painter's coordinates (any
    /// transform the painter already had included); devicePerMillimetre is the device's
    /// resolution, which the metric map modes use. The painter's state is restored on
    /// destruction.
    MetafileCanvas(QPainter* painter, const QTransform& deviceToTarget, QSizeF devicePerMillimetre);
    ~MetafileCanvas();
    MetafileCanvas(const MetafileCanvas&) = delete;
    MetafileCanvas& operator=(const MetafileCanvas&) = delete;

    MetafileDcState& Dc() { return m_Dc; }
    MetafileObjectTable& Objects() { return m_Objects; }
    /// The target-space box of everything drawn or measured so far (empty when nothing).
    QRectF Bounds() const { return m_bHasBounds ? m_Bounds : QRectF(); }

    /// Makes an object the current pen, brush or font (regions and palettes are ignored).
    void SelectObject(const MetafileObject& object);

    // Mapping. Extents of zero and non-finite transforms are ignored, as GDI refuses them.
    void SetMapMode(int mode);
    void SetWindowOrg(QPointF org) { m_Dc.windowOrg = org; }
    void SetViewportOrg(QPointF org) { m_Dc.viewportOrg = org; }
    void SetWindowExt(QSizeF ext);
    void SetViewportExt(QSizeF ext);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    void SetWorldTransform(const QTransform& world);
    /// mode: 1 identity, 2 left-multiply (transform applied first), 3 right-multiply, 4 set.
    void ModifyWorldTransform(const QTransform& transform, std::uint32_t mode);

    // Saved states. At most kMaxSavedStates are kept; further saves are ignored.
    static constexpr size_t kMaxSavedStates = 10000;
    void SaveDc();
    /// relative < 0: pops that many saved states; relative > 0: returns to the state saved
    /// with that number (1 = the first).
    void RestoreDc(int relative);

    // Clipping.
    void IntersectClipRect(const QRectF& logical);
    void ExcludeClipRect(const QRectF& logical);
    /// Combines a region in device units with the clip (mode RGN_AND .. RGN_COPY); with no
    /// region and RGN_COPY the clip is removed.
    void SelectClipRegion(const std::optional<QRegion>& device, int mode);
    /// As SelectClipRegion, for a region in logical units (16-bit metafiles' regions).
    void SelectLogicalClipRegion(const QRegion& logical, int mode);
    void OffsetClip(QPointF logical);
    void SelectClipPath(int mode);

    // Lines and shapes, in logical units.
    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(const QPolygonF& points);
    void PolylineTo(const QPolygonF& points);
    void PolyPolyline(std::span<const QPolygonF> lines);
    void Polygon(const QPolygonF& points);
    void PolyPolygon(std::span<const QPolygonF> polygons);
    /// points: a start point and groups of three (two control points and an end point).
    void PolyBezier(const QPolygonF& points);
    /// Groups of three starting from the current position.
    void PolyBezierTo(const QPolygonF& points);
    void Rectangle(const QRectF& box);
    void RoundRect(const QRectF& box, QSizeF corner);
    void Ellipse(const QRectF& box);
    /// An arc of the ellipse in box from the radial through start to the radial through end,
    /// in the current arc direction, drawn as an arc, a chord or a pie.
    void Arc(ArcKind kind, const QRectF& box, QPointF start, QPointF end);
    /// As Arc, with a line from the current position to the arc's start; the current
    /// position moves to the arc's end.
    void ArcTo(const QRectF& box, QPointF start, QPointF end);
    void AngleArc(QPointF centre, double radius, double startDegrees, double sweepDegrees);
    void SetPixel(QPointF p, const QColor& colour);
    /// A size in device units expressed in logical units (for records that place bitmaps
    /// pixel for pixel on the device).
    QSizeF DeviceToLogicalSize(QSizeF device) const;

    // Regions in logical units.
    void FillRegion(const QRegion& logical, const MetafileBrush& brush);
    void FrameRegion(const QRegion& logical, const MetafileBrush& brush, QSizeF logicalWidth);
    void InvertRegion(const QRegion& logical);

    // Paths.
    void BeginPath();
    void EndPath() { m_bInPath = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath() { DrawDevicePath(true, false); }
    void StrokePath() { DrawDevicePath(false, true); }
    void StrokeAndFillPath() { DrawDevicePath(true, true); }

    /// Draws a string; with TA_UPDATECP at and from the current position.
    void DrawText(MetafileTextRun run);

    // Bitmaps.
    /// Draws the source rectangle of image (pixels, y downward) stretched into the logical
    /// rectangle dest (negative extents mirror), combined with the target by the ternary
    /// raster operation rop.
    void StretchImage(const QRectF& dest, const QImage& image, const QRectF& source, std::uint32_t rop,
                      double opacity = 1.0);
    /// Fills the logical rectangle by a raster operation that uses no source (PATCOPY,
    /// BLACKNESS, WHITENESS, DSTINVERT, PATINVERT).
    void PatBlt(const QRectF& dest, std::uint32_t rop);
    /// Fills a logical rectangle with a linear gradient from first to second colour.
    void GradientRect(const QRectF& rect, const QColor& first, const QColor& second, bool vertical);
    void FillPolygonWith(const QPolygonF& points, const QColor& colour);

private:
    QTransform LogicalToDevice() const;
    QTransform LogicalToTarget() const { return LogicalToDevice() * m_DeviceToTarget; }
    QPointF ToDevice(QPointF logical) const { return LogicalToDevice().map(logical); }
    /// Gets the painter ready for drawing in target space: the clip applied, composition reset.
    /// False when nothing should be drawn (measuring, or a transform that is not usable).
    bool Prepare(const QTransform& transform, const QRectF& localBounds);
    void ApplyClip();
    void SetRasterOperation(int rop2);
    /// Draws a shape given in logical units, or adds it to the path being recorded.
    void DrawShape(const QPainterPath& logical, bool fill, bool stroke);
    void DrawDevicePath(bool fill, bool stroke);
    void FillShape(const QPainterPath& logical, const QBrush& brush, QPainter::CompositionMode mode);
    QPainterPath ArcPath(ArcKind kind, const QRectF& box, QPointF start, QPointF end) const;
    /// Continues the current figure with seg (logical units, starting at the current position):
    /// appended to the path being recorded, or stroked.
    void AppendToFigure(const QPainterPath& seg);
    QRegion DeviceRegion(const QRegion& logical) const;
    QRegion ClipBase() const;

    QPainter* m_pPainter;
    QTransform m_DeviceToTarget;
    QSizeF m_DevicePerMillimetre;
    bool m_bRasterOps = false;
    MetafileDcState m_Dc;
    std::vector<MetafileDcState> m_Saved;
    MetafileObjectTable m_Objects;
    bool m_bInPath = false;
    bool m_bFigureOpen = false;
    QPainterPath m_Path; ///< device units
    bool m_bClipDirty = true;
    QRectF m_Bounds;
    bool m_bHasBounds = false;
};
