#include "app/CComboChoiceDialog.h"

#include "app/DialogLayout.h"
#include "platform/WinTypes.h"

#include <QComboBox>
#include <QPushButton>

CComboChoiceDialog::CComboChoiceDialog(const Template& layout, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const DialogUnits units;
    units.SetUp(this, layout.width, layout.height);
    setWindowTitle(QString::fromLatin1(layout.caption));

    m_ctlCombo = new QComboBox(this);
    m_ctlCombo->setObjectName(QString::number(layout.comboId));
    m_ctlCombo->setEditable(true); // a drop-down combo box: list plus an edit field
    m_ctlCombo->setInsertPolicy(QComboBox::NoInsert);
    m_ctlCombo->addItems(layout.items);
    const QRect area = units.ToPixels(layout.comboX, layout.comboY, layout.comboWidth, 0);
    m_ctlCombo->setGeometry(area.x(), area.y(), area.width(), m_ctlCombo->sizeHint().height());
    // Only picking a list item changes the choice; typing into the edit field does not.
    connect(m_ctlCombo, &QComboBox::activated, this, [this](int index) { m_nSelection = index; });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    units.Place(ok, layout.okX, layout.okY, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(m_ctlCombo, ok);
    if (layout.cancelX >= 0) {
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
        units.Place(cancel, layout.cancelX, layout.cancelY, 50, 14);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        setTabOrder(ok, cancel);
    }
}

void CComboChoiceDialog::OnInitDialog()
{
    m_ctlCombo->setCurrentIndex(m_nSelection);
}

int CComboChoiceDialog::DoModal()
{
    OnInitDialog();
    m_ctlCombo->setFocus();
    // The close box and Escape count as Cancel.
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

CDialogInputoptions::CDialogInputoptions(QWidget* parent)
    : CComboChoiceDialog({"Input Options", 147, 90, 1003, 21, 26, 100,
                          {QStringLiteral("Decimal Degree"), QStringLiteral("Degree::Minute::Second")}, 15, 69, 80, 69},
                         parent)
{
}

CDialogSelimg::CDialogSelimg(QWidget* parent)
    : CComboChoiceDialog({"Select Image", 133, 66, 1011, 27, 17, 80, {}, 42, 45}, parent)
{
}

void CDialogSelimg::OnInitDialog()
{
    // One item per image, in index order, so that a list position is an image index.
    m_ctlCombo->clear();
    for (int i = 0; i < m_nImageCount; ++i)
        m_ctlCombo->addItem(QStringLiteral("Image %1").arg(i));
    CComboChoiceDialog::OnInitDialog();
}

CDialogSelunit::CDialogSelunit(QWidget* parent)
    : CComboChoiceDialog({"Select Unit", 135, 70, 1012, 32, 18, 68, {QStringLiteral("Feet"), QStringLiteral("Meter")}, 40, 49},
                         parent)
{
}
