#include "app/TransformationDialog.h"

#include "geo/Transformation.h"
#include "platform/WinTypes.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

/// What each transformation does, in the order of TransformKind.
const char* const kDescriptions[] = {
    "Affine: shift, scales, rotation and shear",
    "Helmert: shift, one scale and rotation",
    "Projective: a plane seen at a slant",
    "Polynomial of order 2",
    "Polynomial of order 3",
    "Thin-plate spline through every point",
};

} // namespace

TransformationDialog::TransformationDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Transformation"));
    m_pTransform = new QComboBox(this);
    m_pTransform->setObjectName(QStringLiteral("transform"));
    for (int i = 0; i < static_cast<int>(std::size(kDescriptions)); ++i)
        m_pTransform->addItem(QStringLiteral("%1 (%2 points or more)")
                                  .arg(QString::fromUtf8(kDescriptions[i]))
                                  .arg(MinimumPoints(static_cast<TransformKind>(i))));

    m_pGeographic = new QRadioButton(QStringLiteral("&Latitude and longitude"), this);
    m_pUtm = new QRadioButton(QStringLiteral("&UTM zone of the points"), this);
    m_pTyped = new QRadioButton(QStringLiteral("&Coordinate system:"), this);
    auto* group = new QButtonGroup(this);
    group->addButton(m_pGeographic, 0);
    group->addButton(m_pUtm, 1);
    group->addButton(m_pTyped, 2);
    m_pCrs = new QLineEdit(this);
    m_pCrs->setObjectName(QStringLiteral("crs"));
    m_pCrs->setPlaceholderText(QStringLiteral("EPSG code, PROJ string or WKT (EPSG:5070)"));
    m_pCrs->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    // Typing a system chooses it.
    connect(m_pCrs, &QLineEdit::textEdited, m_pTyped, [this] { m_pTyped->setChecked(true); });

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Transformation:"), m_pTransform);
    auto* systems = new QVBoxLayout;
    systems->addWidget(m_pGeographic);
    systems->addWidget(m_pUtm);
    systems->addWidget(m_pTyped);
    systems->addWidget(m_pCrs);
    form->addRow(QStringLiteral("Fitted in:"), systems);
    auto* note = new QLabel(QStringLiteral("Control points are typed in WGS 84 latitude and longitude whatever the "
                                           "system; a map fitted in its own projection is fitted best."),
                            this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Finding the projection closes the dialog: the search and the pick among what it found
    // replace the choice made here.
    m_pFind = buttons->addButton(QStringLiteral("&Find Projection..."), QDialogButtonBox::ActionRole);
    m_pFind->setToolTip(QStringLiteral("Find the projection the map is drawn in from its control points"));
    connect(m_pFind, &QPushButton::clicked, this, [this] {
        m_bFind = true;
        accept();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

int TransformationDialog::DoModal(TransformationEntry& entry)
{
    m_pTransform->setCurrentIndex(std::clamp(entry.m_nTransform, 0, m_pTransform->count() - 1));
    m_pCrs->setText(entry.m_strCrs);
    (entry.m_nCrsKind == 1 ? m_pUtm : entry.m_nCrsKind == 2 ? m_pTyped : m_pGeographic)->setChecked(true);
    m_pTransform->setFocus();
    m_bFind = false;
    if (exec() != QDialog::Accepted)
        return IDCANCEL;
    entry.m_bFindProjection = m_bFind;
    entry.m_nTransform = m_pTransform->currentIndex();
    entry.m_nCrsKind = m_pUtm->isChecked() ? 1 : m_pTyped->isChecked() ? 2 : 0;
    entry.m_strCrs = m_pCrs->text();
    return IDOK;
}
