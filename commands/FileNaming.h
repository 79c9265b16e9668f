#pragma once
// Where file dialogs start and what they propose, the save dialog that settles the name a command
// writes, and what the status bar says after a file was written: all taken from the map or
// workspace the user is working on.

#include "platform/UiServices.h"

#include <QString>

#include <functional>

class CQuilletDoc;

/// The folder of the workspace or, failing that, of the map file; empty when there is neither.
QString StartFolder(const CQuilletDoc& doc);
/// A name for a new file beside the work: the workspace's or the map's name with extension
/// (".pws", ".bmp", ...) in place of its own; just the folder when there is no name to go by.
QString ProposedName(const CQuilletDoc& doc, const QString& extension);
/// "Wrote NAME (SIZE)" for the file at path, its size as the file system gives it.
QString WroteText(const QString& path);

/// The name a save dialog's answer is written under (the file name cut at its first "." and the
/// command's extension appended), or empty for an answer the command cannot use.
using FinalName = std::function<QString(const FileDialogResult& answer)>;
/// Runs a save dialog until the user cancels or gives a name that may be written, and returns
/// that final name with the filter entry chosen (empty on Cancel). A final name that is the same
/// file as one the work was read from (the map, an opened projection file and, unless the
/// dialog names the workspace itself, the workspace) is refused with a message; one that exists
/// is written only once the user answers Yes to "NAME already exists. Do you want to replace
/// it?". Either way No or a refusal shows the dialog again.
FileDialogResult ChooseFileToWrite(const CQuilletDoc& doc, const QString& title, const QString& filter,
                                   const QString& proposal, const FinalName& finalName, bool namesWorkspace = false);
