#include "app/SPLASH.h"

#include "resources/Artwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>

SPLASH::~SPLASH()
{
    delete m_pWindow;
}

void SPLASH::Create(QWidget* parent)
{
    m_pParent = parent;
    m_pWindow = new QLabel(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_pWindow->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_pWindow->setLineWidth(2);
    m_pWindow->setGeometry(300, 300, 300, 300);
    const QPixmap picture = QPixmap::fromImage(SplashPicture());
    if (!picture.isNull()) { // without its picture the splash stays an empty window
        m_pWindow->setPixmap(picture);
        m_pWindow->resize(m_pWindow->sizeHint());
    }
    m_bVisible = 0;
}

QPoint SPLASH::CentredPosition(const QRect& frame, const QSize& splash)
{
    const int left = frame.left();
    const int top = frame.top();
    const int right = frame.left() + frame.width();
    const int bottom = frame.top() + frame.height();
    return {left + ((right - left) / 2 - splash.width() / 2), top + ((bottom - top) / 2 - splash.height() / 2)};
}

void SPLASH::Show()
{
    if (!m_pWindow)
        return;
    const QRect frame = m_pParent ? m_pParent->frameGeometry() : QRect();
    m_pWindow->move(CentredPosition(frame, m_pWindow->size()));
    m_pWindow->show();
    m_pWindow->repaint();
    m_bVisible = 1;
}

void SPLASH::Wait(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        QThread::msleep(10);
    }
}

void SPLASH::Hide()
{
    if (m_pWindow)
        m_pWindow->hide();
    m_bVisible = 0;
}
