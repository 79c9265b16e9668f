#include "commands/BitmapCommand.h"

#include "commands/CommandMessages.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "formats/FileKinds.h"
#include "imaging/BitmapExport.h"
#include "imaging/CPicture.h"
#include "platform/DisplayText.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

#include <QFileInfo>

void OnSaveViewAsBitmap(const CQuilletDoc& doc, const ViewState& view)
{
    if (!doc.IsMapLoaded() || !view.ViewBitmap())
        return;
    // Captured before the dialog is shown, so that the dialog cannot spoil the picture.
    QByteArray block = CaptureBitmap(*view.ViewBitmap(), nullptr, BI_RGB);
    if (block.isEmpty())
        return;
    const QString path =
        ChooseFileToWrite(doc, QStringLiteral("Save picture as a Bitmap file"), BitmapSaveFilter(),
                          ProposedName(doc, QStringLiteral(".bmp")), [](const FileDialogResult& answer) {
                              return ReplaceExtensionAtFirstDot(answer.m_strPath, QStringLiteral(".bmp"));
                          }).m_strPath;
    if (path.isEmpty())
        return;

    bool written = false;
    int error = 0;
    const bool finished =
        Ui().RunLongWork(WritingTitle(path), [&](Progress progress) {
            QByteArray file;
            WritePackedBitmapFile(file, block);
            block.clear();
            written = !file.isEmpty() && WriteWholeFile(path, file, nullptr, &error, progress.Part(0.0, 0.5));
            if (!written)
                return;
            file.clear();
            // What stays on disk is the picture service's own BMP of the captured pixels.
            CPicture picture;
            if (picture.LoadFromFile(path))
                picture.SaveToFile(path);
            progress.Report(1, 1);
        });
    if (!finished && !written)
        return; // cancelled before the file was complete: nothing was written
    if (!written) {
        Ui().MessageBox(WithSystemReason(CannotOpenFileText(), error), InvalidFileCaption(),
                        MB_OK | MB_ICONERROR);
        return;
    }
    Ui().ShowStatus(WroteText(path));
}
