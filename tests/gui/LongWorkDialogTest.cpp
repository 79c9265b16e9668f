// Long work on the desktop: the window goes on with its events while the work runs on its own
// thread, a progress dialog comes up only for work that lasts, and its Cancel stops the work.

#include "app/QtUiServices.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

QProgressDialog* ShownProgressDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QProgressDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

/// Work of up to twenty seconds in 10 ms steps that stops when told; returns the steps done.
int SlowWork(const Progress& progress, std::atomic<int>& steps)
{
    for (int i = 0; i < 2000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ++steps;
        if (!progress.Report(i + 1, 2000))
            break;
    }
    return steps;
}

} // namespace

TEST(LongWork, ADialogComesUpForLastingWorkAndItsCancelStopsIt)
{
    QtUiServices ui;
    int ticks = 0; // events of the window's thread while the work runs
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QString title;
    bool clicked = false;
    QTimer watcher; // presses Cancel once the dialog is there
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QProgressDialog* dialog = ShownProgressDialog(); dialog && !clicked) {
            title = dialog->labelText();
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("Cancel")) {
                    button->click();
                    clicked = true;
                }
        }
    });
    watcher.start(50);

    std::atomic<int> steps{0};
    const bool finished = ui.RunLongWork(QStringLiteral("Importing big.tif"), [&](Progress progress) { SlowWork(progress, steps); });
    EXPECT_FALSE(finished);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(title, QStringLiteral("Importing big.tif"));
    EXPECT_LT(steps, 2000); // stopped, not run to its end
    EXPECT_GE(steps, 40);   // the dialog waited for half a second of work
    EXPECT_GT(ticks, 10);
    EXPECT_FALSE(ui.Busy());
    QApplication::processEvents();
    EXPECT_EQ(ShownProgressDialog(), nullptr);
}

TEST(LongWork, LastingWorkLeftAloneEndsFinishedWithItsDialogGone)
{
    QtUiServices ui;
    bool dialogSeen = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] { dialogSeen = dialogSeen || ShownProgressDialog(); });
    watcher.start(20);
    const bool finished = ui.RunLongWork(QStringLiteral("Writing map.dpf"), [](Progress progress) {
        for (int i = 0; i < 90; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            progress.Report(i + 1, 90);
        }
    });
    EXPECT_TRUE(dialogSeen);
    EXPECT_TRUE(finished); // closing the dialog at the end is no Cancel
    QApplication::processEvents();
    EXPECT_EQ(ShownProgressDialog(), nullptr);
}

TEST(LongWork, ShortWorkShowsNoDialogAndFailuresReachTheCommand)
{
    QtUiServices ui;
    bool dialogSeen = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] { dialogSeen = dialogSeen || ShownProgressDialog(); });
    watcher.start(5);
    const bool finished = ui.RunLongWork(QStringLiteral("Writing map.dpf"), [&](Progress progress) {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            progress.Report(i + 1, 5);
        }
    });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(dialogSeen);

    // What the work throws (running out of memory, say) is thrown again to the command.
    EXPECT_THROW(ui.RunLongWork(QStringLiteral("Writing map.dpf"), [](Progress) { throw std::bad_alloc(); }), std::bad_alloc);
    EXPECT_FALSE(ui.Busy());
}
