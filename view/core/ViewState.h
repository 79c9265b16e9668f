#pragma once

#include "document/GeoTiffInfo.h"
#include "imaging/DIBSection.h"
#include "platform/WinTypes.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>

class CCmdUI;
class CQuilletDoc;
class UtmProjection;
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
/// scroll), the display copy of a TIFF image, the UTM projection of a GeoTIFF frame, and the
/// state of the rubber-band tools. The operations here are the view's commands, its document
/// update and its zoom and scroll arithmetic; the window that shows the view is reached through
/// a ViewHost.
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
    /// Makes the display copy from image m_nSelectedImage (nothing valid: an empty copy).
    void RebuildDisplayCopy(CQuilletDoc& doc, QSize size);

    /// Zoom by click at client point (x, y) with the zoom-in or zoom-out tool. A point outside the
    /// client area is refused with a message. Returns true when the window changed.
    bool ZoomAtPoint(CQuilletDoc& doc, ViewHost& host, int x, int y);

    /// Scrolling: the new position for a scroll code, and the window moved to it. thumb is the
    /// position the bar reports for thumb codes; textHeight the line step in pixels.
    int OnVScroll(int code, int thumb, int clientHeight, int textHeight);
    int OnHScroll(int code, int thumb, int clientWidth, int textWidth);

    /// The document changed (hint 0) or only needs repainting (CQuilletDoc::kHintRepaint). For a
    /// TIFF map a full update selects image 0 and sets up its GeoTIFF frame and display copy.
    void OnUpdate(CQuilletDoc& doc, ViewHost& host, long hint);

    // --- commands -------------------------------------------------------------------------------
    void OnZoomIn(CQuilletDoc& doc);
    void OnZoomOut(CQuilletDoc& doc);
    void OnFitInWindow(CQuilletDoc& doc);
    void OnSetPoints(CQuilletDoc& doc);
    void OnMovePoints(CQuilletDoc& doc, ViewHost& host);
    void OnDeletePoint(CQuilletDoc& doc);
    void OnMeasure(CQuilletDoc& doc);
    void OnSelectRange(CQuilletDoc& doc, ViewHost& host);
    void OnSelectImages(CQuilletDoc& doc, ViewHost& host);
    void OnInputOptions(CQuilletDoc& doc);
    void OnUpdateZoomIn(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateZoomOut(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateFitInWindow(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateSetPoints(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateMovePoints(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateDeletePoint(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateMeasure(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateSelectRange(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateSelectImages(const CQuilletDoc& doc, CCmdUI& ui) const;
    void OnUpdateInputOptions(const CQuilletDoc& doc, CCmdUI& ui) const;

    // --- mouse ----------------------------------------------------------------------------------
    /// Sets m_nSelectedPoint to the point whose marker centre lies within 3 pixels of (x, y) in
    /// both directions, the nearest by |dx| + |dy| (the earlier point on a tie), or -1.
    void HitTestPoint(const CQuilletDoc& doc, int cw, int ch, int x, int y);
    void OnLButtonDown(CQuilletDoc& doc, ViewHost& host, QPoint point);
    void OnLButtonUp(CQuilletDoc& doc, ViewHost& host, QPoint point);
    void OnLButtonDblClk(CQuilletDoc& doc, ViewHost& host, QPoint point);
    /// Pointer read-out, rubber bands and the dragged marker.
    void OnMouseMove(CQuilletDoc& doc, ViewHost& host, QPoint point);
    /// The cursor of the current tool: an icon id (130, 131, 132, 135), 0 for the ordinary
    /// arrow, or -1 to leave the cursor as it is (measuring).
    int CursorId(const CQuilletDoc& doc) const;

    /// The client rectangle a point marker centred at point covers.
    static QRect MarkerRect(QPoint point);
    /// The rectangle a rubber band between two corners covers (one pixel around it).
    static QRect BandRect(QPoint a, QPoint b);

    /// Clears every tool flag, the document's Set points flag included.
    void ClearTools(CQuilletDoc& doc);
    /// A range has been dragged since the range tool was last switched off.
    bool HasRange() const;

    int m_nSelectedImage = 0;          ///< image of m_Images chosen with Select images
    GeoTiffInfo m_GeoInfo;             ///< georeference of the displayed TIFF image
    bool m_bGeoTiffFrame = false;      ///< frame units are degrees from the image's georeference
    DIBSection m_DisplayDib;           ///< the TIFF image resampled to its on-screen size
    std::unique_ptr<UtmProjection> m_pUtmProj; ///< UTM projection of the displayed GeoTIFF image
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

private:
    /// Asks for a point's coordinates with the dialog of the input option, starting from
    /// coordinates when given, until the fields read as numbers or the dialog is cancelled.
    bool AskCoordinates(const CQuilletDoc& doc, double& latitude, double& longitude, bool prefill);
    void SetUpGeoTiffFrame(CQuilletDoc& doc, const DIBSection& image);
};
