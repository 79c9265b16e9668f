#include "app/CMainFrame.h"

#include "app/CommandTable.h"
#include "app/ControlPointPanel.h"
#include "app/ReferencePane.h"
#include "app/CQuilletApp.h"
#include "commands/CommandResult.h"
#include "document/CQuilletDoc.h"
#include "platform/Version.h"
#include "resources/Artwork.h"
#include "resources/Resource.h"
#include "view/widgets/CQuilletView.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
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
#include <QThread>
#include <QTimer>
#include <QToolBar>

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
    setWindowTitle(ApplicationTitle());
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
    // The reference map shares the right side with the point table, and shows once one is added.
    m_pReferences = new ReferencePane(document, *m_pView, this);
    addDockWidget(Qt::RightDockWidgetArea, m_pReferences);
    m_pReferences->setVisible(!document.References().isEmpty());
    m_pControlPoints->hide(); // until there is a map
    m_pView->m_OnPointPicked = [this](int index) { m_pControlPoints->SelectPoint(index); };
    CreateActions();
    CreateMenus();
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::Create(int splashMilliseconds)
{
    CreateToolBar();
    CreateStatusBar();
    // Where the toolbar and the control-point table were left last time.
    restoreState(QSettings().value(QStringLiteral("MainWindow/state")).toByteArray());
    CreateSplash();
    ShowSplash();
    // The application does nothing else meanwhile: the splash is repainted, user input waits.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < splashMilliseconds) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        QThread::msleep(10);
    }
    HideSplash();
    UpdateCommandUI();
    return true;
}

void CMainFrame::CreateSplash()
{
    m_pSplash = std::make_unique<QLabel>(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_pSplash->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_pSplash->setLineWidth(2);
    m_pSplash->setGeometry(300, 300, 300, 300);
    const QPixmap picture = QPixmap::fromImage(SplashPicture());
    if (!picture.isNull()) { // without its picture the splash stays an empty window
        m_pSplash->setPixmap(picture);
        m_pSplash->resize(m_pSplash->sizeHint());
    }
}

QPoint CMainFrame::SplashPosition(const QRect& frame, const QSize& splash)
{
    const int left = frame.left();
    const int top = frame.top();
    const int right = frame.left() + frame.width();
    const int bottom = frame.top() + frame.height();
    return {left + ((right - left) / 2 - splash.width() / 2), top + ((bottom - top) / 2 - splash.height() / 2)};
}

void CMainFrame::ShowSplash()
{
    if (!m_pSplash)
        return;
    m_pSplash->move(SplashPosition(frameGeometry(), m_pSplash->size()));
    m_pSplash->show();
    m_pSplash->repaint();
}

void CMainFrame::HideSplash()
{
    if (m_pSplash)
        m_pSplash->hide();
}

void CMainFrame::CreateActions()
{
    for (const CommandRow& text : CommandTable()) {
        const QString prompt = QString::fromLatin1(text.m_strPrompt);
        const qsizetype newline = prompt.indexOf(QLatin1Char('\n'));
        auto* action = new QAction(this);
        action->setData(text.m_nId);
        action->setStatusTip(newline >= 0 ? prompt.left(newline) : prompt);
        action->setToolTip(newline >= 0 ? prompt.mid(newline + 1) : prompt);
        // Only commands with a toolbar picture show one in the menus; a blank one would stand
        // where a checkable entry shows its check mark.
        if (text.m_bIcon)
            action->setIcon(QIcon(ToolbarButtonImage(text.m_nId)));
        if (text.m_strMenu) {
            const QString menu = QString::fromLatin1(text.m_strMenu);
            const qsizetype tab = menu.indexOf(QLatin1Char('\t'));
            action->setText(tab >= 0 ? menu.left(tab) : menu);
            if (tab >= 0)
                action->setShortcuts(QKeySequence::listFromString(menu.mid(tab + 1)));
        } else {
            action->setText(action->toolTip());
        }
        connect(action, &QAction::triggered, this, [this, id = text.m_nId] { OnCommand(id); });
        m_Actions[text.m_nId] = action;
    }
}

void CMainFrame::CreateMenus()
{
    for (const MenuLayout& layout : MenuBarLayout()) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(layout.m_strTitle));
        for (int entry : layout.m_Entries) {
            if (entry == kSeparator) {
                menu->addSeparator();
            } else if (entry == kRecentFiles) {
                // The recent files stand just above the separator that follows them.
                m_pFileMenu = menu;
                m_pRecentSeparator = menu->addSeparator();
            } else if (entry == kReferencePanel) {
                QAction* pane = m_pReferences->toggleViewAction();
                pane->setText(QStringLiteral("Reference &Pane"));
                menu->addAction(pane);
            } else if (entry == kControlPointsPanel) {
                QAction* table = m_pControlPoints->toggleViewAction();
                table->setText(QStringLiteral("&Control Points"));
                menu->addAction(table);
            } else {
                menu->addAction(Action(entry));
            }
        }
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    }
    RebuildRecentFileMenu();
}

void CMainFrame::CreateToolBar()
{
    m_pToolBar = addToolBar(QStringLiteral("Toolbar"));
    m_pToolBar->setObjectName(QStringLiteral("toolbar"));
    m_pToolBar->setIconSize(QSize(16, 15));
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (int id : ToolbarLayout()) {
        if (id == kSeparator)
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

bool CMainFrame::IsHandled(int id) const
{
    const CommandRow* row = FindCommand(id);
    return row && (row->m_OnFrame || (row->m_OnApp && m_pApp));
}

void CMainFrame::OnCommand(int id)
{
    UpdateCommandUI();
    QAction* action = Action(id);
    // A command runs only while enabled, whatever way it arrives.
    if (IsHandled(id) && (!action || action->isEnabled())) {
        const CommandRow& row = *FindCommand(id);
        // Running out of memory anywhere in a command is told, never an abort: the commands that
        // load or write maps check their memory up front and change the document last.
        try {
            if (row.m_OnFrame)
                row.m_OnFrame(*this);
            else
                row.m_OnApp(*m_pApp);
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
    setWindowTitle(title.isEmpty() ? ApplicationTitle() + QStringLiteral("[*]") : title + QStringLiteral("[*] - ") + ApplicationTitle());
    setWindowModified(m_Document.IsModified());

    for (const auto& [id, action] : m_Actions) {
        const CommandRow* row = FindCommand(id);
        const bool handled = IsHandled(id);
        // The menu text says what the command would do, also while there is nothing to do.
        if (handled && row->m_Text)
            action->setText(row->m_Text(*this));
        const bool enabled = handled && IsAvailable(row->m_Enable, *this);
        action->setEnabled(enabled);
        if (!enabled) {
            // A disabled command shows no check mark, as a greyed button that looked pressed
            // would offer a tool that is not there.
            action->setChecked(false);
            continue;
        }
        if (row->m_Check)
            if (const std::optional<bool> check = row->m_Check(*this)) {
                action->setCheckable(true);
                action->setChecked(*check);
            }
    }
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
