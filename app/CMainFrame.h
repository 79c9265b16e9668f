#pragma once

#include <QMainWindow>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class ControlPointPanel;
class ReferencePane;
class CQuilletApp;
class CQuilletDoc;
class CQuilletView;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

/// The main frame window: menu, toolbar, five-pane status bar and the splash window, around the
/// one view of the one document. Its menus, toolbar and commands follow the command table
/// (CommandTable.h), which also decides which entries and buttons are enabled and checked.
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
    /// The application whose commands (printing, About) the frame offers; without one (a frame
    /// on its own) those commands stay disabled.
    void SetApplication(CQuilletApp* app) { m_pApp = app; }
    CQuilletView* GetActiveView() const { return m_pView; }
    ControlPointPanel* ControlPoints() const { return m_pControlPoints; }
    ReferencePane* References() const { return m_pReferences; }
    QToolBar* ToolBar() const { return m_pToolBar; }

    /// The splash window: a framed picture, made hidden by Create and shown over the frame for
    /// the splash wait.
    QLabel* SplashWindow() const { return m_pSplash.get(); }
    /// Centres the splash window over the frame's window rectangle and shows it.
    void ShowSplash();
    void HideSplash();
    /// Where a splash of the given size is placed over a frame rectangle: each half taken by a
    /// signed integer division truncating toward zero.
    static QPoint SplashPosition(const QRect& frame, const QSize& splash);

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
    void CreateSplash();
    void RebuildRecentFileMenu();
    /// Whether command id has a handler here (the application's need the application).
    bool IsHandled(int id) const;

    CQuilletDoc& m_Document;
    CQuilletView* m_pView = nullptr;
    ControlPointPanel* m_pControlPoints = nullptr;
    ReferencePane* m_pReferences = nullptr;
    CQuilletApp* m_pApp = nullptr;
    std::unique_ptr<QLabel> m_pSplash;
    std::array<QLabel*, 5> m_Panes{};
    std::array<int, 5> m_PaneWidths{};
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentSeparator = nullptr;
    std::vector<QAction*> m_RecentActions;
    std::map<int, QAction*> m_Actions;
};
