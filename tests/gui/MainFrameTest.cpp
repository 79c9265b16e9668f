#include "app/CMainFrame.h"
#include "app/CommandTable.h"
#include "app/CQuilletApp.h"
#include "commands/Recovery.h"
#include "document/CQuilletDoc.h"
#include "ScriptedUiServices.h"
#include "resources/Resource.h"
#include "view/widgets/CQuilletView.h"

#include "TestDocs.h"
#include "TestSupport.h"

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QCoreApplication>
#include <QStatusTipEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QDir>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override { m_Frame.Create(0); }

    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    CQuilletDoc m_Doc;
    CMainFrame m_Frame{m_Doc};
};

} // namespace

TEST_F(FrameTest, StatusBarHasFiveFixedPanes)
{
    const int widths[] = {150, 60, 100, 150, 60};
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(m_Frame.Pane(i), nullptr);
        EXPECT_EQ(m_Frame.PaneWidth(i), widths[i]);
        EXPECT_EQ(m_Frame.Pane(i)->minimumWidth(), m_Frame.Pane(i)->maximumWidth()) << "pane " << i << " must not stretch";
    }
    EXPECT_EQ(m_Frame.Pane(0)->text(), QStringLiteral("Ready"));
    m_Frame.resize(1400, 700);
    m_Frame.show();
    EXPECT_EQ(m_Frame.Pane(0)->width(), m_Frame.Pane(0)->maximumWidth());
}

TEST_F(FrameTest, SetPaneTextSizesThePaneToTheText)
{
    const QFontMetrics metrics(m_Frame.statusBar()->font());
    const QString longer = QStringLiteral("x = 1234, y = 5678 and a good deal more");
    m_Frame.SetPaneText(longer, 1);
    EXPECT_EQ(m_Frame.Pane(1)->text(), longer);
    EXPECT_EQ(m_Frame.PaneWidth(1), metrics.horizontalAdvance(longer));
    EXPECT_GT(m_Frame.PaneWidth(1), 60);
    m_Frame.SetPaneText(QStringLiteral("1"), 1);
    EXPECT_EQ(m_Frame.PaneWidth(1), metrics.horizontalAdvance(QStringLiteral("1")));
    EXPECT_LT(m_Frame.PaneWidth(1), 60);
    m_Frame.SetPaneText(QString(), 4);
    EXPECT_EQ(m_Frame.PaneWidth(4), 0);
    m_Frame.SetPaneText(QStringLiteral("ignored"), 5); // no such pane
    m_Frame.SetPaneText(QStringLiteral("Wrote /a/long/path/to/print.pdf (12.0 kB)"), 0);
    m_Frame.SetPaneText(QString(), 0); // no message: the idle prompt at the first width
    EXPECT_EQ(m_Frame.Pane(0)->text() + QString::number(m_Frame.PaneWidth(0)), QStringLiteral("Ready150"));
}

TEST_F(FrameTest, CommandPromptsGoToTheFirstPane)
{
    QStatusTipEvent tip(QStringLiteral("Zoom in the figure"));
    QCoreApplication::sendEvent(&m_Frame, &tip);
    EXPECT_EQ(m_Frame.Pane(0)->text(), QStringLiteral("Zoom in the figure"));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(&m_Frame, &none);
    EXPECT_EQ(m_Frame.Pane(0)->text(), QStringLiteral("Ready"));
    EXPECT_EQ(m_Frame.Action(ID_FILE_NEW)->statusTip(), QStringLiteral("Input a map"));
    EXPECT_EQ(m_Frame.Action(ID_FILE_NEW)->toolTip(), QStringLiteral("New"));
    EXPECT_EQ(m_Frame.Action(ID_OUTPUT_GEO_MAP)->statusTip(), QStringLiteral("Output a geo-coded map"));
}

TEST_F(FrameTest, ToolbarHasTheButtonsInOrder)
{
    QStringList layout;
    for (QAction* action : m_Frame.ToolBar()->actions())
        layout << (action->isSeparator() ? QStringLiteral("|") : QString::number(action->data().toInt()));
    EXPECT_EQ(layout.join(QLatin1Char(' ')),
              QStringLiteral("57600 57601 57603 | 57607 | 32783 32774 32775 32776 32779 32785 | 32771 32772 32773 "
                             "32784 | 32787 32786 | 57664 32782 57635 57634 57637 | 32788"));
    for (QAction* action : m_Frame.ToolBar()->actions())
        if (!action->isSeparator()) {
            EXPECT_FALSE(action->icon().isNull()) << action->data().toInt();
        }
}

TEST_F(FrameTest, MenusHoldTheirEntriesAndShortcuts)
{
    const QList<QAction*> menus = m_Frame.menuBar()->actions();
    ASSERT_EQ(menus.size(), 5);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Edit"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("&View"));
    EXPECT_EQ(menus[4]->text(), QStringLiteral("&Help"));
    EXPECT_EQ(m_Frame.Action(ID_EDIT_UNDO)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    EXPECT_EQ(m_Frame.Action(ID_EDIT_REDO)->shortcuts(),
              (QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+Y")), QKeySequence(QStringLiteral("Ctrl+Shift+Z"))}));
    EXPECT_EQ(m_Frame.Action(ID_FILE_NEW)->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_EQ(m_Frame.Action(ID_FILE_OPEN)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(m_Frame.Action(ID_FILE_SAVE)->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(m_Frame.Action(ID_FILE_PRINT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    EXPECT_EQ(m_Frame.Action(ID_OUTPUT_GEO_MAP)->text(), QStringLiteral("Output A Geo-Map..."));
    EXPECT_EQ(m_Frame.Action(ID_APP_ABOUT)->text(), QStringLiteral("&About Varnel..."));
    QStringList file;
    for (QAction* action : menus[0]->menu()->actions())
        file << (action->isSeparator() ? QStringLiteral("|") : action->text());
    EXPECT_EQ(file.join(QLatin1Char(';')),
              QStringLiteral("&New;&Open...;&Save;Save &As...;Output A Geo-Map...;Save As Bitmap...;|;"
                             "&Export Georeferenced...;Export Rec&tified...;&Import Control Points...;|;&Print...;"
                             "Print Pre&view;P&rint Setup...;|;Recent File;|;E&xit"));
    QStringList tools(menus[3]->text());
    for (QAction* action : menus[3]->menu()->actions())
        tools << action->text() + QLatin1Char(' ') + action->shortcut().toString();
    EXPECT_EQ(tools.join(QLatin1Char(';')),
              QStringLiteral("&Tools;&Set Points Ctrl+1;&Move Points Ctrl+2;&Delete Point Ctrl+3;Measure &Distance Ctrl+4; ;"
                             "Zoom &In Ctrl+5;Zoom &Out Ctrl+6;&Fit in Window Ctrl+0;Select &Range Ctrl+7; ;"
                             "Input O&ptions... ;&Transformation... ;Select &Unit... ;Select Ima&ges... "));
}

TEST_F(FrameTest, MenusShowPicturesOnlyWhereThereAreSomeAndCheckMarksAsTheStyleDoes)
{
    m_Frame.show();
    m_Frame.UpdateCommandUI();
    const std::vector<int>& toolbar = ToolbarLayout();
    for (QAction* menu : m_Frame.menuBar()->actions())
        for (QAction* entry : menu->menu()->actions()) {
            if (entry->isSeparator() || !entry->data().isValid())
                continue;
            const bool onToolbar = std::find(toolbar.begin(), toolbar.end(), entry->data().toInt()) != toolbar.end();
            EXPECT_EQ(!entry->icon().isNull(), onToolbar) << entry->text().toStdString();
        }
    // View > Toolbar and Status Bar carry their state as a check mark, with no picture over it.
    for (int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        QAction* entry = m_Frame.Action(id);
        EXPECT_TRUE(entry->isCheckable());
        EXPECT_TRUE(entry->icon().isNull());
        EXPECT_TRUE(entry->isChecked());
    }
    m_Frame.OnCommand(ID_VIEW_TOOLBAR);
    EXPECT_FALSE(m_Frame.Action(ID_VIEW_TOOLBAR)->isChecked());
}

TEST_F(FrameTest, TheFirstWindowFitsTheScreen)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    m_Frame.show();
    EXPECT_TRUE(available.contains(m_Frame.geometry())) << m_Frame.width() << "x" << m_Frame.height() << " in "
                                                        << available.width() << "x" << available.height();
}

TEST_F(FrameTest, CommandsWithoutHandlersStayDisabled)
{
    LoadPictureMap(m_Doc, 20, 10);
    m_Frame.UpdateCommandUI();
    for (int id : {ID_UNHANDLED_32782, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_ORIGINAL_SIZE})
        EXPECT_FALSE(m_Frame.Action(id)->isEnabled()) << id;
    // A command that nothing handles does nothing even when triggered directly.
    m_Frame.OnCommand(ID_EDIT_CUT);
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(FrameTest, CommandsRunOnlyWhileEnabledAndCheckAsTheirRuleSays)
{
    // Export needs a geo-coded map: disabled, it does not run (it would ask where to write).
    LoadPictureMap(m_Doc, 20, 10);
    m_Frame.UpdateCommandUI();
    EXPECT_FALSE(m_Frame.Action(ID_EXPORT_GEOREFERENCED)->isEnabled());
    m_Frame.OnCommand(ID_EXPORT_GEOREFERENCED);
    EXPECT_TRUE(m_Ui.m_FileDialogs.empty());
    SetPointsAndModel(m_Doc, {{1, 2, 0.5, 0.5}}, true, {});
    m_Frame.UpdateCommandUI();
    EXPECT_TRUE(m_Frame.Action(ID_EXPORT_GEOREFERENCED)->isEnabled());
    m_Frame.OnCommand(ID_EXPORT_GEOREFERENCED);
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), 1u);

    // Show Points is checked as the document shows its points.
    QAction* show = m_Frame.Action(ID_SHOW_POINTS);
    EXPECT_TRUE(show->isEnabled());
    EXPECT_TRUE(show->isChecked());
    m_Frame.OnCommand(ID_SHOW_POINTS);
    EXPECT_FALSE(show->isChecked());
    m_Frame.OnCommand(ID_SHOW_POINTS);
    EXPECT_TRUE(show->isChecked());
}

TEST_F(FrameTest, TheCommandTableDecidesEnablingAndCheckMarks)
{
    const auto enabled = [&](int id) { return m_Frame.Action(id)->isEnabled(); };
    m_Frame.UpdateCommandUI();
    for (int id : {ID_ZOOM_IN, ID_SET_POINTS, ID_SHOW_POINTS, ID_MEASURE, ID_SELECT_RANGE, ID_SELECT_IMAGES,
                   ID_SAVE_VIEW_AS_BITMAP, ID_INPUT_OPTIONS})
        EXPECT_FALSE(enabled(id)) << id; // no map

    LoadPictureMap(m_Doc, 20, 10);
    m_Frame.GetActiveView()->State().OnDeletePoint(m_Doc);
    m_Frame.UpdateCommandUI();
    for (int id : {ID_ZOOM_IN, ID_SET_POINTS, ID_SHOW_POINTS, ID_SAVE_VIEW_AS_BITMAP, ID_INPUT_OPTIONS})
        EXPECT_TRUE(enabled(id)) << id;
    for (int id : {ID_MEASURE, ID_SELECT_RANGE, ID_SELECT_IMAGES})
        EXPECT_FALSE(enabled(id)) << id; // not geo-coded, one picture
    EXPECT_TRUE(m_Frame.Action(ID_SHOW_POINTS)->isChecked());
    // Delete Point's check mark follows the tool only while there are points.
    EXPECT_FALSE(m_Frame.Action(ID_DELETE_POINT)->isChecked());
    SetPointsAndModel(m_Doc, {{1, 2, 0.5, 0.5}}, true, {});
    m_Frame.UpdateCommandUI();
    EXPECT_TRUE(m_Frame.Action(ID_DELETE_POINT)->isChecked());
    EXPECT_TRUE(enabled(ID_MEASURE));
    EXPECT_TRUE(enabled(ID_SELECT_RANGE));
    m_Frame.GetActiveView()->State().OnMeasure(m_Doc); // on, then unavailable: not left pressed
    m_Frame.UpdateCommandUI();
    SetPointsAndModel(m_Doc, {{1, 2, 0.5, 0.5}}, false, {});
    m_Frame.UpdateCommandUI();
    EXPECT_FALSE(m_Frame.Action(ID_MEASURE)->isChecked());
}

TEST_F(FrameTest, RecentFilesKeepFourMostRecentFirst)
{
    QSettings().remove(QStringLiteral("Recent File List"));
    for (int i = 1; i <= 6; ++i)
        m_Frame.AddToRecentFiles(QStringLiteral("/maps/m%1.pws").arg(i));
    m_Frame.AddToRecentFiles(QStringLiteral("/maps/m4.pws"));
    EXPECT_EQ(m_Frame.RecentFiles(), (QStringList{QStringLiteral("/maps/m4.pws"), QStringLiteral("/maps/m6.pws"),
                                                  QStringLiteral("/maps/m5.pws"), QStringLiteral("/maps/m3.pws")}));
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("Recent File List/File1")).toString(), QStringLiteral("/maps/m4.pws"));

    QString opened;
    m_Frame.m_OnOpenFile = [&](const QString& path) { opened = path; };
    QList<QAction*> file = m_Frame.menuBar()->actions()[0]->menu()->actions();
    const auto entry = std::find_if(file.begin(), file.end(),
                                    [](QAction* a) { return a->text() == QStringLiteral("&2 /maps/m6.pws"); });
    ASSERT_NE(entry, file.end());
    (*entry)->trigger();
    EXPECT_EQ(opened, QStringLiteral("/maps/m6.pws"));

    // A file opened by a relative name (a recent entry kept so by an older version) is kept by
    // its whole name, once.
    const QString whole = QDir::current().absoluteFilePath(QStringLiteral("maps/m7.pws"));
    m_Frame.AddToRecentFiles(QStringLiteral("maps/m7.pws"));
    m_Frame.AddToRecentFiles(whole);
    EXPECT_EQ(m_Frame.RecentFiles(), (QStringList{whole, QStringLiteral("/maps/m4.pws"), QStringLiteral("/maps/m6.pws"),
                                                  QStringLiteral("/maps/m5.pws")}));
}

TEST(Splash, IsCentredOverTheFrameWithTruncatingHalves)
{
    const struct {
        QRect frame;
        QSize splash;
        QPoint at;
    } cases[] = {
        {QRect(0, 0, 1000, 800), QSize(500, 410), QPoint(250, 195)},
        {QRect(10, 20, 901, 681), QSize(500, 410), QPoint(10 + 450 - 250, 20 + 340 - 205)},
        {QRect(-300, -50, 401, 300), QSize(501, 411), QPoint(-300 + 200 - 250, -50 + 150 - 205)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMainFrame::SplashPosition(c.frame, c.splash), c.at) << c.frame.x() << "," << c.frame.y();
}

TEST(Splash, ShowsItsPictureOverTheFrameThenHides)
{
    CQuilletDoc doc;
    CMainFrame frame(doc);
    ASSERT_TRUE(frame.Create(0));
    QLabel* splash = frame.SplashWindow();
    ASSERT_NE(splash, nullptr);
    EXPECT_FALSE(splash->isVisible());
    ASSERT_FALSE(splash->pixmap().isNull());
    EXPECT_EQ(splash->pixmap().size(), QSize(500, 410));
    frame.ShowSplash();
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->pos(), CMainFrame::SplashPosition(frame.frameGeometry(), splash->size()));
    frame.HideSplash();
    EXPECT_FALSE(splash->isVisible());
}

TEST(Application, StartsWithAnEmptyDocumentAndTheMainWindowShown)
{
    CQuilletApp app;
    ASSERT_TRUE(app.InitInstance({}, 0));
    EXPECT_TRUE(app.MainFrame().isVisible());
    EXPECT_FALSE(app.MainFrame().SplashWindow()->isVisible());
    EXPECT_FALSE(app.Document().IsMapLoaded());
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("varnel"));
    // Map commands wait for a map; the unit choice is always there.
    EXPECT_FALSE(app.MainFrame().Action(ID_SHOW_POINTS)->isEnabled());
    EXPECT_FALSE(app.MainFrame().Action(ID_INPUT_OPTIONS)->isEnabled());
    EXPECT_TRUE(app.MainFrame().Action(ID_SELECT_UNIT)->isEnabled());
    EXPECT_TRUE(app.MainFrame().close());
}

TEST(Application, BringsTheSettingsAndRecoveryFilesOfAnOlderReleaseOverOnce)
{
    QSettings former(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Varnel"));
    QSettings().clear();
    for (const char* recent : {"/maps/a.pws", "/maps/b.pws"}) { // the second start has settings of its own
        former.setValue(QStringLiteral("Recent File List/File1"), QString::fromLatin1(recent));
        ASSERT_TRUE(QDir().mkpath(RecoveryKeeper::FormerFolder()));
        WriteFileBytes(RecoveryKeeper::FormerFolder() + QStringLiteral("/1-2.vrc"), EncodeRecovery({}));
        ScriptedUiServices ui;
        ui.AnswerMessage(IDNO);
        CQuilletApp app;
        ASSERT_TRUE(app.InitInstance({}, 0, &ui));
        EXPECT_EQ(app.MainFrame().RecentFiles(), QStringList{QStringLiteral("/maps/a.pws")});
        ASSERT_FALSE(ui.m_Messages.empty()); // the older release's unsaved work is offered
        EXPECT_TRUE(ui.m_Messages[0].m_strText.startsWith(QStringLiteral("Varnel did not shut down cleanly")));
    }
    former.clear();
    QSettings().clear();
}
