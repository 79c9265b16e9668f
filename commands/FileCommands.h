#pragma once
// The file commands of the document: New (a map), Open (a workspace or projection file), Save
// and Save As (a workspace), and opening a file named on the command line or picked from the
// recent files. They ask through the user-interface services and change the document only
// through its operations; the view (null when there is none) gives and takes what a workspace
// keeps of it.

#include "commands/CommandResult.h"
#include "formats/FileKinds.h"
#include "formats/WorkspaceFile.h"
#include "formats/WorkspaceSideFile.h"
#include "geo/GeoTiffInfo.h"
#include "imaging/CPicture.h"
#include "imaging/DIBSection.h"
#include "platform/Progress.h"

#include <QString>

#include <optional>
#include <vector>

class CQuilletDoc;
class ViewState;

/// The start-up new-document call: only marks the document initialised.
void InitialNewDocument(CQuilletDoc& doc);
/// File New: with a map loaded asks whether to replace it, then asks for a map file and loads
/// it by the entry chosen in the dialog; under "All Files" the file's content decides, and a
/// workspace or projection file is opened as Open would. False when the user declined or
/// cancelled, or the file gave no map (reported; the document stays as it was).
bool OnFileNew(CQuilletDoc& doc, ViewState* view);
/// Loads path as a map of kind mapType (a picture, a TIFF, or a kind that is refused). A file
/// that yields no map is reported and leaves the document exactly as it was; false then.
bool OpenMapFile(CQuilletDoc& doc, const QString& path, MapKind mapType);
/// Before work is given up: when the document is modified asks "Save changes to NAME?" (NAME
/// the file name of the document's title, or "Untitled"). Yes saves as Save does and goes on only when the
/// work was saved; No goes on; Cancel stops. True when the caller may go on.
bool SaveModified(CQuilletDoc& doc, const ViewState* view);
/// Loads a file named on the command line, picked from the recent files or dropped on the
/// window: workspaces and projection files as Open reads them, picture and TIFF files as a new
/// map, anything else is refused (see ChooseFileOpening). True when the file was taken.
bool OpenDocumentFile(CQuilletDoc& doc, ViewState* view, const QString& path);

/// File Open: asks for a file and reads it by the entry chosen in the dialog, not by its
/// extension: workspace, CPF or DPF; under "All Files" by its content, then its extension (a map
/// picture is loaded as New loads it). A refused file changes nothing.
void OnFileOpen(CQuilletDoc& doc, ViewState* view);
/// Reads and checks the workspace file whole, then installs it; a refused file (a TIFF map's
/// workspace whose TIFF cannot be read among them) is reported (caption "Invalid File") and
/// changes nothing. True when the file was taken.
bool OpenWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path);
/// Reads and checks a CPF or a GPF/DPF whole, then makes its picture and model the map. A file
/// that cannot be read or is refused is reported and changes nothing.
bool OpenProjectionFile(CQuilletDoc& doc, const QString& path, ProjectionKind kind);
/// Reads the workspace file at path and installs it, without showing anything. Done when the file
/// was taken; its messages are what the TIFF import of a TIFF map had to say. Refused with the
/// reason as the last message ("Invalid File"), changing nothing; cancelled through progress,
/// changing nothing.
CommandResult LoadWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path, const Progress& progress = {});

/// A workspace file read and checked, with a TIFF map's images decoded again: all of opening it
/// that leaves the document alone, so it may run while the window goes on painting.
struct ReadWorkspace {
    CommandResult m_Result; ///< refused or cancelled, or done with the TIFF import's messages
    std::optional<WorkspaceContents> m_Contents;
    std::vector<DIBSection> m_Images;
    CPicture m_Picture; ///< a picture map's picture, decoded and checked
    std::optional<GeoTiffInfo> m_Georeference = std::nullopt; ///< a TIFF map's, as its image 0 carries it
    WorkspaceSideFile m_SideFile = {}; ///< the choice and reference maps kept beside the workspace
};
ReadWorkspace ReadWorkspaceFile(const QString& path, const Progress& progress = {});
/// Makes a workspace read by ReadWorkspaceFile the document's map (and, for a TIFF map, the
/// view's window). Returns its result.
CommandResult InstallWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path, ReadWorkspace&& read);

/// File Save: with a map loaded writes the workspace to the name chosen earlier, asking for one
/// first when none has been chosen or the name is that of an opened projection file.
void OnFileSave(CQuilletDoc& doc, const ViewState* view);
/// File Save As: with a map loaded always asks for a name and writes the workspace there; Cancel
/// writes nothing.
void OnFileSaveAs(CQuilletDoc& doc, const ViewState* view);
/// The Save Work Space dialog (see ChooseFileToWrite): names the workspace with the file name cut
/// at its first "." and ".pws" appended, once that file may be written; false on Cancel.
bool ChooseWorkspaceName(CQuilletDoc& doc);
/// Writes the workspace at the document's workspace path through a temporary file renamed over
/// the target only when complete. Reports a failed write ("Can not open this file."), and reminds
/// that a map not geo-coded yet cannot be output ("Saved. The map is not geo-coded yet: ...")
/// after writing it.
void WriteWorkspace(CQuilletDoc& doc, const ViewState* view);
/// What the document and, for a TIFF map, the view would write (without a view: the whole
/// frame, shown from the map frame).
WorkspaceContents CaptureWorkspace(const CQuilletDoc& doc, const ViewState* view);
