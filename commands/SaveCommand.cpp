// The Save and Save As commands: keeping the user's work in a workspace file.

#include "commands/FileCommands.h"

#include "commands/CommandMessages.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "formats/WorkspaceSideFile.h"
#include "platform/DisplayText.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "platform/Version.h"
#include "view/core/ViewState.h"

#include <QFileInfo>

WorkspaceContents CaptureWorkspace(const CQuilletDoc& doc, const ViewState* view)
{
    WorkspaceContents contents;
    contents.m_nGeoCoded = doc.IsGeoCoded() ? 1 : 0;
    contents.m_nMapType = static_cast<std::int32_t>(doc.MapType());
    contents.m_nImageWidth = doc.ImageWidth();
    contents.m_nImageHeight = doc.ImageHeight();
    contents.m_dGeoCoef = doc.GeoCoef();
    if (doc.IsPictureMap()) {
        contents.m_PictureBytes = doc.MapFileData();
        contents.m_ControlPoints = doc.ControlPoints();
    } else if (doc.IsTiffMap()) {
        WorkspaceTiffPart tiff; // without a view: the whole frame, shown as the map frame
        const auto pair = [](const CDataGeo& geo) { return CDataGeo{geo.m_dLatitude, geo.m_dLongitude, 0, 0}; };
        tiff.m_nGeoTiffFrame = doc.HasGeoTiffFrame() ? 1 : 0;
        tiff.m_nSelectedImage = doc.CurrentImage();
        tiff.m_GeoOrigin = pair(doc.GeoOrigin());
        tiff.m_GeoExtent = pair(doc.GeoExtent());
        tiff.m_FrameOrigin = pair(view ? view->FrameOrigin() : doc.GeoOrigin());
        tiff.m_FrameExtent = pair(view ? view->FrameExtent() : doc.GeoExtent());
        if (view) {
            const ViewWindow& window = view->Window();
            tiff.m_dWinLeft = window.m_dLeft;
            tiff.m_dWinRight = window.m_dRight;
            tiff.m_dWinBottom = window.m_dBottom;
            tiff.m_dWinTop = window.m_dTop;
        }
        tiff.m_nImageCount = static_cast<std::int32_t>(doc.Images().size());
        tiff.m_PathBytes = doc.MapPath().toUtf8();
        tiff.m_PathBytes.append('\0');
        contents.m_Tiff = std::move(tiff);
        contents.m_ControlPoints = doc.ControlPoints();
    }
    return contents;
}

bool ChooseWorkspaceName(CQuilletDoc& doc)
{
    const QString proposal = doc.IsWorkspaceNamed() && !doc.WorkspacePathIsProjectionFile()
                                 ? doc.WorkspacePath()
                                 : ProposedName(doc, QStringLiteral(".pws"));
    // Whatever was typed after the first "." of the file name gives way to the workspace's own
    // extension; dots in folder names are left alone.
    const auto finalName = [](const FileDialogResult& answer) {
        return ReplaceExtensionAtFirstDot(answer.m_strPath, QStringLiteral(".pws"));
    };
    const FileDialogResult chosen =
        ChooseFileToWrite(doc, QStringLiteral("Save Work Space"), WorkspaceSaveFilter(), proposal, finalName, true);
    if (!chosen.Accepted())
        return false;
    doc.SetWorkspaceName(chosen.m_strPath);
    return true;
}

void OnFileSave(CQuilletDoc& doc, const ViewState* view)
{
    if (!doc.IsMapLoaded())
        return;
    // After a CPF or DPF was opened the workspace path names that file; writing a workspace
    // there would destroy it, so a name is asked for as if none had been chosen.
    if ((!doc.IsWorkspaceNamed() || doc.WorkspacePathIsProjectionFile()) && !ChooseWorkspaceName(doc))
        return;
    WriteWorkspace(doc, view);
}

void OnFileSaveAs(CQuilletDoc& doc, const ViewState* view)
{
    if (!doc.IsMapLoaded())
        return;
    // Cancel writes nothing: the work stays unsaved, and the file chosen earlier as it was.
    if (ChooseWorkspaceName(doc))
        WriteWorkspace(doc, view);
}

void WriteWorkspace(CQuilletDoc& doc, const ViewState* view)
{
    const WorkspaceContents contents = CaptureWorkspace(doc, view);
    const QString path = doc.WorkspacePath();
    // Written whole through a temporary file: a failed or cancelled write leaves the file that
    // was there. A picture map's workspace holds the picture, so it may take a while.
    bool written = false;
    int error = 0;
    const bool finished = Ui().RunLongWork(QStringLiteral("Saving %1").arg(DisplayText(QFileInfo(path).fileName())),
                                           [&](Progress progress) {
                                               written = WriteWholeFile(path, EncodeWorkspace(contents), nullptr, &error, progress);
                                           });
    if (!finished && !written)
        return; // cancelled: still unsaved
    if (!written) {
        Ui().MessageBox(WithSystemReason(QStringLiteral("Can not open this file."), error), InvalidFileCaption(),
                        MB_OKCANCEL | MB_ICONINFORMATION);
        return;
    }
    // The workspace holds only the affine approximation of another choice, and not the reference
    // maps: without its side file the work would open otherwise than it was saved, so it stays
    // unsaved.
    QString sideError;
    if (!WriteWorkspaceSideFile(path, {doc.Choice(), doc.References()}, &sideError)) {
        Ui().MessageBox(sideError, InvalidFileCaption(), MB_OK | MB_ICONERROR);
        return;
    }
    doc.MarkSaved();
    Ui().ShowStatus(WroteText(path));
    Ui().NoteRecentFile(path);
    // The work is kept all the same; the user is only reminded that it cannot be output yet.
    if (!doc.IsGeoCoded())
        Ui().MessageBox(QStringLiteral("Saved. The map is not geo-coded yet: it needs more control points before it "
                                       "can be output."),
                        QStringLiteral("Work Space Saved"), MB_OK | MB_ICONINFORMATION);
}

bool SaveModified(CQuilletDoc& doc, const ViewState* view)
{
    if (!doc.IsModified())
        return true;
    // The question names what the window's title names.
    const QString name =
        doc.GetTitle().isEmpty() ? UntitledName() : DisplayText(QFileInfo(doc.GetTitle()).fileName());
    switch (Ui().MessageBox(QStringLiteral("Save changes to %1?").arg(name), ApplicationTitle(),
                            MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
        OnFileSave(doc, view);
        return !doc.IsModified();
    case IDNO:
        return true;
    default:
        return false;
    }
}
