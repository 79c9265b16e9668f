#include "app/CMainFrame.h"

#include "document/CQuilletDoc.h"

#include <QLabel>

CMainFrame::CMainFrame(CQuilletDoc& document, QWidget* parent) : QMainWindow(parent), m_Document(document)
{
    setWindowTitle(QStringLiteral("Varnel"));
    auto* client = new QLabel(this);
    client->setBackgroundRole(QPalette::Base);
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    resize(800, 600);
}
