#pragma once

#include "document/CView.h"

#include <vector>

/// A view that only counts the update requests it receives.
class RecordingView : public CView {
public:
    void OnUpdate(CView* sender, long hint) override
    {
        m_Senders.push_back(sender);
        m_Hints.push_back(hint);
    }
    int Updates() const { return static_cast<int>(m_Hints.size()); }

    std::vector<CView*> m_Senders;
    std::vector<long> m_Hints;
};
