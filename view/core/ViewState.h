#pragma once

#include "geo/CDataGeo.h"
#include "imaging/DIBSection.h"

#include <QImage>
#include <QLine>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <memory>
#include <optional>

class CQuilletDoc;
class ViewActions;
class ViewHost;

/// Scroll codes of the scroll bars, as the platform numbers them.
enum ScrollCode {
    SB_LINEUP = 0, SB_LINELEFT = 0,
    SB_LINEDOWN = 1, SB_LINERIGHT = 1,
    SB_PAGEUP = 2, SB_PAGELEFT = 2,
    SB_PAGEDOWN = 3, SB_PAGERIGHT = 3,
    SB_THUMBPOSITION = 4,
    SB_THUMBTRACK = 5,
    SB_TOP = 6, SB_LEFT = 6,
    SB_BOTTOM = 7, SB_RIGHT = 7,
    SB_ENDSCROLL = 8,
};

/// The pointer tools of the map view; at most one is on at a time.
enum class Tool { None, SetPoints, ZoomIn, ZoomOut, MovePoint, DeletePoint, Measure, SelectRange };

/// The view window: the part of the displayed frame shown in the client area, in window units
/// (fractions of the displayed frame, y upward). (0, 0, 1, 1) shows the whole frame; a smaller
/// window is zoomed in, a larger one, reaching outside 0..1, zoomed out.
struct ViewWindow {
    double m_dLeft = 0.0;
    double m_dBottom = 0.0;
    double m_dRight = 1.0;
    double m_dTop = 1.0;

    double Width() const { return m_dRight - m_dLeft; }
    double Height() const { return m_dTop - m_dBottom; }
    friend bool operator==(const ViewWindow&, const ViewWindow&) = default;
};

/// The part of the picture to write: fractions of its width from the left edge and of its
/// height from the top edge. m_bDragged is false while the range tool is on but nothing has
/// been dragged yet.
struct OutputRange {
    bool m_bDragged = false;
    double m_dLeft = 0.0;
    double m_dRight = 0.0;
    double m_dTop = 0.0;
    double m_dBottom = 0.0;
};

/// Everything the map view knows besides its window: the pointer tool, the view window (zoom and
/// scroll), the displayed frame, the display copy of a TIFF image, the state of the rubber-band
/// tools and the picture of the last paint. The operations here are the view's tool commands, its
/// reaction to document changes and its zoom and scroll arithmetic. It reads the document and
/// writes only its own state: edits go through ViewActions, the window through a ViewHost.
class ViewState {
public:
    ViewState();
    ~ViewState();
    ViewState(const ViewState&) = delete;
    ViewState& operator=(const ViewState&) = delete;

    // --- what the view shows ----------------------------------------------------------------------
    Tool ActiveTool() const { return m_Tool; }
    const ViewWindow& Window() const { return m_Window; }
    /// A window kept in a workspace or a recovery file, shown again.
    void SetWindow(const ViewWindow& window) { m_Window = window; }
    /// The whole frame: window (0, 0, 1, 1).
    void ShowWholeFrame();
    /// Scroll-bar positions, 0 to 1000; 0 shows the top and the left edge of the frame.
    int HScrollPos() const { return m_nHScrollPos; }
    int VScrollPos() const { return m_nVScrollPos; }
    /// The displayed frame: the map widened, centred, to the client's proportions (frame units).
    const CDataGeo& FrameOrigin() const { return m_FrameOrigin; }
    const CDataGeo& FrameExtent() const { return m_FrameExtent; }
    void SetFrame(const CDataGeo& origin, const CDataGeo& extent);
    /// The TIFF image resampled to its on-screen size.
    const DIBSection& DisplayCopy() const { return m_DisplayDib; }
    /// The client area as last painted (Save As Bitmap, printing); null before the first paint of a map.
    const QImage* ViewBitmap() const { return m_pViewBitmap.get(); }
    void KeepViewBitmap(std::unique_ptr<QImage> bitmap) { m_pViewBitmap = std::move(bitmap); }
    /// Residual vectors are drawn from the markers.
    bool ShowsResiduals() const { return m_bShowResiduals; }
    void ToggleResiduals() { m_bShowResiduals = !m_bShowResiduals; }
    /// The point chosen in the control-point table, -1 none.
    int HighlightedPoint() const { return m_nHighlightedPoint; }
    void HighlightPoint(int index) { m_nHighlightedPoint = index; }
    /// The point picked by Move Points or Delete Point, -1 none.
    int SelectedPoint() const { return m_nSelectedPoint; }
    /// The point being dragged with Move Points (left out of drawing and hit tests), -1 none.
    int DraggedPoint() const { return m_nDraggedPoint; }
    /// Frame position of a point being added, while its coordinates are asked.
    const std::optional<QPointF>& PendingPoint() const { return m_PendingPoint; }
    /// The range to write while the range tool is on; nothing (the whole map) otherwise.
    std::optional<OutputRange> SelectedOutputRange() const;
    /// The corners of the range last dragged (client pixels) while the range tool is on.
    std::optional<QLine> RangeCorners() const;
    /// The range rubber band while it is being dragged.
    std::optional<QLine> RangeBeingDragged() const;
    /// The measuring line while a measurement is dragged.
    std::optional<QLine> MeasuringLine() const;
    /// Where the marker of the point being moved is drawn.
    std::optional<QPoint> MovingMarker() const;

    /// Size at which the TIFF display copy is made: the picture rectangle's size for this client,
    /// limited to the image size; (0, 0) without a map.
    QSize GetDisplaySize(const CQuilletDoc& doc, int cw, int ch) const;
    /// Makes the display copy from the document's current image (none: an empty copy).
    void RebuildDisplayCopy(const CQuilletDoc& doc, QSize size);
    /// Recomputes the displayed frame for the host's client and remakes the display copy of a
    /// TIFF map at the size it is shown.
    void RebuildForClient(const CQuilletDoc& doc, const ViewHost& host);

    /// Zoom by click at client point (x, y) with the zoom-in or zoom-out tool. A point outside the
    /// client area is refused. Returns true when the window changed.
    bool ZoomAtPoint(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, int x, int y);

    /// Scrolling: the new position for a scroll code, and the window moved to it. thumb is the
    /// position the bar reports for thumb codes; textHeight the line step in pixels.
    int OnVScroll(int code, int thumb, int clientHeight, int textHeight);
    int OnHScroll(int code, int thumb, int clientWidth, int textWidth);

    /// The document says what changed (DocChange bits): a new map resets the displayed frame to
    /// the map's, forgets the range and remakes the display copy, another image remakes the
    /// display copy; the client area is repainted in every case.
    void OnUpdate(const CQuilletDoc& doc, ViewHost& host, long hint);

    // --- tool commands ----------------------------------------------------------------------------
    void OnZoomIn(const CQuilletDoc& doc);
    void OnZoomOut(const CQuilletDoc& doc);
    /// The whole frame in the window again.
    void OnFitInWindow(const CQuilletDoc& doc, ViewHost& host);
    void OnSetPoints(const CQuilletDoc& doc);
    void OnMovePoints(const CQuilletDoc& doc, ViewHost& host);
    void OnDeletePoint(const CQuilletDoc& doc);
    void OnMeasure(const CQuilletDoc& doc);
    void OnSelectRange(ViewHost& host);

    // --- mouse ----------------------------------------------------------------------------------
    /// Sets m_nSelectedPoint to the point whose marker centre lies within 3 pixels of (x, y) in
    /// both directions, the nearest by |dx| + |dy| (the earlier point on a tie), or -1.
    void HitTestPoint(const CQuilletDoc& doc, int cw, int ch, int x, int y);
    void OnLButtonDown(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, QPoint point);
    /// With Set points a click on a point edits it and a click beside the picture adds nothing.
    void OnLButtonUp(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, QPoint point);
    /// Edits the point double-clicked, except with Set points, whose click has done so already.
    void OnLButtonDblClk(const CQuilletDoc& doc, ViewHost& host, ViewActions& actions, QPoint point);
    /// Pointer read-out, rubber bands and the dragged marker.
    void OnMouseMove(const CQuilletDoc& doc, ViewHost& host, QPoint point);
    /// The cursor of the current tool: an icon id (130, 131, 132, 135), 0 for the ordinary
    /// arrow, or -1 to leave the cursor as it is (measuring).
    int CursorId() const;

    /// The client rectangle a point marker centred at point covers.
    static QRect MarkerRect(QPoint point);
    /// The rectangle a rubber band between two corners covers (one pixel around it).
    static QRect BandRect(QPoint a, QPoint b);

    /// No tool on.
    void ClearTools();
    /// Highlights point index (-1: none) and, when it lies outside the window, moves the window
    /// to centre it, keeping the zoom.
    void ShowPoint(const CQuilletDoc& doc, ViewHost& host, int index);
    /// A range has been dragged since the range tool was last switched off.
    bool HasRange() const;
    /// No range and no measurement, their tools off: how a new map starts.
    void ForgetRangeAndMeasure();

private:
    friend struct ViewStateProbe; // the tests' look at the rubber-band state

    /// Turns tool on, or off when it is on already; every other tool goes off.
    void ToggleTool(Tool tool);
    /// The scroll positions that show the window after a zoom or a jump to a point.
    void ScrollTo(double width, double height);

    Tool m_Tool = Tool::None;
    ViewWindow m_Window;
    CDataGeo m_FrameOrigin;            ///< south-west corner of the displayed frame (frame units)
    CDataGeo m_FrameExtent{1.0, 1.0};  ///< spans of the displayed frame
    DIBSection m_DisplayDib;
    std::unique_ptr<QImage> m_pViewBitmap;
    bool m_bShowResiduals = false;
    int m_nHighlightedPoint = -1;
    int m_nDraggedPoint = -1;
    std::optional<QPointF> m_PendingPoint;
    QRect m_rcMoveSave;                ///< client rectangle under the dragged marker
    int m_nVScrollPos = 0;
    int m_nHScrollPos = 0;
    int m_nSelectedPoint = -1;
    QRect m_rcMeasureSave;             ///< client rectangle under the measuring line
    QPoint m_ptMeasureStart;
    QPoint m_ptMeasureEnd;
    bool m_bMeasuring = false;         ///< a measurement drag is in progress
    QPoint m_ptRangeStart{-1, -1};
    QPoint m_ptRangeEnd{-1, -1};
    QRect m_rcRangeSave;               ///< client rectangle under the range rectangle
    bool m_bRangeDragging = false;     ///< a range drag is in progress
    double m_dRangeLeft = 0.0;         ///< output range, fractions of the picture's width ...
    double m_dRangeRight = 0.0;
    double m_dRangeBottom = 0.0;       ///< ... and of its height, counted from the top
    double m_dRangeTop = 0.0;
    QPoint m_ptMoveAt{-1, -1};         ///< where the dragged marker is drawn; (-1, -1) none
    QPoint m_ptMovePressedAt{-1, -1};  ///< where the dragged point was picked up
};
