// Opening saved work: workspaces, and projection files read back as the map.

#include "commands/FileCommands.h"

#include "commands/CommandMessages.h"
#include "commands/CommandResult.h"
#include "commands/FileNaming.h"
#include "commands/FileOpening.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "formats/TiffImport.h"
#include "formats/WorkspaceSideFile.h"
#include "imaging/CPicture.h"
#include "imaging/PictureClaims.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

#include <QFileInfo>

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
    OpenChosenFile(doc, view, chosen.m_strPath,
                   ChooseFileOpening(chosen.m_strPath, OpenedFrom::OpenDialog, chosen.m_nFilterIndex));
}

namespace {

/// The refusal of a stored picture size that the picture cannot have been worked on at: a
/// 198-byte picture is no 20000 x 20000 map, and its size would drive the output's memory.
std::optional<UiMessage> StoredSizeRefusal(const CPicture& picture, int width, int height, const QString& path)
{
    if (!picture.m_pPicture)
        return std::nullopt;
    const QSize himetric = picture.m_pPicture->HimetricSize();
    const QSize own(MulDiv(himetric.width(), kPixelsPerInch, kHimetricPerInch),
                    MulDiv(himetric.height(), kPixelsPerInch, kHimetricPerInch));
    const std::optional<QString> mismatch = StoredSizeMismatch(own, width, height);
    if (!mismatch)
        return std::nullopt;
    return UiMessage{QStringLiteral("%1\n%2").arg(DisplayText(path), *mismatch), InvalidFileCaption(),
                     MB_OK | MB_ICONERROR};
}

ReadWorkspace ReadWorkspaceChecked(const QString& path, const Progress& progress)
{
    const auto refuse = [](const QString& text) {
        return ReadWorkspace{CommandResult::Refused({text, InvalidFileCaption(), MB_OK | MB_ICONERROR}), {}, {}, {}};
    };
    QByteArray bytes;
    QString text;
    if (!ReadWholeFile(path, bytes, &text))
        return refuse(text);
    Parsed<WorkspaceContents> parsed = ParseWorkspace(bytes);
    if (!parsed)
        return refuse(QStringLiteral("%1\n%2").arg(DisplayText(path), parsed.Why()));
    ReadWorkspace read{CommandResult::Done(), std::move(parsed).Value(), {}, {}};
    const WorkspaceContents& contents = *read.m_Contents;
    // What is kept beside the workspace is part of the work: a side file that cannot be read is
    // refused rather than replaced by the default, which the next save would make permanent.
    Parsed<WorkspaceSideFile> side = ReadWorkspaceSideFile(path);
    if (!side)
        return refuse(QStringLiteral("%1\nIts geo-coding side file %2 can not be read: %3.\nCorrect or remove that file "
                                     "to open the work space.")
                          .arg(DisplayText(path), DisplayText(WorkspaceSideFilePath(path)), side.Why()));
    read.m_SideFile = std::move(side).Value().value();

    // A picture map's picture is decoded first: what it claims, and the size stored for it, are
    // checked before the document changes.
    if (IsPictureMapType(contents.Kind())) {
        read.m_Picture.LoadFromMemory(contents.m_PictureBytes.value_or(QByteArray()));
        if (read.m_Picture.LastError())
            return {CommandResult::Refused(*read.m_Picture.LastError()), {}, {}, {}};
        if (std::optional<UiMessage> refusal =
                StoredSizeRefusal(read.m_Picture, contents.m_nImageWidth, contents.m_nImageHeight, path))
            return {CommandResult::Refused(std::move(*refusal)), {}, {}, {}};
    }

    // A TIFF map's images are decoded again by the import of the New command, stopped after as
    // many images as were saved: the k-th image is again the k-th listed directory that gave
    // pixels (a path that names no regular file is refused without waiting on it).
    if (IsTiffMapType(contents.Kind()) && contents.m_Tiff) {
        TiffImport import = ImportTiffImages(contents.m_Tiff->MapPath(), std::max(contents.m_Tiff->m_nImageCount, 0), progress);
        if (import.m_bCancelled)
            return {CommandResult::Cancelled(), {}, {}, {}};
        if (import.m_Images.empty()) {
            // A workspace without its map would read out nonsense and be saved without it: it is
            // refused whole, with the reason the import gave.
            QString reason = QStringLiteral("\nIts map %1 cannot be read, so the work space is not opened.")
                                 .arg(DisplayText(contents.m_Tiff->MapPath()));
            for (const UiMessage& message : import.m_Messages)
                reason += QLatin1Char('\n') + message.m_strText;
            return refuse(DisplayText(path) + reason);
        }
        read.m_Result.m_Messages = std::move(import.m_Messages);
        read.m_Georeference = import.MapGeoreference();
        read.m_Images = import.TakeImages();
    }
    return read;
}

} // namespace

bool OpenWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path)
{
    ReadWorkspace read;
    Ui().RunLongWork(OpeningTitle(path),
                     [&](Progress progress) { read = ReadWorkspaceFile(path, progress); });
    const CommandResult result = InstallWorkspaceFile(doc, view, path, std::move(read));
    ShowMessages(result.m_Messages);
    if (result.m_bDone)
        Ui().NoteRecentFile(path);
    return result.m_bDone;
}

CommandResult LoadWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path, const Progress& progress)
{
    return InstallWorkspaceFile(doc, view, path, ReadWorkspaceFile(path, progress));
}

ReadWorkspace ReadWorkspaceFile(const QString& path, const Progress& progress)
{
    try {
        return ReadWorkspaceChecked(path, progress);
    } catch (const std::bad_alloc&) {
        // Everything that allocates much comes before the document changes.
        return {CommandResult::Refused(OutOfMemoryMessage()), {}, {}, {}};
    }
}

CommandResult InstallWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path, ReadWorkspace&& read)
{
    if (!read.m_Result.m_bDone || !read.m_Contents)
        return read.m_Result;
    const WorkspaceContents& contents = *read.m_Contents;
    if (view && contents.m_Tiff) {
        // The view keeps the stored window (the reader has checked that zooming and scrolling
        // could have left it); the stored frame is shown until the next paint fits it to the
        // window.
        const WorkspaceTiffPart& tiff = *contents.m_Tiff;
        view->SetWindow({tiff.m_dWinLeft, tiff.m_dWinBottom, tiff.m_dWinRight, tiff.m_dWinTop});
    }
    doc.InstallWorkspace(path, contents, std::move(read.m_Images), &read.m_Picture, std::move(read.m_Georeference),
                         read.m_SideFile.m_Choice, read.m_SideFile.m_References);
    if (view && contents.m_Tiff && doc.Images().empty()) {
        view->SetFrame(contents.m_Tiff->m_FrameOrigin, contents.m_Tiff->m_FrameExtent);
    }
    return read.m_Result;
}

bool OpenProjectionFile(CQuilletDoc& doc, const QString& path, ProjectionKind kind)
{
    // Read, decoded and checked while the window goes on painting; the document changes only after.
    std::optional<UiMessage> refusal;
    std::optional<ProjectionContents> contents;
    CPicture picture;
    const bool finished =
        Ui().RunLongWork(OpeningTitle(path), [&](Progress progress) {
            try {
                // Mapped, not copied: a large map's file is only needed while its payload is decoded.
                MappedFile file;
                QString error;
                if (!file.Open(path, &error)) {
                    refusal = UiMessage{error, InvalidFileCaption(), MB_OK | MB_ICONERROR};
                    return;
                }
                const QByteArray& bytes = file.Bytes();
                UiMessage parseRefusal;
                contents = kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, parseRefusal)
                                                       : ParseDpfProjection(bytes, parseRefusal, progress);
                if (!contents) {
                    refusal = parseRefusal;
                    return;
                }
                picture.LoadFromMemory(contents->m_Payload);
                if (picture.LastError())
                    refusal = *picture.LastError();
                else if (!picture.m_pPicture)
                    // A blank map would be shown geo-coded, reading out nonsense.
                    refusal = UiMessage{QStringLiteral("%1\nThe projection file holds no picture that can be read. The "
                                                       "file is damaged, or it is not a %2 file.")
                                            .arg(DisplayText(path), kind == ProjectionKind::Cpf ? QStringLiteral("CPF")
                                                                                   : QStringLiteral("GPF or DPF")),
                                        InvalidFileCaption(), MB_OK | MB_ICONERROR};
                else
                    refusal = StoredSizeRefusal(picture, contents->m_nWidth, contents->m_nHeight, path);
            } catch (const std::bad_alloc&) {
                refusal = OutOfMemoryMessage();
            }
        });
    if (!finished)
        return false; // cancelled: the map on screen stays
    if (refusal) {
        ShowMessage(*refusal);
        return false;
    }
    // The file is sound: it replaces the map, the points and the model.
    if (const std::optional<UiMessage> complaint = doc.InstallProjection(path, *contents, kind, &picture))
        ShowMessage(*complaint);
    Ui().NoteRecentFile(path);
    return true;
}
