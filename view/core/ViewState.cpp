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

} // namespace

ViewState::ViewState() = default;
ViewState::~ViewState() = default;

void ViewState::RefreshWindowSize()
{
    m_dWinWidth = m_dWinRight - m_dWinLeft;
    m_dWinHeight = m_dWinTop - m_dWinBottom;
}

void ViewState::ShowWholeFrame()
{
    m_dWinLeft = 0.0;
    m_dWinBottom = 0.0;
    m_dWinRight = 1.0;
    m_dWinTop = 1.0;
    RefreshWindowSize();
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
    RefreshWindowSize();
    const double w = m_dWinWidth;
    const double h = m_dWinHeight;
    const double cx = m_dWinLeft + w * x / cw;
    const double cy = m_dWinBottom + h * (ch - y) / ch;
    if (m_bZoomIn) {
        if (w < kSmallestWindow || h < kSmallestWindow) {
            ShowWholeFrame();
        } else {
            ZoomAxis(m_dWinLeft, m_dWinRight, cx, w, true);
            ZoomAxis(m_dWinBottom, m_dWinTop, cy, h, true);
        }
    } else if (m_bZoomOut) {
        if (w >= kLargestWindow || h >= kLargestWindow) {
            ShowWholeFrame();
        } else {
            ZoomAxis(m_dWinLeft, m_dWinRight, cx, w, false);
            ZoomAxis(m_dWinBottom, m_dWinTop, cy, h, false);
        }
    } else {
        return false;
    }
    RefreshWindowSize();
    // Window edges such as 0.1 come out a hair below their value; without the allowance a window
    // at (0.1, 0.9) would scroll to 499 instead of half way.
    constexpr double kRoundingAllowance = 1e-9;
    if (m_dWinWidth < 1)
        m_nHScrollPos = std::min(
            ToClientInt(kScrollRange * m_dWinLeft / (1 - m_dWinWidth) + kRoundingAllowance), kScrollRange);
    if (m_dWinHeight < 1)
        m_nVScrollPos = std::min(
            ToClientInt(kScrollRange * (1 - m_dWinTop) / (1 - m_dWinHeight) + kRoundingAllowance), kScrollRange);

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
    RefreshWindowSize();
    const double scrollable = m_dWinHeight > 0 ? std::trunc(clientHeight / m_dWinHeight) - clientHeight : 0;
    const int line = scrollable > 0 ? ScrollStep(textHeight * 1000.0 / scrollable) : 1;
    const int page = scrollable > 0 ? ScrollStep(clientHeight * 1000.0 / scrollable) : 1;
    m_nVScrollPos = ScrollPosition(code, m_nVScrollPos, thumb, line, page);
    if (m_dWinHeight < 1) {
        // Position 0 shows the top of the frame.
        m_dWinBottom = (1 - m_dWinHeight) * (kScrollRange - m_nVScrollPos) / kScrollRange;
        m_dWinTop = m_dWinBottom + m_dWinHeight;
    }
    return m_nVScrollPos;
}

int ViewState::OnHScroll(int code, int thumb, int clientWidth, int textWidth)
{
    RefreshWindowSize();
    const double scrollable = m_dWinWidth > 0 ? std::trunc(clientWidth / m_dWinWidth) - clientWidth : 0;
    const int line = scrollable > 0 ? ScrollStep(textWidth * 1000.0 / scrollable) : 1;
    const int page = scrollable > 0 ? ScrollStep(clientWidth * 1000.0 / scrollable) : 1;
    m_nHScrollPos = ScrollPosition(code, m_nHScrollPos, thumb, line, page);
    if (m_dWinWidth < 1) {
        m_dWinLeft = (1 - m_dWinWidth) * m_nHScrollPos / kScrollRange;
        m_dWinRight = m_dWinLeft + m_dWinWidth;
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
        RefreshWindowSize();
        if (wx < m_dWinLeft || wx > m_dWinRight || wy < m_dWinBottom || wy > m_dWinTop) {
            // Centred where it can be; a window within the frame stays within it.
            const auto centre = [](double at, double size) {
                const double low = at - size / 2;
                return size < 1 ? std::clamp(low, 0.0, 1.0 - size) : low;
            };
            m_dWinLeft = centre(wx, m_dWinWidth);
            m_dWinRight = m_dWinLeft + m_dWinWidth;
            m_dWinBottom = centre(wy, m_dWinHeight);
            m_dWinTop = m_dWinBottom + m_dWinHeight;
            if (m_dWinWidth < 1)
                m_nHScrollPos = static_cast<int>(kScrollRange * m_dWinLeft / (1 - m_dWinWidth) + 1e-9);
            if (m_dWinHeight < 1)
                m_nVScrollPos = static_cast<int>(kScrollRange * (1 - m_dWinTop) / (1 - m_dWinHeight) + 1e-9);
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
    m_bSetPoints = 0;
    m_bZoomIn = m_bZoomOut = m_bMovePoint = m_bDeletePoint = m_bMeasure = m_bSelectRange = 0;
}

void ViewState::ForgetRangeAndMeasure()
{
    // Output and Export crop by the range while the range tool is on: a new map is written
    // whole until a range is dragged over it. A measurement belongs to its map as much.
    m_bSelectRange = 0;
    m_bRangeDragging = 0;
    m_ptRangeStart = m_ptRangeEnd = QPoint(-1, -1);
    m_dRangeLeft = m_dRangeRight = m_dRangeBottom = m_dRangeTop = 0.0;
    m_rcRangeSave = QRect();
    m_bMeasure = 0;
    m_bMeasuring = 0;
    m_rcMeasureSave = QRect();
}

bool ViewState::HasRange() const
{
    return m_ptRangeStart != QPoint(-1, -1) && m_ptRangeEnd != QPoint(-1, -1);
}

namespace {

/// Toggles one tool flag; every other tool goes off.
void ToggleTool(ViewState& view, BOOL& flag)
{
    const BOOL on = !flag;
    view.ClearTools();
    flag = on;
}

} // namespace

void ViewState::OnZoomIn(const CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        ToggleTool(*this, m_bZoomIn);
}

void ViewState::OnZoomOut(const CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        ToggleTool(*this, m_bZoomOut);
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
        ToggleTool(*this, m_bSetPoints);
}

void ViewState::OnMovePoints(const CQuilletDoc& doc, ViewHost& host)
{
    if (!doc.IsMapLoaded())
        return;
    ToggleTool(*this, m_bMovePoint);
    if (m_bMovePoint)
        m_nSelectedPoint = -1;
    host.Invalidate();
}

void ViewState::OnDeletePoint(const CQuilletDoc& doc)
{
    if (!doc.IsMapLoaded())
        return;
    ToggleTool(*this, m_bDeletePoint);
    if (m_bDeletePoint)
        m_nSelectedPoint = -1;
}

void ViewState::OnMeasure(const CQuilletDoc& doc)
{
    if (doc.IsGeoCoded())
        ToggleTool(*this, m_bMeasure);
}

void ViewState::OnSelectRange(ViewHost& host)
{
    if (!m_bSelectRange) {
        ClearTools();
        m_bSelectRange = 1;
    } else {
        m_bSelectRange = 0;
        m_ptRangeStart = m_ptRangeEnd = QPoint(-1, -1);
    }
    host.Invalidate();
}
