#pragma once
// The user-interface services the core asks for: message boxes, file dialogs, the modal
// dialogs and the wait cursor. The GUI installs a Qt implementation; tests and the
// command-line tool install a scripted one. Core code never talks to widgets directly.

#include "platform/DialogData.h"
#include "platform/Progress.h"
#include "platform/WinTypes.h"

#include <QString>

#include <functional>

/// What a file dialog answered: the chosen full path and the 1-based position of the
/// filter entry the user had selected. An empty path means the dialog was cancelled.
struct FileDialogResult {
    QString m_strPath;
    int m_nFilterIndex = 0;

    bool Accepted() const { return !m_strPath.isEmpty(); }
};

class UiServices {
public:
    virtual ~UiServices() = default;

    /// Shows a message box. type combines one MB_ button set and one MB_ICON flag;
    /// the result is IDOK, IDCANCEL, IDYES or IDNO.
    virtual int MessageBox(const QString& text, const QString& caption, unsigned type) = 0;

    /// Open and save dialogs. filter is in the "Text|*.ext|Text|*.ext||" form; the
    /// result's filter index counts the filter entries from 1. proposal, when not empty, is
    /// where the dialog starts: a folder, or a file whose folder is shown and whose name is
    /// proposed. A save dialog asks nothing about a file that exists: the command asks about
    /// the name it finally writes, which may differ from the one typed.
    virtual FileDialogResult OpenFileDialog(const QString& title, const QString& filter,
                                            const QString& proposal = {}) = 0;
    virtual FileDialogResult SaveFileDialog(const QString& title, const QString& filter,
                                            const QString& proposal = {}) = 0;

    /// Modal dialogs; each returns IDOK or IDCANCEL and updates its record only on IDOK.
    virtual int RunDataInputDialog(CoordinateEntry& entry) = 0;
    virtual int RunDegMinSecDialog(DegMinSecEntry& entry) = 0;
    virtual int RunInputOptionsDialog(ComboChoice& choice) = 0;
    virtual int RunSelectImageDialog(ImageChoice& choice) = 0;
    virtual int RunSelectUnitDialog(ComboChoice& choice) = 0;
    /// The geo-coding dialogs of a map: its transformation and fit coordinate system, and the
    /// grid of a rectified export, and the pick among the projections found for it. These ones
    /// cancel.
    virtual int RunTransformationDialog(TransformationEntry& entry);
    virtual int RunRectifyDialog(RectifyEntry& entry);
    virtual int RunProjectionDialog(ProjectionPick& pick);

    /// Says in the status bar's first pane what a command has done ("Wrote ...").
    virtual void ShowStatus(const QString& text) = 0;
    /// A map, workspace or projection file was opened or written: the desktop lists it among its
    /// recent files. This one does nothing.
    virtual void NoteRecentFile(const QString& path);

    /// Wait cursor for long operations; calls nest.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    /// Runs long work, giving it a Progress to report to. The window keeps repainting meanwhile
    /// and takes no other command; when the work lasts longer than half a second a progress
    /// dialog titled title appears, whose Cancel asks the work to stop. The work may run on
    /// another thread: it must not touch widgets, these services or anything the window may
    /// change. Returns once the work has returned: false when the user cancelled. This one
    /// runs the work at once on the calling thread.
    virtual bool RunLongWork(const QString& title, const std::function<void(Progress)>& work);

    /// The services in force for this process. Before any is installed a quiet fallback
    /// answers: messages go to standard error, dialogs are cancelled.
    static UiServices& Current();
    /// Installs services (not owned); null restores the fallback. Returns the previous ones.
    static UiServices* Install(UiServices* services);
};

/// Shortcut for UiServices::Current().
inline UiServices& Ui() { return UiServices::Current(); }

/// Shows the wait cursor for the lifetime of the object.
class CWaitCursor {
public:
    CWaitCursor() { Ui().BeginWaitCursor(); }
    ~CWaitCursor() { Ui().EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

/// Installs services for the lifetime of the object and puts back the previous ones.
class ScopedUiServices {
public:
    explicit ScopedUiServices(UiServices& services) : m_pPrevious(UiServices::Install(&services)) {}
    ~ScopedUiServices() { UiServices::Install(m_pPrevious); }
    ScopedUiServices(const ScopedUiServices&) = delete;
    ScopedUiServices& operator=(const ScopedUiServices&) = delete;

private:
    UiServices* m_pPrevious;
};
