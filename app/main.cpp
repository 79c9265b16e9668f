#include "app/CMainFrame.h"
#include "document/CQuilletDoc.h"
#include "platform/QtUiServices.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    QApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));

    CQuilletDoc document;
    CMainFrame frame(document);
    QtUiServices ui(&frame);
    ScopedUiServices installed(ui);
    frame.show();
    return QApplication::exec();
}
