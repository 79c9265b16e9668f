// Opening saved work: workspaces, and projection files read back as the map.

#include "commands/FileCommands.h"

#include "commands/CommandResult.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "formats/TiffImport.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

#include <algorithm>

void OnFileOpen(CQuilletDoc& doc, ViewState* view)
{
    if (!SaveModified(doc, view))
        return;
    const FileDialogResult chosen =
        Ui().OpenFileDialog(QStringLiteral("Open A Work Space File"), OpenFilter(), StartFolder(doc));
    if (!chosen.Accepted())
        return;
    // The entry chosen, not the file's extension, decides how the file is read.
    const std::optional<FileKind> kind = OpenKindForEntry(chosen.m_nFilterIndex);
    if (kind == FileKind::Workspace) {
        OpenWorkspaceFile(doc, view, chosen.m_strPath);
    } else if (const std::optional<ProjectionKind> projection = kind ? ProjectionKindOf(*kind) : std::nullopt) {
        OpenProjectionFile(doc, chosen.m_strPath, *projection);
    } else if (FileKindOfFile(chosen.m_strPath)) {
        // "All Files" names no format: the file's content says what it is, else its extension.
        OpenAnyFile(doc, view, chosen.m_strPath);
    } else {
        Ui().MessageBox(QStringLiteral("Invalid File. Maybe for another application."), QStringLiteral("Invalid File."),
                        MB_OK | MB_ICONSTOP);
    }
}

bool OpenWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path)
{
    CWaitCursor wait;
    const CommandResult result = LoadWorkspaceFile(doc, view, path);
    ShowMessages(result.m_Messages);
    return result.m_bDone;
}

CommandResult LoadWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path)
{
    const auto refuse = [](const QString& text) {
        return CommandResult::Refused({text, QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR});
    };
    QByteArray bytes;
    QString text;
    if (!ReadWholeFile(path, bytes, &text))
        return refuse(text);
    const std::optional<WorkspaceContents> contents = ParseWorkspace(bytes, &text);
    if (!contents)
        return refuse(QStringLiteral("%1\n%2").arg(path, text));

    // A TIFF map's images are decoded again by the import of the New command, stopped after as
    // many images as were saved: the k-th image is again the k-th listed directory that gave
    // pixels. The import reports a missing or broken file itself.
    CommandResult result = CommandResult::Done();
    std::vector<DIBSection> images;
    if (IsTiffMapType(contents->m_nMapType) && contents->m_Tiff) {
        TiffImport import = ImportTiffImages(contents->m_Tiff->MapPath(), std::max(contents->m_Tiff->m_nImageCount, 0));
        result.m_Messages = std::move(import.m_Messages);
        for (ImportedTiffImage& imported : import.m_Images)
            images.push_back(std::move(imported.m_Image));
    }
    if (view && contents->m_Tiff) {
        // The view keeps the stored window; the stored frame is shown until the next paint fits
        // it to the window.
        const WorkspaceTiffPart& tiff = *contents->m_Tiff;
        view->m_dWinLeft = tiff.m_dWinLeft;
        view->m_dWinRight = tiff.m_dWinRight;
        view->m_dWinBottom = tiff.m_dWinBottom;
        view->m_dWinTop = tiff.m_dWinTop;
        view->RefreshWindowSize();
    }
    doc.InstallWorkspace(path, *contents, std::move(images));
    if (view && contents->m_Tiff && doc.Images().empty()) {
        view->m_FrameOrigin = contents->m_Tiff->m_FrameOrigin;
        view->m_FrameExtent = contents->m_Tiff->m_FrameExtent;
    }
    return result;
}

bool OpenProjectionFile(CQuilletDoc& doc, const QString& path, ProjectionKind kind)
{
    // Mapped, not copied: a large map's file is only needed while its payload is decoded.
    MappedFile file;
    QString error;
    if (!file.Open(path, &error)) {
        Ui().MessageBox(error, QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR);
        return false;
    }
    UiMessage refusal;
    const QByteArray& bytes = file.Bytes();
    const std::optional<ProjectionContents> contents =
        kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, refusal) : ParseDpfProjection(bytes, refusal);
    if (!contents) {
        ShowMessage(refusal);
        return false;
    }
    // The file is sound: it replaces the map, the points and the model.
    if (const std::optional<UiMessage> complaint = doc.InstallProjection(path, *contents, kind))
        ShowMessage(*complaint);
    return true;
}
