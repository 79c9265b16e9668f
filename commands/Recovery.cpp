#include "commands/Recovery.h"

#include "commands/CommandMessages.h"
#include "commands/FileCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/WorkspaceSideFile.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "platform/Version.h"
#include "view/core/ViewState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {

/// Edits are written together within this long after the first of them.
constexpr int kWriteDelayMs = 2000;

const QString kRecoverySuffix = QStringLiteral(".vrc");
const QString kLockSuffix = QStringLiteral(".lock");
/// Recovery files hold the user's work: theirs alone.
const QFile::Permissions kUserOnly = QFile::ReadOwner | QFile::WriteOwner;

QString LockPathFor(const QString& recoveryPath)
{
    return recoveryPath.left(recoveryPath.size() - kRecoverySuffix.size()) + kLockSuffix;
}

QString RecoveryPathFor(const QString& lockPath)
{
    return lockPath.left(lockPath.size() - kLockSuffix.size()) + kRecoverySuffix;
}

/// A recovery file goes with what is kept beside it.
void RemoveRecoveryFile(const QString& path)
{
    QFile::remove(path);
    QFile::remove(WorkspaceSideFilePath(path));
}

} // namespace

RecoveryKeeper::RecoveryKeeper(CQuilletDoc& doc, const ViewState* view, const QString& folder)
    : m_Doc(doc), m_pView(view), m_strFolder(folder)
{
    // The user's unsaved work is theirs alone, also in a folder an older release made.
    QDir().mkpath(folder);
    QFile::setPermissions(folder, kUserOnly | QFile::ExeOwner);
    const QString id = QStringLiteral("%1-%2")
                           .arg(QCoreApplication::applicationPid())
                           .arg(QDateTime::currentMSecsSinceEpoch());
    m_strFile = QDir(folder).filePath(id + kRecoverySuffix);
    m_pOwnership = std::make_unique<QLockFile>(LockPathFor(m_strFile));
    // Only a dead owner makes a lock stale, never its age: a long session keeps its file.
    m_pOwnership->setStaleLockTime(0);
    m_pOwnership->tryLock(0);
    QFile::setPermissions(LockPathFor(m_strFile), kUserOnly);
    m_Timer.setSingleShot(true);
    m_Timer.setInterval(kWriteDelayMs);
    QObject::connect(&m_Timer, &QTimer::timeout, [this] { WriteNow(); });
    m_Doc.AddView(this);
}

RecoveryKeeper::~RecoveryKeeper()
{
    m_Doc.RemoveView(this);
    if (m_bReleased)
        return;
    // A normal end: nothing is left to recover.
    Remove();
    m_pOwnership->unlock();
}

QString RecoveryKeeper::DefaultFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("varnel/recovery"));
}

QString RecoveryKeeper::FormerFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Local AppWizard-Generated Applications/Varnel/recovery"));
}

void RecoveryKeeper::OnUpdate(CView*, long hint)
{
    if (m_bReleased)
        return;
    if (hint & DocChange::kMap) {
        // Another map: the work that was here is saved or has been given up.
        Remove();
        return;
    }
    // An edit is told before the edit history takes it, and an undo before the history moves
    // back, so whether the work is unsaved is decided when the file is due, not here.
    if (!(hint & (DocChange::kPoints | DocChange::kGeoCoding | DocChange::kOptions)) && !m_Doc.IsModified()) {
        Remove(); // saved
        return;
    }
    if (!m_Timer.isActive())
        m_Timer.start();
}

void RecoveryKeeper::WriteNow()
{
    m_Timer.stop();
    if (m_bReleased)
        return;
    if (!m_Doc.IsMapLoaded() || !m_Doc.IsModified()) {
        Remove();
        return;
    }
    if (WriteWholeFile(m_strFile, EncodeRecovery(CaptureRecovery(m_Doc, m_pView)))) {
        QFile::setPermissions(m_strFile, kUserOnly);
        // The choice of transformation and the reference maps are kept beside, as beside a workspace.
        const WorkspaceSideFile side{m_Doc.Choice(), m_Doc.References()};
        if (WriteWorkspaceSideFile(m_strFile, side) && !side.IsDefault())
            QFile::setPermissions(WorkspaceSideFilePath(m_strFile), kUserOnly);
    }
}

void RecoveryKeeper::KeepForNextStart()
{
    WriteNow();
    m_bReleased = true;
    m_pOwnership->unlock();
}

void RecoveryKeeper::Remove()
{
    m_Timer.stop();
    RemoveRecoveryFile(m_strFile);
}

RecoveryContents CaptureRecovery(const CQuilletDoc& doc, const ViewState* view)
{
    RecoveryContents contents;
    contents.m_SavedAt = QDateTime::currentDateTimeUtc();
    if (doc.WorkspacePath().isEmpty()) {
        contents.m_Source = RecoveryContents::Source::MapFile;
        contents.m_strPath = doc.MapPath();
    } else {
        contents.m_Source = doc.WorkspacePathIsProjectionFile() ? RecoveryContents::Source::ProjectionFile
                                                                : RecoveryContents::Source::Workspace;
        contents.m_strPath = doc.WorkspacePath();
    }
    // Another start may run in another folder.
    if (!contents.m_strPath.isEmpty())
        contents.m_strPath = QFileInfo(contents.m_strPath).absoluteFilePath();
    contents.m_nMapType = static_cast<std::int32_t>(doc.MapType());
    contents.m_nGeoCoded = doc.IsGeoCoded() ? 1 : 0;
    contents.m_dGeoCoef = doc.GeoCoef();
    if (view) {
        const ViewWindow& window = view->Window();
        contents.m_dWinLeft = window.m_dLeft;
        contents.m_dWinRight = window.m_dRight;
        contents.m_dWinBottom = window.m_dBottom;
        contents.m_dWinTop = window.m_dTop;
    }
    contents.m_nInputOption = static_cast<std::int32_t>(doc.InputOption());
    contents.m_dUnitFactor = doc.UnitFactor();
    contents.m_ControlPoints = doc.ControlPoints();
    return contents;
}

namespace {

/// Loads what the recovered work belongs to, as the file commands load it.
bool LoadSource(CQuilletDoc& doc, ViewState* view, const RecoveryContents& recovered)
{
    switch (recovered.m_Source) {
    case RecoveryContents::Source::Workspace:
        return OpenWorkspaceFile(doc, view, recovered.m_strPath);
    case RecoveryContents::Source::ProjectionFile:
        return OpenDocumentFile(doc, view, recovered.m_strPath);
    case RecoveryContents::Source::MapFile:
        break;
    }
    return OpenMapFile(doc, recovered.m_strPath, recovered.Kind());
}

void Apply(CQuilletDoc& doc, ViewState* view, const RecoveryContents& recovered, const std::optional<WorkspaceSideFile>& side)
{
    const GeoCodingChoice choice = side ? side->m_Choice : GeoCodingChoice{};
    doc.RestorePoints({recovered.m_ControlPoints, recovered.m_nGeoCoded != 0 ? 1 : 0, recovered.m_dGeoCoef, std::nullopt,
                       choice});
    // Another choice's model is not in the recovered coefficients: it is fitted again.
    if (!choice.IsDefault())
        doc.ComputeProjection();
    doc.SetInputOption(static_cast<InputNotation>(recovered.m_nInputOption));
    doc.SetUnitFactor(recovered.m_dUnitFactor);
    if (side)
        doc.SetReferences(side->m_References);
    if (view) {
        view->SetWindow({recovered.m_dWinLeft, recovered.m_dWinBottom, recovered.m_dWinRight, recovered.m_dWinTop});
    }
    doc.MarkModified();
    doc.UpdateAllViews(nullptr, DocChange::kImage);
}

} // namespace

bool OfferRecovery(CQuilletDoc& doc, ViewState* view, const QString& folder)
{
    const QDir dir(folder);
    QFileInfoList files = dir.entryInfoList({QStringLiteral("*") + kRecoverySuffix}, QDir::Files, QDir::Time);
    bool recovered = false;
    for (const QFileInfo& file : files) {
        // A file is another instance's while its owner runs.
        QLockFile owner(LockPathFor(file.absoluteFilePath()));
        owner.setStaleLockTime(0);
        if (!owner.tryLock(0))
            continue;
        QByteArray bytes;
        const std::optional<RecoveryContents> contents =
            ReadWholeFile(file.absoluteFilePath(), bytes) ? ParseRecovery(bytes) : std::nullopt;
        if (!contents || recovered) {
            // Unreadable, or one recovery is enough for this run: a later start offers the rest.
            if (!contents)
                RemoveRecoveryFile(file.absoluteFilePath());
            owner.unlock();
            continue;
        }
        const QString name = contents->m_strPath.isEmpty() ? UntitledName()
                                                           : DisplayText(QFileInfo(contents->m_strPath).fileName());
        const QString question =
            QStringLiteral("Varnel did not shut down cleanly. Recover the %1 control points on %2 saved at %3?")
                .arg(contents->m_ControlPoints.size())
                .arg(name, contents->m_SavedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        if (Ui().MessageBox(question, ApplicationTitle(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
            RemoveRecoveryFile(file.absoluteFilePath());
            owner.unlock();
            continue;
        }
        if (!QFileInfo::exists(contents->m_strPath)) {
            Ui().MessageBox(QStringLiteral("%1 is gone, so the recovered points cannot be put back on it. They are "
                                           "kept for a later try.")
                                .arg(DisplayText(contents->m_strPath)),
                            ApplicationTitle(), MB_OK | MB_ICONEXCLAMATION);
            owner.unlock();
            continue;
        }
        if (!LoadSource(doc, view, *contents)) {
            owner.unlock();
            continue;
        }
        // A side file that cannot be read leaves the default choice and the reference maps the
        // work was opened with: the points are what matters.
        Apply(doc, view, *contents, ReadWorkspaceSideFile(file.absoluteFilePath()).Value());
        RemoveRecoveryFile(file.absoluteFilePath());
        owner.unlock();
        recovered = true;
    }
    // A run killed before it had work to keep leaves its lock alone; taking over a lock whose
    // owner is dead and letting it go removes it, while a running instance keeps its own.
    for (const QFileInfo& lock : dir.entryInfoList({QStringLiteral("*") + kLockSuffix}, QDir::Files)) {
        if (QFileInfo::exists(RecoveryPathFor(lock.absoluteFilePath())))
            continue; // offered above, or kept for a later start
        QLockFile orphan(lock.absoluteFilePath());
        orphan.setStaleLockTime(0);
        if (orphan.tryLock(0))
            orphan.unlock();
    }
    return recovered;
}

void MoveRecoveryFiles(const QString& from, const QString& to)
{
    const QStringList pattern{QStringLiteral("*") + kRecoverySuffix};
    if (!QDir(to).entryList(pattern, QDir::Files).isEmpty())
        return;
    for (const QFileInfo& file : QDir(from).entryInfoList(pattern, QDir::Files)) {
        // Only the work of runs that are over: a running older release keeps its own.
        QLockFile owner(LockPathFor(file.absoluteFilePath()));
        owner.setStaleLockTime(0);
        if (!owner.tryLock(0))
            continue;
        QDir().mkpath(to);
        QFile::setPermissions(to, kUserOnly | QFile::ExeOwner);
        QFile::rename(file.absoluteFilePath(), QDir(to).filePath(file.fileName()));
        owner.unlock();
    }
}
