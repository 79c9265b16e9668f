#include "app/DialogDegMinSec.h"

#include "app/DialogLayout.h"
#include "platform/WinTypes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

DialogDegMinSec::DialogDegMinSec(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const DialogUnits units;
    units.SetUp(this, 210, 105);
    setWindowTitle(QStringLiteral("Point Geoinformation"));

    auto* prompt = new QLabel(QStringLiteral("Please input the latitude and longitude \n for this point"), this);
    units.Place(prompt, 14, 8, 130, 18);
    const struct {
        const char* text;
        int x, y;
    } labels[] = {{"Degree", 53, 31}, {"Minute", 103, 31}, {"Second", 147, 31}, {"Latitude", 11, 43}, {"Longitude", 11, 62}};
    for (const auto& l : labels) {
        auto* label = new QLabel(QString::fromLatin1(l.text), this);
        label->adjustSize();
        label->move(units.ToPixels(l.x, l.y, 0, 0).topLeft());
    }
    const struct {
        int id, x, y;
    } edits[] = {{1010, 45, 40}, {1005, 94, 40}, {1006, 143, 40}, {1007, 45, 60}, {1008, 93, 60}, {1009, 144, 60}};
    for (size_t i = 0; i < m_Edits.size(); ++i) {
        m_Edits[i] = new QLineEdit(this);
        m_Edits[i]->setObjectName(QString::number(edits[i].id));
        units.Place(m_Edits[i], edits[i].x, edits[i].y, 40, 14);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    units.Place(ok, 43, 84, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    units.Place(cancel, 112, 84, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_pPick = new QPushButton(QStringLiteral("Pick on Reference"), this);
    units.Place(m_pPick, 43, 104, 119, 14);
    m_pPick->hide();
    connect(m_pPick, &QPushButton::clicked, this, [this] { done(kPickOnReference); });

    for (size_t i = 0; i + 1 < m_Edits.size(); ++i)
        setTabOrder(m_Edits[i], m_Edits[i + 1]);
    setTabOrder(m_Edits.back(), ok);
    setTabOrder(ok, cancel);
}

std::array<QString*, 6> DialogDegMinSec::Members()
{
    return {&m_strLatDeg, &m_strLatMin, &m_strLatSec, &m_strLonDeg, &m_strLonMin, &m_strLonSec};
}

int DialogDegMinSec::DoModal()
{
    const auto members = Members();
    for (size_t i = 0; i < m_Edits.size(); ++i)
        m_Edits[i]->setText(*members[i]);
    QLineEdit* focus = m_Edits[static_cast<size_t>(std::clamp(m_nFocusField, 0, int(m_Edits.size()) - 1))];
    focus->setFocus();
    focus->selectAll();
    if (m_bOfferPick) {
        m_pPick->show();
        setFixedHeight(m_pPick->geometry().bottom() + m_pPick->height() / 2);
    }
    const int result = exec();
    if (result != QDialog::Accepted && result != kPickOnReference)
        return IDCANCEL;
    for (size_t i = 0; i < m_Edits.size(); ++i)
        *members[i] = m_Edits[i]->text();
    return result == kPickOnReference ? kPickOnReference : IDOK;
}
