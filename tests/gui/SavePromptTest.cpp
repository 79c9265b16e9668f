// Unsaved work is never given up without a word: Exit, the close box, New and Open ask first.

#include "app/CMainFrame.h"
#include "app/CQuilletApp.h"
#include "document/CQuilletDoc.h"
#include "resources/Resource.h"
#include "ScriptedUiServices.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

#include <gtest/gtest.h>

TEST(SavePrompts, ExitCloseNewAndOpenAskOnlyAboutUnsavedWork)
{
    const struct {
        const char* name;
        std::function<void(CQuilletApp&)> act;
        bool goesOnToAFileDialog; ///< New and Open ask for a file once they may go on
    } actions[] = {
        {"Exit", [](CQuilletApp& app) { app.MainFrame().OnCommand(ID_APP_EXIT); }, false},
        {"close box", [](CQuilletApp& app) { app.MainFrame().close(); }, false},
        {"New", [](CQuilletApp& app) { app.MainFrame().OnCommand(ID_FILE_NEW); }, true},
        {"Open", [](CQuilletApp& app) { app.MainFrame().OnCommand(ID_FILE_OPEN); }, true},
    };
    const struct {
        bool modified;
        int answer; ///< to "Save changes to ...?"; 0 when it must not be asked
    } states[] = {{false, 0}, {true, IDCANCEL}, {true, IDNO}};
    for (const auto& action : actions) {
        for (const auto& state : states) {
            SCOPED_TRACE(std::string(action.name) + (state.modified ? ", modified, answer " + std::to_string(state.answer)
                                                                    : ", saved"));
            ScriptedUiServices ui;
            CQuilletApp app;
            ASSERT_TRUE(app.InitInstance({TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp"))}, 0, &ui));
            ASSERT_TRUE(app.Document().IsMapLoaded());
            ASSERT_FALSE(app.Document().IsModified()); // a map just loaded, with no points, is no work yet
            if (state.modified)
                app.Document().MarkModified();
            ui.m_Messages.clear();
            if (state.answer)
                ui.AnswerMessage(state.answer);
            ui.CancelFile();

            action.act(app);
            const bool asked = !ui.m_Messages.empty() &&
                               ui.m_Messages[0].m_strText == QStringLiteral("Save changes to pal8.bmp?");
            EXPECT_EQ(asked, state.modified);
            if (asked) {
                EXPECT_EQ(ui.m_Messages[0].Buttons(), MB_YESNOCANCEL);
                EXPECT_EQ(ui.m_Messages[0].m_strCaption, QStringLiteral("Varnel"));
            }
            const bool goesOn = state.answer != IDCANCEL;
            // Cancel keeps the window and the map; otherwise the command goes on.
            EXPECT_TRUE(app.Document().IsMapLoaded());
            EXPECT_EQ(app.MainFrame().isVisible(), !goesOn || action.goesOnToAFileDialog);
            EXPECT_EQ(ui.m_FileDialogs.size(), goesOn && action.goesOnToAFileDialog ? 1u : 0u);
        }
    }
}

TEST(SavePrompts, ADroppedFileOpensAsTheCommandLineDoesAfterAsking)
{
    const QString first = TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp"));
    const QString dropped = TestDataPath(QStringLiteral("pictures/gif/hopper.gif"));
    const struct {
        QList<QUrl> urls;
        int answer; ///< to "Save changes to ...?"; 0 when the drop must be refused unasked
        QString mapAfter;
    } cases[] = {
        {{QUrl::fromLocalFile(dropped)}, IDNO, dropped},
        {{QUrl::fromLocalFile(dropped)}, IDCANCEL, first},
        {{QUrl(QStringLiteral("https://example.org/map.gif")), QUrl::fromLocalFile(dropped)}, IDNO, dropped},
        {{QUrl(QStringLiteral("https://example.org/map.gif"))}, 0, first},
        {{QUrl::fromLocalFile(QFileInfo(dropped).absolutePath())}, 0, first}, // a folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.urls.constFirst().toString().toStdString() + " answer " + std::to_string(c.answer));
        ScriptedUiServices ui;
        CQuilletApp app;
        ASSERT_TRUE(app.InitInstance({first}, 0, &ui));
        app.Document().MarkModified();
        ui.m_Messages.clear();
        if (c.answer)
            ui.AnswerMessage(c.answer);

        QMimeData data;
        data.setUrls(c.urls);
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&app.MainFrame(), &enter);
        EXPECT_EQ(enter.isAccepted(), c.answer != 0);
        if (enter.isAccepted()) {
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&app.MainFrame(), &drop);
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(ui.m_Messages.size(), c.answer ? 1u : 0u);
        EXPECT_EQ(app.Document().MapPath(), c.mapAfter);
    }
}

TEST(SavePrompts, TitleQuestionAndSaveFollowTheWorkspaceElseTheMap)
{
    // Title and question name the workspace, however opened or named, else the map; Save asks only for a map's.
    QTemporaryDir dir;
    const QString workspace = dir.filePath(QStringLiteral("pal8.pws"));
    WriteFileBytes(workspace, ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/pal8.pws"))));
    const QString picture = TestDataPath(QStringLiteral("pictures/gif/hopper.gif"));
    const struct {
        QStringList opened; ///< in turn; an entry ending ".pws" after the first is chosen in Save As
        QString name;
    } cases[] = {
        {{workspace}, QStringLiteral("pal8.pws")},
        {{workspace, picture}, QStringLiteral("hopper.gif")},
        {{picture, dir.filePath(QStringLiteral("renamed.pws"))}, QStringLiteral("renamed.pws")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opened.join(QStringLiteral(", ")).toStdString());
        ScriptedUiServices ui;
        CQuilletApp app;
        ASSERT_TRUE(app.InitInstance({c.opened.constFirst()}, 0, &ui));
        for (qsizetype i = 1; i < c.opened.size(); ++i) {
            ui.AnswerFile(c.opened[i], 1);
            app.MainFrame().OnCommand(c.opened[i].endsWith(QStringLiteral(".pws")) ? ID_FILE_SAVE_AS : ID_FILE_NEW);
        }
        EXPECT_EQ(app.MainFrame().windowTitle(), c.name + QStringLiteral("[*] - Varnel"));
        ui.m_FileDialogs.clear();
        app.MainFrame().OnCommand(ID_FILE_SAVE);
        EXPECT_EQ(ui.m_FileDialogs.size(), c.name.endsWith(QStringLiteral(".pws")) ? 0u : 1u);
        app.Document().MarkModified();
        ui.m_Messages.clear();
        ui.AnswerMessage(IDCANCEL);
        app.MainFrame().OnCommand(ID_APP_EXIT);
        ASSERT_EQ(ui.m_Messages.size(), 1u);
        EXPECT_EQ(ui.m_Messages[0].m_strText, QStringLiteral("Save changes to %1?").arg(c.name));
    }
}
