#include "app/CAboutDlg.h"

#include "app/DialogLayout.h"
#include "platform/Version.h"
#include "resources/Artwork.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const DialogUnits units;
    units.SetUp(this, 235, 55);
    setWindowTitle(QStringLiteral("About Varnel"));

    auto* icon = new QLabel(this);
    icon->setPixmap(ApplicationIcon().pixmap(32, 32));
    icon->move(units.ToPixels(11, 17, 0, 0).topLeft());
    icon->resize(32, 32);
    auto* name = new QLabel(QStringLiteral("Varnel Version %1").arg(VarnelVersion()), this);
    units.Place(name, 40, 10, 119, 8);
    auto* line = new QLabel(QStringLiteral("Geo-coding for scanned maps"), this);
    units.Place(line, 40, 25, 130, 8);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    units.Place(ok, 178, 7, 50, 16);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
