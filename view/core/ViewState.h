#pragma once

#include "geo/CDataGeo.h"
#include "imaging/DIBSection.h"
#include "platform/WinTypes.h"

#include <QImage>
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

    // --- view window ---------------------------------------------------------------------------
    /// Recomputes m_dWinWidth and m_dWinHeight from the four edges.
    void RefreshWindowSize();
    /// The whole frame: window (0, 0, 1, 1).
    void ShowWholeFrame();
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

    /// Clears every tool flag.
    void ClearTools();
    /// Highlights point index (-1: none) and, when it lies outside the window, moves the window
    /// to centre it, keeping the zoom.
    void ShowPoint(const CQuilletDoc& doc, ViewHost& host, int index);
    /// A range has been dragged since the range tool was last switched off.
    bool HasRange() const;
    /// No range and no measurement, their tools off: how a new map starts.
    void ForgetRangeAndMeasure();

    CDataGeo m_FrameOrigin;            ///< south-west corner of the displayed frame (frame units)
    CDataGeo m_FrameExtent{1.0, 1.0};  ///< spans of the displayed frame
    DIBSection m_DisplayDib;           ///< the TIFF image resampled to its on-screen size
    std::unique_ptr<QImage> m_pViewBitmap; ///< the client area as last painted (Save As Bitmap, printing)
    BOOL m_bSetPoints = 0;             ///< the Set points tool is on
    BOOL m_bShowResiduals = 0;         ///< residual vectors are drawn from the markers
    int m_nHighlightedPoint = -1;      ///< point chosen in the control-point table, -1 none
    int m_nDraggedPoint = -1;          ///< point being dragged with Move Points: left out of drawing and hit tests
    std::optional<QPointF> m_PendingPoint; ///< frame position of a point being added, while its coordinates are asked
    QRect m_rcMoveSave;                ///< client rectangle under the dragged marker
    double m_dWinLeft = 0.0;
    double m_dWinBottom = 0.0;
    double m_dWinRight = 1.0;
    double m_dWinTop = 1.0;
    double m_dWinWidth = 1.0;
    double m_dWinHeight = 1.0;
    int m_nVScrollPos = 0;
    int m_nHScrollPos = 0;
    BOOL m_bZoomOut = 0;
    BOOL m_bZoomIn = 0;
    BOOL m_bDeletePoint = 0;
    BOOL m_bMovePoint = 0;
    int m_nSelectedPoint = -1;         ///< point picked by Move Points or Delete Point, -1 none
    QRect m_rcMeasureSave;             ///< client rectangle under the measuring line
    BOOL m_bMeasure = 0;
    QPoint m_ptMeasureStart;
    QPoint m_ptMeasureEnd;
    BOOL m_bMeasuring = 0;
    QPoint m_ptRangeStart{-1, -1};
    QPoint m_ptRangeEnd{-1, -1};
    QRect m_rcRangeSave;               ///< client rectangle under the range rectangle
    BOOL m_bSelectRange = 0;
    BOOL m_bRangeDragging = 0;
    double m_dRangeLeft = 0.0;         ///< output range, fractions of the picture's width ...
    double m_dRangeRight = 0.0;
    double m_dRangeBottom = 0.0;       ///< ... and of its height, counted from the top
    double m_dRangeTop = 0.0;
    QPoint m_ptMoveAt{-1, -1};         ///< where the dragged marker is drawn; (-1, -1) none
    QPoint m_ptMovePressedAt{-1, -1};  ///< where the dragged point was picked up

};
