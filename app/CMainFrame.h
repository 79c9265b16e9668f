#pragma once

#include "app/SPLASH.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <map>
#include <vector>

class CCmdUI;
class ControlPointPanel;
class CQuilletDoc;
class CQuilletView;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

/// The main frame window: menu, toolbar, five-pane status bar and the splash window, around the
/// one view of the one document. Every command goes through one table here, which also decides,
/// in one place, which menu entries and buttons are enabled and checked.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CQuilletDoc& document, QWidget* parent = nullptr);
    ~CMainFrame() override;

    /// Builds the toolbar and the status bar, then shows the splash window for
    /// splashMilliseconds (the frame itself stays hidden meanwhile).
    bool Create(int splashMilliseconds = 3000);

    /// Puts text into status pane index (0 to 4), sizing the pane to the text's width. An empty
    /// text in pane 0 shows its idle prompt "Ready" at the pane's first width.
    void SetPaneText(const QString& text, int index);
    QLabel* Pane(int index) const { return m_Panes.at(static_cast<size_t>(index)); }
    /// The width of pane index's text area in pixels.
    int PaneWidth(int index) const { return m_PaneWidths.at(static_cast<size_t>(index)); }

    CQuilletDoc& Document() const { return m_Document; }
    CQuilletView* GetActiveView() const { return m_pView; }
    ControlPointPanel* ControlPoints() const { return m_pControlPoints; }
    QToolBar* ToolBar() const { return m_pToolBar; }
    SPLASH& Splash() { return m_Splash; }

    /// A command's handler and its optional update handler (without one the command is enabled
    /// whenever it has a handler; a command without a handler is disabled).
    struct Command {
        std::function<void()> m_OnCommand;
        std::function<void(CCmdUI&)> m_OnUpdate;
    };
    void SetCommand(int id, Command command);
    /// Runs command id as the menu or toolbar would, then refreshes every enable and check state.
    void OnCommand(int id);
    /// The menu or toolbar action of command id (null for ids that have none).
    QAction* Action(int id) const;
    /// Recomputes the enabled and checked state of every command.
    void UpdateCommandUI();

    /// Recent files (four entries), most recent first.
    QStringList RecentFiles() const;
    void AddToRecentFiles(const QString& opened);
    /// Called with a path picked from the recent-file list or dropped on the window.
    std::function<void(const QString&)> m_OnOpenFile;
    /// Asked before the window closes (Exit, the close box); false keeps it open.
    std::function<bool()> m_CanClose;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void RegisterFrameworkCommands();
    void RebuildRecentFileMenu();

    CQuilletDoc& m_Document;
    CQuilletView* m_pView = nullptr;
    ControlPointPanel* m_pControlPoints = nullptr;
    SPLASH m_Splash;
    std::array<QLabel*, 5> m_Panes{};
    std::array<int, 5> m_PaneWidths{};
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentSeparator = nullptr;
    std::vector<QAction*> m_RecentActions;
    std::map<int, QAction*> m_Actions;
    std::map<int, Command> m_Commands;
};
