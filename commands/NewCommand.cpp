// The New command: replacing the document's map by a picture file or a TIFF file.

#include "commands/FileCommands.h"

#include "commands/CommandMessages.h"
#include "commands/CommandResult.h"
#include "commands/FileNaming.h"
#include "commands/FileOpening.h"
#include "document/CQuilletDoc.h"
#include "formats/TiffImport.h"
#include "platform/DisplayText.h"
#include "platform/UiServices.h"

#include <QFileInfo>

#include <new>

namespace {

const QString kInvalidFile = InvalidFileCaption();

void ShowUnsupported()
{
    Ui().MessageBox(QStringLiteral("The file is not supported."), kInvalidFile, MB_OK | MB_ICONSTOP);
}

void ShowNoMap(const QString& path, const QString& what)
{
    Ui().MessageBox(QStringLiteral("%1 could not be loaded: %2").arg(DisplayText(QFileInfo(path).fileName()), what),
                    kInvalidFile, MB_OK | MB_ICONSTOP);
}

} // namespace

namespace {

bool LoadMapFile(CQuilletDoc& doc, const QString& path, MapKind mapType)
{
    if (IsPictureMapType(mapType)) {
        CPicture picture;
        QByteArray bytes;
        picture.LoadFromFile(path, &bytes);
        if (picture.LastError()) {
            ShowMessage(*picture.LastError());
            return false;
        }
        if (!picture.m_pPicture) {
            ShowNoMap(path, QStringLiteral("it is not a picture Varnel can read."));
            return false;
        }
        doc.InstallPictureMap(path, mapType, std::move(picture), bytes);
        Ui().NoteRecentFile(path);
        return true;
    }
    if (IsTiffMapType(mapType)) {
        TiffImport import;
        Ui().RunLongWork(QStringLiteral("Importing %1").arg(DisplayText(QFileInfo(path).fileName())),
                         [&](Progress progress) { import = ImportTiffImages(path, -1, progress); });
        if (import.m_bCancelled)
            return false; // the map on screen stays as it was
        ShowMessages(import.m_Messages);
        if (import.m_Images.empty()) {
            // libtiff has said why, when it could; otherwise the file holds nothing to show.
            if (import.m_Messages.empty())
                ShowNoMap(path, QStringLiteral("it holds no image Varnel can read."));
            return false;
        }
        doc.InstallTiffMap(path, mapType, import.TakeImages(), import.MapGeoreference());
        Ui().NoteRecentFile(path);
        return true;
    }
    ShowUnsupported();
    return false;
}

} // namespace

bool OpenMapFile(CQuilletDoc& doc, const QString& path, MapKind mapType)
{
    try {
        return LoadMapFile(doc, path, mapType);
    } catch (const std::bad_alloc&) {
        // The picture or the images are made before the document takes them.
        ShowMessage(OutOfMemoryMessage());
        return false;
    }
}

void InitialNewDocument(CQuilletDoc& doc)
{
    doc.MarkInitialized();
}

bool OnFileNew(CQuilletDoc& doc, ViewState* view)
{
    if (!doc.IsInitialized()) {
        doc.MarkInitialized();
        return true;
    }
    if (doc.IsModified()) {
        // Unsaved work is the question: saved or given up, the user has chosen another map.
        if (!SaveModified(doc, view))
            return false;
    } else if (doc.IsMapLoaded() &&
               Ui().MessageBox(QStringLiteral("Do you want to use another map?"), QStringLiteral("New Map"),
                               MB_YESNO | MB_ICONINFORMATION) == IDNO) {
        return false;
    }
    const FileDialogResult chosen =
        Ui().OpenFileDialog(QStringLiteral("Open a picture file"), NewMapFilter(), StartFolder(doc));
    if (!chosen.Accepted())
        return false;
    return OpenChosenFile(doc, view, chosen.m_strPath,
                          ChooseFileOpening(chosen.m_strPath, OpenedFrom::NewDialog, chosen.m_nFilterIndex));
}

bool OpenDocumentFile(CQuilletDoc& doc, ViewState* view, const QString& path)
{
    return OpenChosenFile(doc, view, path, ChooseFileOpening(path, OpenedFrom::Name));
}
