#include "view/widgets/CQuilletView.h"

#include "document/CQuilletDoc.h"
#include "platform/UiServices.h"

#include <QPainter>

CQuilletView::CQuilletView(CQuilletDoc& document, QWidget* parent) : QWidget(parent), m_Document(document)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    m_Document.AddView(this);
}

CQuilletView::~CQuilletView()
{
    m_Document.RemoveView(this);
}

void CQuilletView::OnUpdate(CView*, long)
{
    update();
}

void CQuilletView::OnInputOptions()
{
    ComboChoice choice;
    choice.m_nSelection = m_Document.m_nInputOption;
    if (Ui().RunInputOptionsDialog(choice) == IDOK)
        m_Document.m_nInputOption = choice.m_nSelection;
}

void CQuilletView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_Document.m_bMapLoaded)
        return;
    // The whole map, as large as the client area allows with its proportions kept.
    QSize size(m_Document.m_nImageWidth, m_Document.m_nImageHeight);
    if (size.isEmpty())
        return;
    size.scale(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    if (m_Document.IsPictureMap()) {
        m_Document.m_Picture.Draw(&painter, target);
    } else if (m_Document.IsTiffMap() && m_Document.m_nCurrentImage >= 0 &&
               m_Document.m_nCurrentImage < static_cast<int>(m_Document.m_Images.size())) {
        const DIBSection& image = m_Document.m_Images[static_cast<size_t>(m_Document.m_nCurrentImage)];
        image.StretchDraw(painter, target.left(), target.top(), target.right() + 1, target.bottom() + 1, 0, 0,
                          image.m_nWidth, image.m_nHeight);
    }
}
