// The Save and Save As commands: keeping the user's work in a workspace file.

#include "document/CQuilletDoc.h"
#include "document/WorkspaceFile.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"

namespace {

const QString kWorkspaceSaveFilter =
    QStringLiteral("Projection Work Space (pws)|*.pws|pws (*.pws)|*.pws|All Files (*.*)|*.*||");

} // namespace

bool CQuilletDoc::ChooseWorkspaceName()
{
    const FileDialogResult chosen = Ui().SaveFileDialog(QStringLiteral("Save Work Space"), kWorkspaceSaveFilter);
    if (!chosen.Accepted())
        return false;
    // Whatever was typed after the first "." of the file name gives way to the workspace's own
    // extension; dots in folder names are left alone.
    m_strWorkspacePath = ReplaceExtensionAtFirstDot(chosen.m_strPath, QStringLiteral(".pws"));
    m_bWorkspaceNamed = 1;
    // The user named a workspace: the path no longer stands for an opened projection file.
    m_strOpenedProjectionPath.clear();
    return true;
}

bool CQuilletDoc::WorkspacePathIsProjectionFile() const
{
    return !m_strOpenedProjectionPath.isEmpty() && m_strWorkspacePath == m_strOpenedProjectionPath;
}

void CQuilletDoc::SaveWorkspace()
{
    if (!m_bMapLoaded)
        return;
    // After a CPF or DPF was opened the workspace path names that file; writing a workspace
    // there would destroy it, so a name is asked for as if none had been chosen.
    if ((!m_bWorkspaceNamed || WorkspacePathIsProjectionFile()) && !ChooseWorkspaceName())
        return;
    WriteWorkspace();
}

void CQuilletDoc::SaveWorkspaceAs()
{
    if (!m_bMapLoaded)
        return;
    ChooseWorkspaceName();
    // After Cancel the workspace goes to the name chosen earlier, if there is one and it is not
    // an opened projection file.
    if (m_bWorkspaceNamed && !WorkspacePathIsProjectionFile())
        WriteWorkspace();
}

void CQuilletDoc::WriteWorkspace()
{
    if (IsPictureMap())
        m_nMapFileSize = static_cast<int>(m_MapFileData.size());
    const QByteArray file = EncodeWorkspace(*this, m_pActiveView);
    // Written whole through a temporary file: a failed write leaves the file that was there.
    if (!WriteWholeFile(m_strWorkspacePath, file)) {
        Ui().MessageBox(QStringLiteral("Can not open this file."), QStringLiteral("Invalid File"),
                        MB_OKCANCEL | MB_ICONINFORMATION);
        return;
    }
    // The work is kept all the same; the user is only reminded that it cannot be output yet.
    if (!m_bGeoCoded)
        Ui().MessageBox(QStringLiteral("Invalid projection. Need more points."), QStringLiteral("Invalid Projection"),
                        MB_OKCANCEL | MB_ICONINFORMATION);
}
