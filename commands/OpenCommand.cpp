// Opening saved work: workspaces, and projection files read back as the map.

#include "commands/FileCommands.h"

#include "commands/CommandResult.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "formats/TiffImport.h"
#include "imaging/CPicture.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

#include <algorithm>
#include <new>

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

namespace {

/// How far the size a map was worked on may stray from the size the picture service measures
/// for its picture: a workspace made where the screen had another resolution holds another
/// size, but never this many times the picture's own.
constexpr std::int64_t kStoredSizeFactor = 8;

/// The refusal of a stored picture size that the picture cannot have been worked on at: a
/// 198-byte picture is no 20000 x 20000 map, and its size would drive the output's memory.
std::optional<UiMessage> StoredSizeRefusal(const CPicture& picture, int width, int height, const QString& path)
{
    if (!picture.m_pPicture)
        return std::nullopt;
    const QSize himetric = picture.m_pPicture->HimetricSize();
    const std::int64_t ownWidth = MulDiv(himetric.width(), kPixelsPerInch, kHimetricPerInch);
    const std::int64_t ownHeight = MulDiv(himetric.height(), kPixelsPerInch, kHimetricPerInch);
    if (width <= kStoredSizeFactor * (ownWidth + 1) && height <= kStoredSizeFactor * (ownHeight + 1))
        return std::nullopt;
    return UiMessage{QStringLiteral("%1\nThe file says its map is %2 x %3 pixels, but the picture it holds is %4 x %5 "
                                    "pixels. The file is damaged and cannot be read.")
                         .arg(path)
                         .arg(width)
                         .arg(height)
                         .arg(ownWidth)
                         .arg(ownHeight),
                     QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR};
}

CommandResult LoadWorkspace(CQuilletDoc& doc, ViewState* view, const QString& path)
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

    // A picture map's picture is decoded first: what it claims, and the size stored for it, are
    // checked before the document changes.
    CPicture picture;
    if (IsPictureMapType(contents->m_nMapType)) {
        picture.LoadFromMemory(contents->m_PictureBytes.value_or(QByteArray()));
        if (picture.LastError())
            return CommandResult::Refused(*picture.LastError());
        if (std::optional<UiMessage> refusal =
                StoredSizeRefusal(picture, contents->m_nImageWidth, contents->m_nImageHeight, path))
            return CommandResult::Refused(std::move(*refusal));
    }

    // A TIFF map's images are decoded again by the import of the New command, stopped after as
    // many images as were saved: the k-th image is again the k-th listed directory that gave
    // pixels. The import reports a missing or broken file itself (a path that names no regular
    // file is refused without waiting on it).
    CommandResult result = CommandResult::Done();
    std::vector<DIBSection> images;
    if (IsTiffMapType(contents->m_nMapType) && contents->m_Tiff) {
        TiffImport import = ImportTiffImages(contents->m_Tiff->MapPath(), std::max(contents->m_Tiff->m_nImageCount, 0));
        result.m_Messages = std::move(import.m_Messages);
        for (ImportedTiffImage& imported : import.m_Images)
            images.push_back(std::move(imported.m_Image));
    }
    if (view && contents->m_Tiff) {
        // The view keeps the stored window (the reader has checked that zooming and scrolling
        // could have left it); the stored frame is shown until the next paint fits it to the
        // window.
        const WorkspaceTiffPart& tiff = *contents->m_Tiff;
        view->m_dWinLeft = tiff.m_dWinLeft;
        view->m_dWinRight = tiff.m_dWinRight;
        view->m_dWinBottom = tiff.m_dWinBottom;
        view->m_dWinTop = tiff.m_dWinTop;
        view->RefreshWindowSize();
    }
    doc.InstallWorkspace(path, *contents, std::move(images), &picture);
    if (view && contents->m_Tiff && doc.Images().empty()) {
        view->m_FrameOrigin = contents->m_Tiff->m_FrameOrigin;
        view->m_FrameExtent = contents->m_Tiff->m_FrameExtent;
    }
    return result;
}

} // namespace

bool OpenWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path)
{
    CWaitCursor wait;
    const CommandResult result = LoadWorkspaceFile(doc, view, path);
    ShowMessages(result.m_Messages);
    return result.m_bDone;
}

CommandResult LoadWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path)
{
    try {
        return LoadWorkspace(doc, view, path);
    } catch (const std::bad_alloc&) {
        // Everything that allocates much comes before the document changes.
        return CommandResult::Refused(OutOfMemoryMessage());
    }
}

bool OpenProjectionFile(CQuilletDoc& doc, const QString& path, ProjectionKind kind)
{
    try {
        QByteArray bytes;
        QString error;
        if (!ReadWholeFile(path, bytes, &error)) {
            Ui().MessageBox(error, QStringLiteral("Invalid File"), MB_OK | MB_ICONERROR);
            return false;
        }
        UiMessage refusal;
        const std::optional<ProjectionContents> contents =
            kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, refusal) : ParseDpfProjection(bytes, refusal);
        if (!contents) {
            ShowMessage(refusal);
            return false;
        }
        CPicture picture;
        picture.LoadFromMemory(contents->m_Payload);
        if (picture.LastError()) {
            ShowMessage(*picture.LastError());
            return false;
        }
        if (const std::optional<UiMessage> refused = StoredSizeRefusal(picture, contents->m_nWidth, contents->m_nHeight, path)) {
            ShowMessage(*refused);
            return false;
        }
        // The file is sound: it replaces the map, the points and the model.
        if (const std::optional<UiMessage> complaint = doc.InstallProjection(path, *contents, kind, &picture))
            ShowMessage(*complaint);
        return true;
    } catch (const std::bad_alloc&) {
        ShowMessage(OutOfMemoryMessage());
        return false;
    }
}
