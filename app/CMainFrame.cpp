#include "app/CMainFrame.h"

#include "app/CommandTable.h"
#include "app/ControlPointPanel.h"
#include "commands/CommandResult.h"
#include "document/CQuilletDoc.h"
#include "platform/CCmdUI.h"
#include "resources/Artwork.h"
#include "resources/Resource.h"
#include "view/widgets/CQuilletView.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <new>

namespace {

constexpr int kRecentFileCount = 4;
const int kPaneWidths[5] = {150, 60, 100, 150, 60};

QString RecentFileKey(int i)
{
    return QStringLiteral("Recent File List/File%1").arg(i + 1);
}

} // namespace

CMainFrame::CMainFrame(CQuilletDoc& document, QWidget* parent) : QMainWindow(parent), m_Document(document)
{
    setWindowTitle(QStringLiteral("Varnel"));
    setWindowIcon(ApplicationIcon());
    setAcceptDrops(true); // maps, workspaces and projection files open when dropped on the window
    resize(900, 680);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // The first window fits the screen's free area whatever the scale, title bar and frame
        // included; and it is centred there, so that the splash is centred over it.
        const QRect available = screen->availableGeometry();
        constexpr int kWindowDecoration = 40;
        resize(size().boundedTo(available.size() - QSize(kWindowDecoration / 2, kWindowDecoration)));
        QRect placement = geometry();
        placement.moveCenter(available.center());
        move(placement.topLeft());
    }
    m_pView = new CQuilletView(document, this);
    m_pView->m_SetPaneText = [this](const QString& text, int index) { SetPaneText(text, index); };
    m_pView->m_OnStateChanged = [this] { UpdateCommandUI(); };
    setCentralWidget(m_pView);
    m_pControlPoints = new ControlPointPanel(document, *m_pView, this);
    addDockWidget(Qt::RightDockWidgetArea, m_pControlPoints);
    m_pControlPoints->hide(); // until there is a map
    m_pView->m_OnPointPicked = [this](int index) { m_pControlPoints->SelectPoint(index); };
    CreateActions();
    CreateMenus();
    RegisterFrameworkCommands();
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::Create(int splashMilliseconds)
{
    CreateToolBar();
    CreateStatusBar();
    // Where the toolbar and the control-point table were left last time.
    restoreState(QSettings().value(QStringLiteral("MainWindow/state")).toByteArray());
    m_Splash.Create(this);
    m_Splash.Show();
    SPLASH::Wait(splashMilliseconds);
    m_Splash.Hide();
    UpdateCommandUI();
    return true;
}

void CMainFrame::CreateActions()
{
    for (const CommandText& text : CommandTexts()) {
        const QString prompt = QString::fromLatin1(text.m_strPrompt);
        const qsizetype newline = prompt.indexOf(QLatin1Char('\n'));
        auto* action = new QAction(this);
        action->setData(text.m_nId);
        action->setStatusTip(newline >= 0 ? prompt.left(newline) : prompt);
        action->setToolTip(newline >= 0 ? prompt.mid(newline + 1) : prompt);
        // Only commands with a toolbar picture show one in the menus; a blank one would stand
        // where a checkable entry shows its check mark.
        const std::vector<int>& toolbar = ToolbarLayout();
        if (std::find(toolbar.begin(), toolbar.end(), text.m_nId) != toolbar.end())
            action->setIcon(QIcon(ToolbarButtonImage(text.m_nId)));
        if (text.m_strMenu) {
            const QString menu = QString::fromLatin1(text.m_strMenu);
            const qsizetype tab = menu.indexOf(QLatin1Char('\t'));
            action->setText(tab >= 0 ? menu.left(tab) : menu);
            if (tab >= 0)
                action->setShortcut(QKeySequence(menu.mid(tab + 1)));
        } else {
            action->setText(action->toolTip());
        }
        connect(action, &QAction::triggered, this, [this, id = text.m_nId] { OnCommand(id); });
        m_Actions[text.m_nId] = action;
    }
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS, ID_OUTPUT_GEO_MAP, ID_SAVE_VIEW_AS_BITMAP})
        file->addAction(Action(id));
    file->addSeparator();
    file->addAction(Action(ID_EXPORT_GEOREFERENCED));
    file->addAction(Action(ID_IMPORT_CONTROL_POINTS));
    file->addSeparator();
    for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP})
        file->addAction(Action(id));
    file->addSeparator();
    m_pFileMenu = file;
    m_pRecentSeparator = file->addSeparator(); // the recent files stand just above it
    file->addAction(Action(ID_APP_EXIT));
    RebuildRecentFileMenu();

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(Action(ID_EDIT_UNDO));
    edit->addAction(Action(ID_EDIT_REDO));
    // Redo answers both the Windows and the KDE/GNOME habit.
    Action(ID_EDIT_REDO)->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Y")), QKeySequence(QStringLiteral("Ctrl+Shift+Z"))});

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addAction(Action(ID_VIEW_TOOLBAR));
    view->addAction(Action(ID_VIEW_STATUS_BAR));
    view->addSeparator();
    QAction* table = m_pControlPoints->toggleViewAction();
    table->setText(QStringLiteral("&Control Points"));
    view->addAction(table);
    view->addAction(Action(ID_SHOW_POINTS));
    view->addAction(Action(ID_SHOW_RESIDUALS));
    Action(ID_VIEW_TOOLBAR)->setCheckable(true);
    Action(ID_VIEW_STATUS_BAR)->setCheckable(true);

    // Every tool of the toolbar, so that all of them are there with the toolbar hidden. Ctrl and a
    // digit picks a tool in the toolbar's order wherever the focus is, and never while a
    // coordinate is being typed; Ctrl+0 fits the map as picture viewers do.
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    for (int id : {ID_SET_POINTS, ID_MOVE_POINTS, ID_DELETE_POINT, ID_MEASURE, 0, ID_ZOOM_IN, ID_ZOOM_OUT,
                   ID_FIT_IN_WINDOW, ID_SELECT_RANGE, 0, ID_INPUT_OPTIONS, ID_SELECT_UNIT, ID_SELECT_IMAGES}) {
        if (id == 0)
            tools->addSeparator();
        else
            tools->addAction(Action(id));
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(Action(ID_APP_ABOUT));

    for (QMenu* menu : {file, edit, view, tools, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

void CMainFrame::CreateToolBar()
{
    m_pToolBar = addToolBar(QStringLiteral("Toolbar"));
    m_pToolBar->setObjectName(QStringLiteral("toolbar"));
    m_pToolBar->setIconSize(QSize(16, 15));
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (int id : ToolbarLayout()) {
        if (id == 0)
            m_pToolBar->addSeparator();
        else
            m_pToolBar->addAction(Action(id));
    }
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    for (int i = 0; i < 5; ++i) {
        auto* pane = new QLabel(bar);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setContentsMargins(0, 0, 0, 0);
        pane->setIndent(0);
        bar->addWidget(pane, 0);
        m_Panes[static_cast<size_t>(i)] = pane;
        m_PaneWidths[static_cast<size_t>(i)] = kPaneWidths[i];
        pane->setFixedWidth(kPaneWidths[i] + 2 * pane->frameWidth());
    }
    Pane(0)->setText(QStringLiteral("Ready"));
}

void CMainFrame::SetPaneText(const QString& text, int index)
{
    if (index < 0 || index >= 5 || !Pane(index))
        return;
    QLabel* pane = Pane(index);
    if (index == 0 && text.isEmpty()) {
        // No message: the idle prompt, at the pane's own width.
        m_PaneWidths[0] = kPaneWidths[0];
        pane->setFixedWidth(kPaneWidths[0] + 2 * pane->frameWidth());
        pane->setText(QStringLiteral("Ready"));
        return;
    }
    // Measured in the status bar's own font, as the text will be drawn.
    const int width = QFontMetrics(statusBar()->font()).horizontalAdvance(text);
    m_PaneWidths[static_cast<size_t>(index)] = width;
    pane->setFixedWidth(width + 2 * pane->frameWidth());
    pane->setText(text);
    pane->repaint();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing gives up the work unless the user saves it or says so.
    if (m_CanClose && !m_CanClose()) {
        event->ignore();
        return;
    }
    QSettings().setValue(QStringLiteral("MainWindow/state"), saveState());
    QMainWindow::closeEvent(event);
}

namespace {

/// The first local file a drag carries, or nothing for web addresses, folders and text.
QString DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            return url.toLocalFile();
    return {};
}

} // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: the unsaved-work prompt must not hold the program the file
    // came from in the middle of its drag.
    QTimer::singleShot(0, this, [this, path] {
        if (m_OnOpenFile)
            m_OnOpenFile(path);
        UpdateCommandUI();
    });
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        // Command prompts go to the first pane and leave the others alone.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (Pane(0))
            Pane(0)->setText(tip.isEmpty() ? QStringLiteral("Ready") : tip);
        return true;
    }
    return QMainWindow::event(event);
}

QAction* CMainFrame::Action(int id) const
{
    const auto it = m_Actions.find(id);
    return it == m_Actions.end() ? nullptr : it->second;
}

void CMainFrame::SetCommand(int id, Command command)
{
    m_Commands[id] = std::move(command);
}

void CMainFrame::OnCommand(int id)
{
    UpdateCommandUI();
    const auto it = m_Commands.find(id);
    QAction* action = Action(id);
    // A command runs only while enabled, whatever way it arrives.
    if (it != m_Commands.end() && it->second.m_OnCommand && (!action || action->isEnabled())) {
        // Running out of memory anywhere in a command is told, never an abort: the commands that
        // load or write maps check their memory up front and change the document last.
        try {
            it->second.m_OnCommand();
        } catch (const std::bad_alloc&) {
            ShowMessage(OutOfMemoryMessage());
        }
    }
    UpdateCommandUI();
}

void CMainFrame::UpdateCommandUI()
{
    // The document's name, as the question about unsaved work names it, with the mark Qt shows
    // for unsaved work.
    const QString title = QFileInfo(m_Document.GetTitle()).fileName();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Varnel[*]") : title + QStringLiteral("[*] - Varnel"));
    setWindowModified(m_Document.IsModified());

    for (const auto& [id, action] : m_Actions) {
        const auto it = m_Commands.find(id);
        if (it == m_Commands.end() || !it->second.m_OnCommand) {
            action->setEnabled(false);
            continue;
        }
        CCmdUI state;
        if (it->second.m_OnUpdate) {
            it->second.m_OnUpdate(state);
        } else if (const CommandText* row = FindCommandText(id)) {
            state.Enable(IsAvailable(row->m_Enable, m_Document));
            if (row->m_Check)
                if (const std::optional<bool> check = row->m_Check(m_Document, m_pView->State()))
                    state.SetCheck(*check);
        }
        action->setEnabled(state.IsEnabled());
        if (state.Text())
            action->setText(*state.Text());
        // The check mark follows the handler only while the command is enabled; a disabled one
        // shows none, as a greyed button that looked pressed would offer a tool that is not there.
        if (state.IsEnabled() && state.Check()) {
            action->setCheckable(true);
            action->setChecked(*state.Check());
        } else if (!state.IsEnabled()) {
            action->setChecked(false);
        }
    }
}

void CMainFrame::RegisterFrameworkCommands()
{
    // The document's edit history; the menu says what would be undone or redone.
    CQuilletDoc& doc = m_Document;
    SetCommand(ID_EDIT_UNDO, {[&doc] { doc.UndoStack().undo(); }, [&doc](CCmdUI& ui) {
                                  ui.Enable(doc.UndoStack().canUndo());
                                  ui.SetText(QStringLiteral("&Undo %1").arg(doc.UndoStack().undoText()).trimmed());
                              }});
    SetCommand(ID_EDIT_REDO, {[&doc] { doc.UndoStack().redo(); }, [&doc](CCmdUI& ui) {
                                  ui.Enable(doc.UndoStack().canRedo());
                                  ui.SetText(QStringLiteral("&Redo %1").arg(doc.UndoStack().redoText()).trimmed());
                              }});
    SetCommand(ID_APP_EXIT, {[this] { close(); }, {}});
    SetCommand(ID_VIEW_TOOLBAR, {[this] {
                                     if (m_pToolBar)
                                         m_pToolBar->setVisible(!m_pToolBar->isVisible());
                                 },
                                 [this](CCmdUI& ui) { ui.SetCheck(m_pToolBar && !m_pToolBar->isHidden()); }});
    SetCommand(ID_VIEW_STATUS_BAR, {[this] { statusBar()->setVisible(statusBar()->isHidden()); },
                                    [this](CCmdUI& ui) { ui.SetCheck(!statusBar()->isHidden()); }});
}

QStringList CMainFrame::RecentFiles() const
{
    QSettings settings;
    QStringList files;
    for (int i = 0; i < kRecentFileCount; ++i) {
        const QString path = settings.value(RecentFileKey(i)).toString();
        if (!path.isEmpty())
            files << path;
    }
    return files;
}

void CMainFrame::AddToRecentFiles(const QString& opened)
{
    // Kept whole: a name relative to the folder Varnel was started in would open another file,
    // or none, from a run started elsewhere.
    const QString path = QFileInfo(opened).absoluteFilePath();
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    QSettings settings;
    for (int i = 0; i < kRecentFileCount; ++i) {
        if (i < files.size())
            settings.setValue(RecentFileKey(i), files[i]);
        else
            settings.remove(RecentFileKey(i));
    }
    RebuildRecentFileMenu();
}

void CMainFrame::RebuildRecentFileMenu()
{
    if (!m_pFileMenu)
        return;
    for (QAction* entry : m_RecentActions)
        delete entry;
    m_RecentActions.clear();
    const QStringList files = RecentFiles();
    if (files.isEmpty()) {
        auto* placeholder = new QAction(QStringLiteral("Recent File"), m_pFileMenu);
        placeholder->setEnabled(false);
        m_RecentActions.push_back(placeholder);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        auto* entry = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path), m_pFileMenu);
        connect(entry, &QAction::triggered, this, [this, path] {
            if (m_OnOpenFile)
                m_OnOpenFile(path);
            UpdateCommandUI();
        });
        m_RecentActions.push_back(entry);
    }
    for (QAction* entry : m_RecentActions)
        m_pFileMenu->insertAction(m_pRecentSeparator, entry);
}
