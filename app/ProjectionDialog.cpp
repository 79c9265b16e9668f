#include "app/ProjectionDialog.h"

#include "platform/WinTypes.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

ProjectionDialog::ProjectionDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Find Projection"));
    auto* intro = new QLabel(QStringLiteral("Projections that fit the control points, best first by the error at "
                                            "points left out of the fit. The one picked is the coordinate system "
                                            "the map is fitted in, with an affine transformation."),
                             this);
    intro->setWordWrap(true);
    m_pList = new QTreeWidget(this);
    m_pList->setObjectName(QStringLiteral("projections"));
    m_pList->setRootIsDecorated(false);
    m_pList->setAllColumnsShowFocus(true);
    m_pList->setHeaderLabels({QStringLiteral("Left-out RMS (m)"), QStringLiteral("RMS (m)"), QStringLiteral("Projection")});
    m_pList->header()->setStretchLastSection(true);
    m_pList->setMinimumWidth(fontMetrics().averageCharWidth() * 125); // a whole PROJ string
    m_pNote = new QLabel(this);
    m_pNote->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A double click picks the row as OK does.
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_pList);
    layout->addWidget(m_pNote);
    layout->addWidget(buttons);
}

int ProjectionDialog::DoModal(ProjectionPick& pick)
{
    const QLocale locale;
    m_pList->clear();
    for (const ProjectionPick::Row& row : pick.m_Rows) {
        auto* item = new QTreeWidgetItem(m_pList, {locale.toString(row.m_dLooRmsMetres, 'f', 1),
                                                   locale.toString(row.m_dRmsMetres, 'f', 1), row.m_strCrs});
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(2, row.m_strCrs);
    }
    m_pList->resizeColumnToContents(0);
    m_pList->resizeColumnToContents(1);
    m_pNote->setText(pick.m_strNote);
    m_pNote->setVisible(!pick.m_strNote.isEmpty());
    if (!pick.m_Rows.empty())
        m_pList->setCurrentItem(
            m_pList->topLevelItem(std::clamp(pick.m_nSelection, 0, static_cast<int>(pick.m_Rows.size()) - 1)));
    m_pList->setFocus();
    if (exec() != QDialog::Accepted || !m_pList->currentItem())
        return IDCANCEL;
    pick.m_nSelection = m_pList->indexOfTopLevelItem(m_pList->currentItem());
    return IDOK;
}
