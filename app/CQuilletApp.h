#pragma once

#include <QStringList>

#include <memory>

class CMainFrame;
class CQuilletDoc;
class QPrinter;
class QtUiServices;
class RecoveryKeeper;
class TerminationSignals;
class UiServices;

/// The application: starts the one document with its main frame and view, carries out the
/// application's own commands (printing, About), and opens a file named on the command line.
class CQuilletApp {
public:
    CQuilletApp();
    ~CQuilletApp();
    CQuilletApp(const CQuilletApp&) = delete;
    CQuilletApp& operator=(const CQuilletApp&) = delete;

    /// Start-up: settings, document, frame (splash included, shown for splashMilliseconds) and
    /// view, the offer to recover the work of a run that ended abruptly, then the command line
    /// (arguments without the program name). Shows the main window. services, when given, answer
    /// in place of the Qt dialogs (tests).
    bool InitInstance(const QStringList& arguments, int splashMilliseconds = 3000, UiServices* services = nullptr);

    CQuilletDoc& Document() const { return *m_pDocument; }
    /// The signal (SIGTERM, SIGHUP) that told the program to end, 0 while none has: the event
    /// loop has been told to end with 128 + that number.
    int EndSignal() const { return m_nEndSignal; }
    CMainFrame& MainFrame() const { return *m_pFrame; }

    /// Opens a file named on the command line or picked from the recent files.
    void OpenFile(const QString& path);
    /// About command: shows the About box.
    void OnAppAbout();
    /// Print, Print Preview and Print Setup: the last painted view on one page.
    void OnFilePrint();
    void OnFilePrintPreview();
    void OnFilePrintSetup();

private:
    QPrinter& Printer();
    void PrintPage(QPrinter& printer);

    std::unique_ptr<CQuilletDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pFrame;
    std::unique_ptr<QtUiServices> m_pUi;
    UiServices* m_pPreviousUi = nullptr;
    std::unique_ptr<RecoveryKeeper> m_pRecovery;
    std::unique_ptr<TerminationSignals> m_pTermination;
    int m_nEndSignal = 0;
    std::unique_ptr<QPrinter> m_pPrinter;
};
