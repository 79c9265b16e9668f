#pragma once
// Crash recovery: a running Varnel keeps a small recovery file of its unsaved point edits, and a
// later start offers to bring back the work of a run that did not shut down cleanly.

#include "document/CView.h"
#include "formats/RecoveryFile.h"

#include <QLockFile>
#include <QString>
#include <QTimer>

#include <memory>

class CQuilletDoc;
class ViewState;

/// The recovery file of this running instance. It watches the document: within two seconds of
/// any change (changes in between are written together) it writes the work of a modified
/// document, atomically, however the modified state was reached (an edit, an undo, recovered
/// work); it removes the file once the work is saved, discarded for another map, or the program
/// ends normally. Each instance owns one file, marked as its own by a lock file that the system
/// releases when the process ends however it ends. The folder is the user's alone (0700), and
/// so are the files (0600).
class RecoveryKeeper : public CView {
public:
    /// folder is where recovery files live (created when missing); view may be null.
    RecoveryKeeper(CQuilletDoc& doc, const ViewState* view, const QString& folder);
    ~RecoveryKeeper() override;
    RecoveryKeeper(const RecoveryKeeper&) = delete;
    RecoveryKeeper& operator=(const RecoveryKeeper&) = delete;

    void OnUpdate(CView* sender, long hint) override;
    /// Writes the recovery file now for a modified document; removes it for one with nothing
    /// unsaved.
    void WriteNow();
    /// Whether a write (or removal) of the recovery file is due within the delay.
    bool IsWritePending() const { return m_Timer.isActive(); }
    /// The program is told to end (SIGTERM, SIGHUP): the unsaved work is written now and kept
    /// for the next start, and the lock is released. The keeper does nothing more.
    void KeepForNextStart();
    /// This instance's recovery file.
    const QString& FilePath() const { return m_strFile; }
    /// The folder recovery files live in: "varnel/recovery" in the user's data folder.
    static QString DefaultFolder();
    /// Where releases before this one kept them.
    static QString FormerFolder();

private:
    void Remove();

    CQuilletDoc& m_Doc;
    const ViewState* m_pView;
    QString m_strFolder;
    QString m_strFile;
    std::unique_ptr<QLockFile> m_pOwnership;
    QTimer m_Timer;
    bool m_bReleased = false; ///< kept for the next start: nothing more is written or removed
};

/// What the document and view would keep in a recovery file.
RecoveryContents CaptureRecovery(const CQuilletDoc& doc, const ViewState* view);

/// At start: for every recovery file in folder whose instance is no longer running, asks
/// "Varnel did not shut down cleanly. Recover the N control points on NAME saved at TIME?". Yes
/// loads the map, workspace or projection file from its path, then the recovered points,
/// geo-coding, window and options, as a modified document, and the file is removed; No removes
/// it; a map file that is gone is reported and the file kept for a later try. Returns whether
/// work was recovered.
bool OfferRecovery(CQuilletDoc& doc, ViewState* view, const QString& folder);

/// Moves the recovery files of runs that are over from folder from to folder to, once: only
/// while to holds none.
void MoveRecoveryFiles(const QString& from, const QString& to);
