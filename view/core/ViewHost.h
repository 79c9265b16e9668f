#pragma once

#include <QRect>
#include <QSize>
#include <QString>

/// What the map view's logic asks of the window that shows it: its client size, repaints,
/// mouse capture, the status panes and the height of a line of text.
class ViewHost {
public:
    virtual ~ViewHost() = default;
    /// The client area in pixels (read afresh at every use).
    virtual QSize ClientSize() const = 0;
    /// Repaints the whole client area (the map is painted again).
    virtual void Invalidate() = 0;
    /// Repaints the part of the client area that moving feedback covered or covers now; the map
    /// itself is not painted again.
    virtual void InvalidateFeedback(const QRect& rect) = 0;
    virtual void SetCapture() = 0;
    virtual void ReleaseCapture() = 0;
    /// Puts text into status pane index (0 to 4); an empty text in pane 0 puts back its idle prompt.
    virtual void SetPaneText(const QString& text, int index) = 0;
    /// Height in pixels of the text "X" in the client area's font (the scroll bars' line step).
    virtual int TextHeight() const = 0;
    /// Point index was picked on the map (to move or edit it): the window shows it as chosen.
    virtual void PointPicked(int index) { (void)index; }
};
