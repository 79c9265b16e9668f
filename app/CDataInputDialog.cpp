#include "app/CDataInputDialog.h"

#include "app/DialogLayout.h"
#include "platform/WinTypes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CDataInputDialog::CDataInputDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const DialogUnits units;
    units.SetUp(this, 150, 113);
    setWindowTitle(QString());

    auto* prompt = new QLabel(QStringLiteral("Please input the latitude and longitude \n for this point (Decimal Degree)"), this);
    prompt->setObjectName(QStringLiteral("1000"));
    units.Place(prompt, 13, 12, 129, 19);
    auto* latitudeLabel = new QLabel(QStringLiteral("Latitude"), this);
    units.Place(latitudeLabel, 27, 46, 27, 8);
    m_pLatitude = new QLineEdit(this);
    m_pLatitude->setObjectName(QStringLiteral("1001"));
    units.Place(m_pLatitude, 65, 42, 54, 14);
    auto* longitudeLabel = new QLabel(QStringLiteral("Longitude"), this);
    units.Place(longitudeLabel, 27, 66, 32, 8);
    m_pLongitude = new QLineEdit(this);
    m_pLongitude->setObjectName(QStringLiteral("1002"));
    units.Place(m_pLongitude, 66, 64, 53, 14);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    units.Place(ok, 7, 92, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    units.Place(cancel, 83, 92, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(m_pLatitude, m_pLongitude);
    setTabOrder(m_pLongitude, ok);
    setTabOrder(ok, cancel);
}

int CDataInputDialog::DoModal()
{
    m_pLatitude->setText(m_strLatitude);
    m_pLongitude->setText(m_strLongitude);
    QLineEdit* focus = m_nFocusField == 1 ? m_pLongitude : m_pLatitude;
    focus->setFocus();
    focus->selectAll();
    if (exec() != QDialog::Accepted)
        return IDCANCEL;
    m_strLatitude = m_pLatitude->text();
    m_strLongitude = m_pLongitude->text();
    return IDOK;
}
