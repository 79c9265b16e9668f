#include "app/CQuilletApp.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/QtUiServices.h"
#include "app/ReferencePane.h"
#include "app/TerminationSignals.h"
#include "commands/CommandResult.h"
#include "commands/FileCommands.h"
#include "commands/FileNaming.h"
#include "commands/Recovery.h"
#include "document/CQuilletDoc.h"
#include "platform/UiServices.h"
#include "platform/Version.h"
#include "view/core/PrintLayout.h"
#include "view/widgets/CQuilletView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSettings>
#include <QTimer>

#include <new>

namespace {

/// Copies the settings of a release that kept them under another name, while there are none.
void MoveFormerSettings()
{
    QSettings settings;
    if (!settings.allKeys().isEmpty())
        return;
    const QSettings former(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Varnel"));
    for (const QString& key : former.allKeys())
        settings.setValue(key, former.value(key));
}

} // namespace

CQuilletApp::CQuilletApp() = default;

CQuilletApp::~CQuilletApp()
{
    m_pTermination.reset();
    m_pRecovery.reset();
    if (m_pUi)
        UiServices::Install(m_pPreviousUi);
}

bool CQuilletApp::InitInstance(const QStringList& arguments, int splashMilliseconds, UiServices* services)
{
    // Settings (window placement, recent files) in ~/.config/varnel/varnel.conf, where a Linux
    // user looks for them; an older release's are brought over once.
    QCoreApplication::setOrganizationName(QStringLiteral("varnel"));
    QCoreApplication::setApplicationName(QStringLiteral("varnel"));
    MoveFormerSettings();
    MoveRecoveryFiles(RecoveryKeeper::FormerFolder(), RecoveryKeeper::DefaultFolder());
    QCoreApplication::setApplicationVersion(VarnelVersion());
    // Ties the window to the installed menu entry, whose icon and name the desktop shows for it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.varnel.Varnel"));

    m_pDocument = std::make_unique<CQuilletDoc>();
    m_pFrame = std::make_unique<CMainFrame>(*m_pDocument);
    m_pUi = std::make_unique<QtUiServices>(m_pFrame.get());
    m_pUi->m_ShowStatus = [frame = m_pFrame.get()](const QString& text) { frame->SetPaneText(text, 0); };
    m_pUi->m_NoteRecentFile = [frame = m_pFrame.get()](const QString& path) { frame->AddToRecentFiles(path); };
    m_pUi->m_CanPickOnReference = [frame = m_pFrame.get()] { return frame->References()->CanPick(); };
    m_pUi->m_PickOnReference = [frame = m_pFrame.get()] { return frame->References()->PickPosition(); };
    m_pPreviousUi = UiServices::Install(services ? services : m_pUi.get());
    // The commands themselves come from the command table; closing asks first, but not while long
    // work runs on the document, and afterwards only once unsaved work is settled.
    m_pFrame->SetApplication(this);
    m_pFrame->m_CanClose = [this] {
        return !m_pUi->Busy() && SaveModified(*m_pDocument, &m_pFrame->GetActiveView()->State());
    };
    ViewState* view = &m_pFrame->GetActiveView()->State();
    m_pRecovery = std::make_unique<RecoveryKeeper>(*m_pDocument, view, RecoveryKeeper::DefaultFolder());
    // Told to end by the system, the program can ask nothing: the unsaved work stays for the next
    // start, the lock goes, and the event loop ends.
    m_pTermination = std::make_unique<TerminationSignals>([this](int signal) {
        m_nEndSignal = signal;
        m_pRecovery->KeepForNextStart();
        QCoreApplication::exit(128 + signal);
    });
    if (!m_pFrame->Create(splashMilliseconds))
        return false;

    m_pFrame->m_OnOpenFile = [this](const QString& path) { OpenFile(path); };
    if (arguments.isEmpty())
        InitialNewDocument(*m_pDocument); // the start-up call only marks the document initialised
    m_pFrame->show();
    // The work of a run that ended abruptly comes first, kept in this run's own file at once (the
    // file it came from is gone); a file named on the command line then opens as usual, asking
    // about that work before it replaces it.
    if (OfferRecovery(*m_pDocument, view, RecoveryKeeper::DefaultFolder()))
        m_pRecovery->WriteNow();
    if (!arguments.isEmpty())
        OpenFile(QFileInfo(arguments.constFirst()).absoluteFilePath());
    m_pFrame->UpdateCommandUI();
    return true;
}

void CQuilletApp::OpenFile(const QString& path)
{
    ViewState* view = &m_pFrame->GetActiveView()->State();
    // The file goes to the recent files as every file opened does, through the commands.
    if (SaveModified(*m_pDocument, view))
        OpenDocumentFile(*m_pDocument, view, path);
    m_pFrame->UpdateCommandUI();
}

void CQuilletApp::OnFilePrint()
{
    QPrintDialog dialog(&Printer(), m_pFrame.get());
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintPage(Printer());
    // Printed to a file: say which, as the other commands that write one do.
    if (!Printer().outputFileName().isEmpty())
        Ui().ShowStatus(WroteText(Printer().outputFileName()));
}

void CQuilletApp::OnFilePrintPreview()
{
    QPrintPreviewDialog preview(&Printer(), m_pFrame.get());
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, [this, &preview](QPrinter* printer) {
        // No exception may leave a paint request for Qt's event loop: the preview stays empty and
        // says why once it has painted.
        try {
            PrintPage(*printer);
        } catch (const std::bad_alloc&) {
            QTimer::singleShot(0, &preview, [] { ShowMessage(OutOfMemoryMessage()); });
        }
    });
    preview.exec();
}

void CQuilletApp::OnFilePrintSetup()
{
    QPageSetupDialog dialog(&Printer(), m_pFrame.get());
    dialog.exec();
}

QPrinter& CQuilletApp::Printer()
{
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_pPrinter;
}

void CQuilletApp::PrintPage(QPrinter& printer)
{
    QPainter painter(&printer);
    // The page area in the printer's device units, from the page's origin.
    PrintView(painter, m_pFrame->GetActiveView()->State(),
              printer.pageLayout().paintRectPixels(printer.resolution()).size());
}

void CQuilletApp::OnAppAbout()
{
    CAboutDlg about(m_pFrame.get());
    about.exec();
}
