#pragma once

#include <QMainWindow>

class CQuilletDoc;

/// The main frame window of the single document.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CQuilletDoc& document, QWidget* parent = nullptr);

    CQuilletDoc& Document() const { return m_Document; }

private:
    CQuilletDoc& m_Document;
};
