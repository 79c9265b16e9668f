#pragma once

#include "platform/CView.h"

#include <QWidget>

class CQuilletDoc;

/// The one view of the document: shows the map in the client area.
class CQuilletView : public QWidget, public CView {
    Q_OBJECT
public:
    explicit CQuilletView(CQuilletDoc& document, QWidget* parent = nullptr);
    ~CQuilletView() override;

    CQuilletDoc& GetDocument() const { return m_Document; }

    void OnUpdate(CView* sender, long hint) override;

    /// Input Options: chooses how control-point coordinates are typed.
    void OnInputOptions();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CQuilletDoc& m_Document;
};
