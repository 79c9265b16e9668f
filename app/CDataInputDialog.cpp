#include "app/CDataInputDialog.h"

#include "app/DialogLayout.h"
#include "platform/WinTypes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CDataInputDialog::CDataInputDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const DialogUnits units;
    units.SetUp(this, 150, 113);
    setWindowTitle(QString());

    const QString degreesPrompt = QStringLiteral("Please input the latitude and longitude \n for this point (Decimal Degree)");
    auto* prompt = new QLabel(degreesPrompt, this);
    prompt->setObjectName(QStringLiteral("1000"));
    units.Place(prompt, 13, 12, 129, 19);
    auto* latitudeLabel = m_pLatitudeLabel = new QLabel(QStringLiteral("Latitude"), this);
    units.Place(latitudeLabel, 27, 46, 27, 8);
    m_pLatitude = new QLineEdit(this);
    m_pLatitude->setObjectName(QStringLiteral("1001"));
    units.Place(m_pLatitude, 65, 42, 54, 14);
    auto* longitudeLabel = m_pLongitudeLabel = new QLabel(QStringLiteral("Longitude"), this);
    units.Place(longitudeLabel, 27, 66, 32, 8);
    m_pLongitude = new QLineEdit(this);
    m_pLongitude->setObjectName(QStringLiteral("1002"));
    units.Place(m_pLongitude, 66, 64, 53, 14);

    // Offered only for a map fitted in a projected system, between the fields and the buttons.
    m_pProjected = new QCheckBox(this);
    units.Place(m_pProjected, 13, 80, 134, 10);
    m_pProjected->hide();
    connect(m_pProjected, &QCheckBox::toggled, this, [this, prompt, degreesPrompt](bool projected) {
        prompt->setText(projected ? QStringLiteral("Please input the northing and easting \n for this point (%1)")
                                        .arg(m_strProjectedCrs)
                                  : degreesPrompt);
        m_pLatitudeLabel->setText(projected ? QStringLiteral("Northing") : QStringLiteral("Latitude"));
        m_pLongitudeLabel->setText(projected ? QStringLiteral("Easting") : QStringLiteral("Longitude"));
    });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    units.Place(ok, 7, 92, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    units.Place(cancel, 83, 92, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_pPick = new QPushButton(QStringLiteral("Pick on Reference"), this);
    units.Place(m_pPick, 7, 112, 126, 14);
    m_pPick->hide();
    connect(m_pPick, &QPushButton::clicked, this, [this] { done(kPickOnReference); });

    setTabOrder(m_pLatitude, m_pLongitude);
    setTabOrder(m_pLongitude, ok);
    setTabOrder(ok, cancel);
}

int CDataInputDialog::DoModal()
{
    m_pLatitude->setText(m_strLatitude);
    m_pLongitude->setText(m_strLongitude);
    m_pProjected->setText(QStringLiteral("Easting and northing in %1").arg(m_strProjectedCrs));
    m_pProjected->setVisible(!m_strProjectedCrs.isEmpty());
    m_pProjected->setChecked(m_bProjected && !m_strProjectedCrs.isEmpty());
    QLineEdit* focus = m_nFocusField == 1 ? m_pLongitude : m_pLatitude;
    focus->setFocus();
    focus->selectAll();
    if (m_bOfferPick) {
        m_pPick->show();
        setFixedHeight(m_pPick->geometry().bottom() + m_pPick->height() / 2);
    }
    const int result = exec();
    if (result != QDialog::Accepted && result != kPickOnReference)
        return IDCANCEL;
    m_strLatitude = m_pLatitude->text();
    m_strLongitude = m_pLongitude->text();
    m_bProjected = m_pProjected->isChecked();
    return result == kPickOnReference ? kPickOnReference : IDOK;
}
