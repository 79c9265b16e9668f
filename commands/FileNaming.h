#pragma once
// Where file dialogs start and what they propose, and what the status bar says after a file was
// written: all taken from the map or workspace the user is working on.

#include <QString>

class CQuilletDoc;

/// The folder of the workspace or, failing that, of the map file; empty when there is neither.
QString StartFolder(const CQuilletDoc& doc);
/// A name for a new file beside the work: the workspace's or the map's name with extension
/// (".pws", ".bmp", ...) in place of its own; just the folder when there is no name to go by.
QString ProposedName(const CQuilletDoc& doc, const QString& extension);
/// "Wrote NAME (SIZE)" for the file at path, its size as the file system gives it.
QString WroteText(const QString& path);
