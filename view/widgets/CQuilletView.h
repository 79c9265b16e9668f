#pragma once

#include "commands/PointEditCommands.h"
#include "view/core/OverlayPainter.h"
#include "document/CView.h"
#include "view/core/ViewHost.h"
#include "view/core/ViewState.h"

#include <QAbstractScrollArea>
#include <QImage>

#include <functional>

class CQuilletDoc;

/// The one view of the document: shows the map in its client area (the scroll area's
/// viewport) and turns mouse, scroll-bar and paint events into calls on its ViewState, whose
/// point edits go to the commands. The map is painted into a cached image, which is also the
/// view's picture of the last paint; moving feedback (rubber bands, a dragged marker) is drawn
/// over that cache without painting the map again.
class CQuilletView : public QAbstractScrollArea, public CView, public ViewHost {
    Q_OBJECT
public:
    explicit CQuilletView(CQuilletDoc& document, QWidget* parent = nullptr);
    ~CQuilletView() override;

    CQuilletDoc& GetDocument() const { return m_Document; }
    ViewState& State() { return m_State; }
    const ViewState& State() const { return m_State; }
    /// Where the mouse's point edits go.
    ViewActions& Actions() { return m_Edits; }

    /// Where status-pane texts go (the main frame's SetPaneText).
    std::function<void(const QString&, int)> m_SetPaneText;
    /// Called after the mouse changed what the commands' enable and check states depend on.
    std::function<void()> m_OnStateChanged;
    /// Called with the point picked on the map (the control-point table chooses its row).
    std::function<void(int)> m_OnPointPicked;

    void OnUpdate(CView* sender, long hint) override;

    // ViewHost
    QSize ClientSize() const override;
    void Invalidate() override;
    void InvalidateFeedback(const QRect& rect) override;
    void SetCapture() override;
    void ReleaseCapture() override;
    void SetPaneText(const QString& text, int index) override;
    int TextHeight() const override;
    void PointPicked(int index) override;

    /// Tells the main frame that what the commands' states depend on may have changed.
    void NotifyStateChanged()
    {
        if (m_OnStateChanged)
            m_OnStateChanged();
    }
    /// Sets the cursor of the current tool.
    void UpdateCursor();
    /// Shows the scroll bars while zoomed in, at the view's positions.
    void SyncScrollBars();
    /// The lines drawn over the map through its geo-coding (the graticule, reference lines).
    void SetOverlays(std::vector<MapOverlayLayer> layers);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void OnScrollAction(Qt::Orientation orientation, int action);
    void RenderMap();

    CQuilletDoc& m_Document;
    ViewState m_State;
    PointEditCommands m_Edits;
    std::vector<MapOverlayLayer> m_Overlays;
    QImage m_MapPaint;       ///< the map as last painted
    bool m_bMapDirty = true; ///< the map must be painted again
    bool m_bMemoryShort = false; ///< the last paint found no memory for its pictures (and said so)
    bool m_bCaptured = false;
};
