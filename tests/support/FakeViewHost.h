#pragma once

#include "view/core/ViewHost.h"

#include <map>
#include <vector>

/// A window of fixed size for the view's logic: it records repaints, capture and pane texts.
class FakeViewHost : public ViewHost {
public:
    explicit FakeViewHost(QSize size = QSize(401, 301)) : m_Size(size) {}

    QSize ClientSize() const override { return m_Size; }
    void Invalidate() override { ++m_nInvalidations; }
    void InvalidateFeedback(const QRect& rect) override { m_Feedback.push_back(rect); }
    void SetCapture() override { m_bCaptured = true; }
    void ReleaseCapture() override { m_bCaptured = false; }
    void SetPaneText(const QString& text, int index) override
    {
        m_Panes[index] = text;
        m_PaneOrder.push_back(index);
    }
    int TextHeight() const override { return m_nTextHeight; }

    QSize m_Size;
    int m_nInvalidations = 0;
    std::vector<QRect> m_Feedback;
    bool m_bCaptured = false;
    std::map<int, QString> m_Panes;
    std::vector<int> m_PaneOrder;
    int m_nTextHeight = 16;
};
