#include "view/widgets/CQuilletView.h"

#include "commands/CommandResult.h"
#include "document/CQuilletDoc.h"
#include "platform/UiServices.h"
#include "view/core/ViewIcons.h"
#include "view/core/ViewPainter.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

namespace {

constexpr int kScrollRange = 1000;

int ScrollCodeFor(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return SB_LINEUP;
    case QAbstractSlider::SliderSingleStepAdd:
        return SB_LINEDOWN;
    case QAbstractSlider::SliderPageStepSub:
        return SB_PAGEUP;
    case QAbstractSlider::SliderPageStepAdd:
        return SB_PAGEDOWN;
    case QAbstractSlider::SliderToMinimum:
        return SB_TOP;
    case QAbstractSlider::SliderToMaximum:
        return SB_BOTTOM;
    case QAbstractSlider::SliderMove:
        return SB_THUMBTRACK;
    default:
        return SB_ENDSCROLL;
    }
}

} // namespace

CQuilletView::CQuilletView(CQuilletDoc& document, QWidget* parent)
    : QAbstractScrollArea(parent), m_Document(document), m_Edits(document)
{
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
        bar->setRange(0, kScrollRange);
        const Qt::Orientation orientation = bar->orientation();
        connect(bar, &QAbstractSlider::actionTriggered, this,
                [this, orientation](int action) { OnScrollAction(orientation, action); });
    }
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_Document.AddView(this);
}

CQuilletView::~CQuilletView()
{
    m_Document.RemoveView(this);
}

void CQuilletView::OnUpdate(CView*, long hint)
{
    // Remaking the display copy of a large TIFF image takes a moment.
    std::optional<CWaitCursor> wait;
    if (hint & (DocChange::kMap | DocChange::kImage))
        wait.emplace();
    m_State.OnUpdate(m_Document, *this, hint);
}

QSize CQuilletView::ClientSize() const
{
    return viewport()->size();
}

void CQuilletView::Invalidate()
{
    m_bMapDirty = true;
    SyncScrollBars();
    viewport()->update();
}

void CQuilletView::InvalidateFeedback(const QRect& rect)
{
    viewport()->update(rect);
}

void CQuilletView::SetCapture()
{
    m_bCaptured = true; // the window keeps the mouse while a button is held
}

void CQuilletView::ReleaseCapture()
{
    m_bCaptured = false;
}

void CQuilletView::SetPaneText(const QString& text, int index)
{
    if (m_SetPaneText)
        m_SetPaneText(text, index);
}

int CQuilletView::TextHeight() const
{
    return fontMetrics().height();
}

void CQuilletView::PointPicked(int index)
{
    if (m_OnPointPicked)
        m_OnPointPicked(index);
}

void CQuilletView::UpdateCursor()
{
    const int id = m_State.CursorId();
    if (id == 0)
        viewport()->setCursor(Qt::ArrowCursor);
    else if (id > 0)
        viewport()->setCursor(QCursor(QPixmap::fromImage(ViewIcon(id)), 16, 16));
}

void CQuilletView::SyncScrollBars()
{
    const bool zoomedIn = m_State.Window().Height() < 1;
    const Qt::ScrollBarPolicy policy = zoomedIn ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (verticalScrollBarPolicy() != policy) {
        setVerticalScrollBarPolicy(policy);
        setHorizontalScrollBarPolicy(policy);
    }
    if (zoomedIn) {
        const QSignalBlocker vertical(verticalScrollBar());
        const QSignalBlocker horizontal(horizontalScrollBar());
        verticalScrollBar()->setValue(m_State.VScrollPos());
        horizontalScrollBar()->setValue(m_State.HScrollPos());
    }
}

void CQuilletView::OnScrollAction(Qt::Orientation orientation, int action)
{
    const int code = ScrollCodeFor(action);
    const QSize client = ClientSize();
    QScrollBar* bar = orientation == Qt::Vertical ? verticalScrollBar() : horizontalScrollBar();
    const int position =
        orientation == Qt::Vertical
            ? m_State.OnVScroll(code, bar->sliderPosition(), client.height(), TextHeight())
            : m_State.OnHScroll(code, bar->sliderPosition(), client.width(), fontMetrics().horizontalAdvance(QLatin1Char('X')));
    bar->setSliderPosition(position);
    Invalidate();
}

void CQuilletView::scrollContentsBy(int, int)
{
    // The view window, not the scroll area, decides what is shown.
}

void CQuilletView::RenderMap()
{
    const QSize client = ClientSize();
    if (m_MapPaint.size() != client)
        m_MapPaint = QImage(client, QImage::Format_RGB32);
    // No memory for the paint, or for the display copy of a TIFF map: the window shows what it
    // can and says why, once, after the paint (a message box inside it would paint again).
    const QSize display =
        m_Document.IsTiffMap() ? m_State.GetDisplaySize(m_Document, client.width(), client.height()) : QSize();
    const bool memoryShort =
        (m_MapPaint.isNull() && !client.isEmpty()) || (!display.isEmpty() && !m_State.DisplayCopy().m_pBits);
    if (memoryShort && !m_bMemoryShort)
        QTimer::singleShot(0, this, [] { ShowMessage(OutOfMemoryMessage()); });
    m_bMemoryShort = memoryShort;
    m_bMapDirty = false;
    if (m_MapPaint.isNull())
        return;
    m_MapPaint.fill(Qt::white);
    QPainter painter(&m_MapPaint);
    painter.setFont(font());
    if (PaintView(painter, m_Document, m_State, client.width(), client.height())) {
        PaintMapOverlays(painter, m_Document, m_State, client.width(), client.height(), m_Overlays);
        // The picture of the last paint, for Save As Bitmap and printing.
        m_State.KeepViewBitmap(std::make_unique<QImage>(m_MapPaint));
        if (const std::optional<UiMessage>& failure = m_Document.Picture().LastError()) {
            // Told once the paint is over: a message box inside a paint would paint again.
            QTimer::singleShot(0, this, [message = *failure] { ShowMessage(message); });
        }
    }
}

void CQuilletView::SetOverlays(std::vector<MapOverlayLayer> layers)
{
    if (layers.empty() && m_Overlays.empty())
        return;
    m_Overlays = std::move(layers);
    Invalidate();
}

void CQuilletView::paintEvent(QPaintEvent* event)
{
    if (m_bMapDirty || m_MapPaint.size() != ClientSize())
        RenderMap();
    QPainter painter(viewport());
    painter.setClipRegion(event->region());
    painter.drawImage(event->rect().topLeft(), m_MapPaint, event->rect());
    PaintFeedback(painter, m_State);
}

void CQuilletView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    m_bMapDirty = true;
}

void CQuilletView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_State.OnLButtonDown(m_Document, *this, m_Edits, event->position().toPoint());
    UpdateCursor();
}

void CQuilletView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    {
        // A zoom click remakes the display copy of a TIFF map.
        std::optional<CWaitCursor> wait;
        if ((m_State.ActiveTool() == Tool::ZoomIn || m_State.ActiveTool() == Tool::ZoomOut) && m_Document.IsTiffMap())
            wait.emplace();
        m_State.OnLButtonUp(m_Document, *this, m_Edits, event->position().toPoint());
    }
    UpdateCursor();
    if (m_OnStateChanged)
        m_OnStateChanged();
}

void CQuilletView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_State.OnLButtonDblClk(m_Document, *this, m_Edits, event->position().toPoint());
    if (m_OnStateChanged)
        m_OnStateChanged();
}

void CQuilletView::mouseMoveEvent(QMouseEvent* event)
{
    m_State.OnMouseMove(m_Document, *this, event->position().toPoint());
    UpdateCursor();
}
