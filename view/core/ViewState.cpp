#include "view/core/ViewState.h"

#include "document/CQuilletDoc.h"
#include "view/core/ViewActions.h"
#include "view/core/ViewGeometry.h"
#include "view/core/ViewHost.h"

#include <algorithm>
#include <cmath>

namespace {

// Zooming in stops at a tenth of the frame and zooming out at 5.8 frames; beyond either the
// window jumps back to the whole frame. Zooming out keeps the window inside these bounds.
constexpr double kZoomInFactor = 0.8;
constexpr double kZoomOutFactor = 1.25;
constexpr double kSmallestWindow = 0.1;
constexpr double kLargestWindow = 5.8;
constexpr double kOuterBoundLow = -2.4802;
constexpr double kOuterBoundHigh = 3.4802;
constexpr int kScrollRange = 1000;

/// The new [low, high] of one axis after a zoom about centre, kept inside [low, high] when
/// zooming in and inside the outer bounds when zooming out.
void ZoomAxis(double& low, double& high, double centre, double size, bool zoomIn)
{
    if (zoomIn) {
        const double half = size * kZoomInFactor / 2;
        if (centre + half > high) {
            low = high - kZoomInFactor * size;
        } else if (centre - half < low) {
            high = low + kZoomInFactor * size;
        } else {
            low = centre - half;
            high = centre + half;
        }
    } else {
        const double half = size * kZoomOutFactor / 2;
        if (centre + half > kOuterBoundHigh) {
            low = kOuterBoundHigh - kZoomOutFactor * size;
            high = kOuterBoundHigh;
        } else if (centre - half < kOuterBoundLow) {
            low = kOuterBoundLow;
            high = kOuterBoundLow + kZoomOutFactor * size;
        } else {
            low = centre - half;
            high = centre + half;
        }
    }
}

/// value rounded to the nearest integer, a fractional part above one half going up, and at least 1.
int ScrollStep(double value)
{
    double whole = std::floor(value);
    if (value - whole > 0.5)
        whole += 1;
    return std::max(1, ToClientInt(whole));
}

/// The new thumb position for a scroll code.
int ScrollPosition(int code, int position, int thumb, int line, int page)
{
    switch (code) {
    case SB_LINEUP:
        return std::max(0, position - line);
    case SB_LINEDOWN:
        return std::min(kScrollRange, position + line);
    case SB_PAGEUP:
        return std::max(0, position - page);
    case SB_PAGEDOWN:
        return std::min(kScrollRange, position + page);
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        return thumb;
    case SB_TOP:
        return 0;
    case SB_BOTTOM:
        return kScrollRange;
    default:
        return position;
    }
}

/// The new thumb position for a scroll code on a bar along an axis of client pixels where the
/// window spans size (window units); textSize is the line step in pixels.
int ScrollAlong(int code, int position, int thumb, int client, int textSize, double size)
{
    const double scrollable = size > 0 ? std::trunc(client / size) - client : 0;
    const int line = scrollable > 0 ? ScrollStep(textSize * 1000.0 / scrollable) : 1;
    const int page = scrollable > 0 ? ScrollStep(client * 1000.0 / scrollable) : 1;
    return ScrollPosition(code, position, thumb, line, page);
}

/// The scroll position that shows a window of size (below 1) whose edge lies offset from the
/// start of the frame: its left edge, or its top edge counted down from the top.
int ScrollPositionFor(double offset, double size)
{
    // Window edges such as 0.1 come out a hair below their value; without the allowance a window
    // at (0.1, 0.9) would scroll to 499 instead of half way.
    constexpr double kRoundingAllowance = 1e-9;
    return std::min(ToClientInt(kScrollRange * offset / (1 - size) + kRoundingAllowance), kScrollRange);
}

/// Where a window of size (below 1) starts for a scroll position: the inverse of ScrollPositionFor.
double WindowStartFor(int position, double size)
{
    return (1 - size) * position / kScrollRange;
}

} // namespace

ViewState::ViewState() = default;
ViewState::~ViewState() = default;

void ViewState::ShowWholeFrame()
{
    m_Window = ViewWindow{};
}

void ViewState::SetFrame(const CDataGeo& origin, const CDataGeo& extent)
{
    m_FrameOrigin = origin;
    m_FrameExtent = extent;
}

void ViewState::ScrollTo(double width, double height)
{
    if (width < 1)
        m_nHScrollPos = ScrollPositionFor(m_Window.m_dLeft, width);
    if (height < 1)
        m_nVScrollPos = ScrollPositionFor(1 - m_Window.m_dTop, height);
}

QSize ViewState::GetDisplaySize(const CQuilletDoc& doc, int cw, int ch) const
{
    if (!doc.IsMapLoaded() || cw <= 1 || ch <= 1)
        return {0, 0};
    const PictureRect picture = ComputePictureRect(doc, ComputeVisibleFrame(doc, *this), cw, ch);
    // The edges may lie far outside the client (a deep zoom): their distance is taken in 64 bits.
    const auto limited = [](std::int64_t size, int image) {
        return static_cast<int>(std::clamp<std::int64_t>(size, 0, std::max(image, 0)));
    };
    return {limited(std::int64_t(picture.xR) - picture.xL, doc.ImageWidth()),
            limited(std::int64_t(picture.yB) - picture.yT, doc.ImageHeight())};
}

void ViewState::RebuildDisplayCopy(const CQuilletDoc& doc, QSize size)
{
    m_DisplayDib.CreateResampled(size.width(), size.height(), doc.CurrentImageSection());
}

void ViewState::RebuildForClient(const CQuilletDoc& doc, const ViewHost& host)
{
    if (!doc.IsTiffMap())
        return;
    const QSize client = host.ClientSize();
    UpdateFrame(doc, *this, client.width(), client.height());
    RebuildDisplayCopy(doc, GetDisplaySize(doc, client.width(), client.height()));
}

bool ViewState::ZoomAtPoint(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, int x, int y)
{
    const QSize client = host.ClientSize();
    const int cw = client.width();
    const int ch = client.height();
    if (!QRect(0, 0, cw, ch).contains(x, y)) {
        actions.Refuse(ViewActions::Refusal::ZoomPointOutOfView);
        return false;
    }
    const double w = m_Window.Width();
    const double h = m_Window.Height();
    const double cx = m_Window.m_dLeft + w * x / cw;
    const double cy = m_Window.m_dBottom + h * (ch - y) / ch;
    if (m_Tool == Tool::ZoomIn) {
        if (w < kSmallestWindow || h < kSmallestWindow) {
            ShowWholeFrame();
        } else {
            ZoomAxis(m_Window.m_dLeft, m_Window.m_dRight, cx, w, true);
            ZoomAxis(m_Window.m_dBottom, m_Window.m_dTop, cy, h, true);
        }
    } else if (m_Tool == Tool::ZoomOut) {
        if (w >= kLargestWindow || h >= kLargestWindow) {
            ShowWholeFrame();
        } else {
            ZoomAxis(m_Window.m_dLeft, m_Window.m_dRight, cx, w, false);
            ZoomAxis(m_Window.m_dBottom, m_Window.m_dTop, cy, h, false);
        }
    } else {
        return false;
    }
    ScrollTo(m_Window.Width(), m_Window.Height());

    if (doc.IsTiffMap()) {
        // The frame for the new window is what the next paint shows; size the copy for it.
        UpdateFrame(doc, *this, cw, ch);
        const QSize size = GetDisplaySize(doc, cw, ch);
        if (size != QSize(m_DisplayDib.m_nWidth, m_DisplayDib.m_nHeight))
            RebuildDisplayCopy(doc, size);
    }
    host.Invalidate();
    return true;
}

int ViewState::OnVScroll(int code, int thumb, int clientHeight, int textHeight)
{
    const double height = m_Window.Height();
    m_nVScrollPos = ScrollAlong(code, m_nVScrollPos, thumb, clientHeight, textHeight, height);
    if (height < 1) {
        // Position 0 shows the top of the frame.
        m_Window.m_dBottom = WindowStartFor(kScrollRange - m_nVScrollPos, height);
        m_Window.m_dTop = m_Window.m_dBottom + height;
    }
    return m_nVScrollPos;
}

int ViewState::OnHScroll(int code, int thumb, int clientWidth, int textWidth)
{
    const double width = m_Window.Width();
    m_nHScrollPos = ScrollAlong(code, m_nHScrollPos, thumb, clientWidth, textWidth, width);
    if (width < 1) {
        m_Window.m_dLeft = WindowStartFor(m_nHScrollPos, width);
        m_Window.m_dRight = m_Window.m_dLeft + width;
    }
    return m_nHScrollPos;
}

void ViewState::ShowPoint(const CQuilletDoc& doc, ViewHost& host, int index)
{
    const std::vector<CDataGeo>& points = doc.ControlPoints();
    m_nHighlightedPoint = index >= 0 && index < static_cast<int>(points.size()) ? index : -1;
    if (m_nHighlightedPoint >= 0 && m_FrameExtent.m_dLongitude != 0 && m_FrameExtent.m_dLatitude != 0) {
        const CDataGeo& point = points[static_cast<size_t>(m_nHighlightedPoint)];
        // The point in window units, 0 to 1 across the displayed frame.
        const double wx = (point.m_dImageX - m_FrameOrigin.m_dLongitude) / m_FrameExtent.m_dLongitude;
        const double wy = (point.m_dImageY - m_FrameOrigin.m_dLatitude) / m_FrameExtent.m_dLatitude;
        const double width = m_Window.Width();
        const double height = m_Window.Height();
        if (wx < m_Window.m_dLeft || wx > m_Window.m_dRight || wy < m_Window.m_dBottom || wy > m_Window.m_dTop) {
            // Centred where it can be; a window within the frame stays within it.
            const auto centre = [](double at, double size) {
                const double low = at - size / 2;
                return size < 1 ? std::clamp(low, 0.0, 1.0 - size) : low;
            };
            m_Window.m_dLeft = centre(wx, width);
            m_Window.m_dRight = m_Window.m_dLeft + width;
            m_Window.m_dBottom = centre(wy, height);
            m_Window.m_dTop = m_Window.m_dBottom + height;
            // The size kept, not the new edges' difference: that may differ in the last bit.
            ScrollTo(width, height);
            RebuildForClient(doc, host);
        }
    }
    host.Invalidate();
}

void ViewState::OnUpdate(const CQuilletDoc& doc, ViewHost& host, long hint)
{
    // A point being added has landed in the document (or the points changed under it).
    if (hint & DocChange::kPoints) {
        m_PendingPoint.reset();
        if (m_nHighlightedPoint >= static_cast<int>(doc.ControlPoints().size()))
            m_nHighlightedPoint = -1;
    }
    if (hint & DocChange::kMap) {
        // The displayed frame starts as the new map's frame; the next paint widens it to the client.
        m_FrameOrigin = doc.GeoOrigin();
        m_FrameExtent = doc.GeoExtent();
        ForgetRangeAndMeasure();
    }
    if (hint & (DocChange::kMap | DocChange::kImage))
        RebuildForClient(doc, host);
    // Positions read out for another map, or for a geo-coding now withdrawn, are not this map's;
    // nor is a message about a file written from another map ("Wrote print.pdf").
    if ((hint & DocChange::kMap) || ((hint & DocChange::kGeoCoding) && !doc.IsGeoCoded()))
        for (int pane = (hint & DocChange::kMap) ? 0 : 1; pane <= 4; ++pane)
            host.SetPaneText(QString(), pane);
    host.Invalidate();
}

// --- commands ----------------------------------------------------------------------------------

void ViewState::ClearTools()
{
    m_Tool = Tool::None;
}

void ViewState::ToggleTool(Tool tool)
{
    m_Tool = m_Tool == tool ? Tool::None : tool;
}

void ViewState::ForgetRangeAndMeasure()
{
    // Output and Export crop by the range while the range tool is on: a new map is written
    // whole until a range is dragged over it. A measurement belongs to its map as much.
    if (m_Tool == Tool::SelectRange || m_Tool == Tool::Measure)
        m_Tool = Tool::None;
    m_bRangeDragging = false;
    m_ptRangeStart = m_ptRangeEnd = QPoint(-1, -1);
    m_dRangeLeft = m_dRangeRight = m_dRangeBottom = m_dRangeTop = 0.0;
    m_rcRangeSave = QRect();
    m_bMeasuring = false;
    m_rcMeasureSave = QRect();
}

bool ViewState::HasRange() const
{
    return m_ptRangeStart != QPoint(-1, -1) && m_ptRangeEnd != QPoint(-1, -1);
}

std::optional<OutputRange> ViewState::SelectedOutputRange() const
{
    if (m_Tool != Tool::SelectRange)
        return std::nullopt;
    return OutputRange{HasRange(), m_dRangeLeft, m_dRangeRight, m_dRangeTop, m_dRangeBottom};
}

std::optional<QLine> ViewState::RangeCorners() const
{
    if (m_Tool != Tool::SelectRange)
        return std::nullopt;
    return QLine(m_ptRangeStart, m_ptRangeEnd);
}

std::optional<QLine> ViewState::RangeBeingDragged() const
{
    if (m_Tool != Tool::SelectRange || !m_bRangeDragging || m_ptRangeEnd == QPoint(-1, -1))
        return std::nullopt;
    return QLine(m_ptRangeStart, m_ptRangeEnd);
}

std::optional<QLine> ViewState::MeasuringLine() const
{
    if (m_Tool != Tool::Measure || !m_bMeasuring)
        return std::nullopt;
    return QLine(m_ptMeasureStart, m_ptMeasureEnd);
}

std::optional<QPoint> ViewState::MovingMarker() const
{
    if (m_Tool != Tool::MovePoint || m_ptMoveAt == QPoint(-1, -1))
        return std::nullopt;
    return m_ptMoveAt;
}

void ViewState::OnZoomIn(const CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        ToggleTool(Tool::ZoomIn);
}

void ViewState::OnZoomOut(const CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        ToggleTool(Tool::ZoomOut);
}

void ViewState::OnFitInWindow(const CQuilletDoc& doc, ViewHost& host)
{
    if (!doc.IsMapLoaded())
        return;
    ShowWholeFrame();
    RebuildForClient(doc, host);
    host.Invalidate();
}

void ViewState::OnSetPoints(const CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        ToggleTool(Tool::SetPoints);
}

void ViewState::OnMovePoints(const CQuilletDoc& doc, ViewHost& host)
{
    if (!doc.IsMapLoaded())
        return;
    ToggleTool(Tool::MovePoint);
    if (m_Tool == Tool::MovePoint)
        m_nSelectedPoint = -1;
    host.Invalidate();
}

void ViewState::OnDeletePoint(const CQuilletDoc& doc)
{
    if (!doc.IsMapLoaded())
        return;
    ToggleTool(Tool::DeletePoint);
    if (m_Tool == Tool::DeletePoint)
        m_nSelectedPoint = -1;
}

void ViewState::OnMeasure(const CQuilletDoc& doc)
{
    if (doc.IsGeoCoded())
        ToggleTool(Tool::Measure);
}

void ViewState::OnSelectRange(ViewHost& host)
{
    if (m_Tool != Tool::SelectRange) {
        m_Tool = Tool::SelectRange;
    } else {
        m_Tool = Tool::None;
        m_ptRangeStart = m_ptRangeEnd = QPoint(-1, -1);
    }
    host.Invalidate();
}
