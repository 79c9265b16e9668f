#pragma once
// Which reader opens a file, decided in one place for every way a file arrives: the New and
// Open dialogs, a name given on the command line, picked from the recent files or dropped on the
// window, and varnel-cli. The choice follows the file-kind table; the readers are the file
// commands'.

#include "formats/FileKinds.h"

#include <QString>

class CQuilletDoc;
class ViewState;

/// How a file arrived; it decides what names the file's kind.
enum class OpenedFrom {
    NewDialog,  ///< New's list: the entry is the map kind; under "All Files" the content decides
    OpenDialog, ///< Open's list: the entry names the reader; under "All Files" the content decides
    Name,       ///< the command line, the recent files, a drop: the extension, else the content
    Content,    ///< the content, then the extension (varnel-cli)
};

/// The reader that takes a file.
enum class OpenReader {
    Workspace,
    Projection, ///< a projection file read as FileOpening::m_Projection
    PictureMap, ///< a picture map of kind FileOpening::m_MapKind
    TiffMap,    ///< a TIFF map of kind FileOpening::m_MapKind
    Refused,    ///< a kind that is no map here: "The file is not supported."
    Foreign,    ///< neither content nor extension names a kind Varnel knows (Open's "All Files")
};

/// How one file is to be opened.
struct FileOpening {
    OpenReader m_Reader = OpenReader::Refused;
    ProjectionKind m_Projection = ProjectionKind::Dpf; ///< for OpenReader::Projection
    MapKind m_MapKind = MapKind::None;                 ///< for a map: the kind it loads as

    friend bool operator==(const FileOpening&, const FileOpening&) = default;
};

/// The reader for the file at path arriving from `from`; entry is the 1-based position of the
/// dialog's chosen filter entry (for the two dialogs). Reads the file's first bytes when its
/// content decides.
FileOpening ChooseFileOpening(const QString& path, OpenedFrom from, int entry = 0);

/// Opens path with the reader chosen, reporting through the user-interface services as the file
/// commands do. True when the file was taken.
bool OpenChosenFile(CQuilletDoc& doc, ViewState* view, const QString& path, const FileOpening& opening);
