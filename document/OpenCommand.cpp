// Opening saved work: workspaces, and projection files read back as the map.

#include "document/CQuilletDoc.h"
#include "document/WorkspaceFile.h"
#include "output/ProjectionFile.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

namespace {

const QString kWorkspaceOpenFilter =
    QStringLiteral("Projection Work Space (pws)|*.pws|CPF (*.cpf)|*.cpf|DPF (*.dpf)|*.dpf|All Files (*.*)|*.*||");

// Positions of the entries in kWorkspaceOpenFilter: the entry chosen, not the file's extension,
// decides how the file is read.
constexpr int kWorkspaceEntry = 1;
constexpr int kCpfEntry = 2;
constexpr int kDpfEntry = 3;

} // namespace

void CQuilletDoc::OpenWorkspace()
{
    const FileDialogResult chosen = Ui().OpenFileDialog(QStringLiteral("Open A Work Space File"), kWorkspaceOpenFilter);
    if (!chosen.Accepted())
        return;
    switch (chosen.m_nFilterIndex) {
    case kWorkspaceEntry:
        OpenWorkspaceFile(chosen.m_strPath);
        break;
    case kCpfEntry:
        OpenProjectionFile(chosen.m_strPath, ProjectionKind::Cpf);
        break;
    case kDpfEntry:
        OpenProjectionFile(chosen.m_strPath, ProjectionKind::Dpf);
        break;
    default:
        // "All Files" names no format to read the file with; the document stays as it was.
        Ui().MessageBox(QStringLiteral("Invalid File. Maybe for another application."), QStringLiteral("Invalid File."),
                        MB_OK | MB_ICONSTOP);
        break;
    }
}

bool CQuilletDoc::OpenWorkspaceFile(const QString& path)
{
    QString error;
    if (!ReadWorkspaceFile(*this, m_pActiveView, path, &error)) {
        Ui().MessageBox(error, QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR);
        return false;
    }
    m_strOpenedProjectionPath.clear();
    return true;
}

bool CQuilletDoc::OpenProjectionFile(const QString& path, ProjectionKind kind)
{
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(path, bytes, &error)) {
        Ui().MessageBox(error, QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR);
        return false;
    }
    ProjectionError refusal;
    const std::optional<ProjectionContents> contents =
        kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, refusal) : ParseDpfProjection(bytes, refusal);
    if (!contents) {
        Ui().MessageBox(refusal.m_strText, refusal.m_strCaption, refusal.m_nType);
        return false;
    }
    // The file is sound: it replaces the map, the points and the model.
    m_Images.clear();
    m_ControlPoints.clear();
    m_MapFileData.clear();
    m_strWorkspacePath = path;
    // Remembered so that Save asks for a workspace name instead of writing over this file.
    m_strOpenedProjectionPath = path;
    m_bGeoCoded = 0;
    m_nMapType = 2; // a projection file's picture counts as a BMP map
    ApplyProjection(*this, *contents, kind);
    if (m_pActiveView)
        m_pActiveView->m_bGeoTiffFrame = false; // a projection file's frame is never a GeoTIFF's
    SetTitle(path);
    return true;
}
