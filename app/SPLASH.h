#pragma once

#include "platform/WinTypes.h"

#include <QRect>

class QLabel;
class QWidget;

/// The splash window shown over the main frame while it is created: a framed popup holding the
/// splash picture, centred over the frame's window rectangle.
class SPLASH {
public:
    SPLASH() = default;
    virtual ~SPLASH();
    SPLASH(const SPLASH&) = delete;
    SPLASH& operator=(const SPLASH&) = delete;

    /// Makes the (hidden) splash window for parent.
    void Create(QWidget* parent);
    /// Centres the window over the parent's window rectangle and shows it.
    void Show();
    /// Keeps the splash on screen for the given time; the application does nothing else meanwhile
    /// (the splash is repainted, user input waits).
    static void Wait(int milliseconds);
    void Hide();

    /// Where a window of the given size is placed over a frame rectangle: each half taken by a
    /// signed integer division truncating toward zero.
    static QPoint CentredPosition(const QRect& frame, const QSize& splash);

    BOOL m_bVisible = 0;
    QWidget* m_pParent = nullptr;
    QLabel* m_pWindow = nullptr;
};
