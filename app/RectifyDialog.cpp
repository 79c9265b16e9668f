#include "app/RectifyDialog.h"

#include "platform/WinTypes.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

RectifyDialog::RectifyDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Export Rectified"));
    m_pCrs = new QLineEdit(this);
    m_pCrs->setObjectName(QStringLiteral("crs"));
    m_pCrs->setMinimumWidth(fontMetrics().averageCharWidth() * 44);
    m_pCrs->setPlaceholderText(QStringLiteral("EPSG code, PROJ string or WKT"));
    m_pResampling = new QComboBox(this);
    m_pResampling->addItems({QStringLiteral("Nearest neighbour"), QStringLiteral("Bilinear"), QStringLiteral("Cubic"),
                             QStringLiteral("Lanczos")});
    m_pResolution = new QLineEdit(this);
    m_pResolution->setPlaceholderText(QStringLiteral("the map's own (XRES,YRES)"));
    m_pExtent = new QLineEdit(this);
    m_pExtent->setPlaceholderText(QStringLiteral("the whole map (XMIN,YMIN,XMAX,YMAX)"));
    m_pMask = new QLineEdit(this);
    m_pMask->setPlaceholderText(QStringLiteral("none (a polygon in pixels, GeoJSON or WKT)"));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Mask"), m_pMask->text(),
                                                          QStringLiteral("Polygons (*.geojson *.json *.wkt *.txt);;All Files (*)"));
        if (!path.isEmpty())
            m_pMask->setText(path);
    });
    auto* mask = new QHBoxLayout;
    mask->addWidget(m_pMask);
    mask->addWidget(browse);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Coordinate system:"), m_pCrs);
    form->addRow(QStringLiteral("&Resampling:"), m_pResampling);
    form->addRow(QStringLiteral("Re&solution:"), m_pResolution);
    form->addRow(QStringLiteral("&Extent:"), m_pExtent);
    auto* maskLabel = new QLabel(QStringLiteral("&Mask:"), this);
    maskLabel->setBuddy(m_pMask);
    form->addRow(maskLabel, mask);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

int RectifyDialog::DoModal(RectifyEntry& entry)
{
    m_pCrs->setText(entry.m_strCrs);
    m_pResampling->setCurrentIndex(std::clamp(entry.m_nResampling, 0, m_pResampling->count() - 1));
    m_pResolution->setText(entry.m_strResolution);
    m_pExtent->setText(entry.m_strExtent);
    m_pMask->setText(entry.m_strMaskPath);
    m_pCrs->setFocus();
    if (exec() != QDialog::Accepted)
        return IDCANCEL;
    entry = {m_pCrs->text(), m_pResampling->currentIndex(), m_pResolution->text(), m_pExtent->text(), m_pMask->text()};
    return IDOK;
}
