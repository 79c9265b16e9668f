#pragma once

/// A view of the document: told when the document's data changed so that it can update and
/// repaint. hint 0 means "everything may have changed".
class CView {
public:
    virtual ~CView() = default;
    virtual void OnUpdate(CView* sender, long hint) = 0;
};
