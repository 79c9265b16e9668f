#pragma once
// File-dialog filter lists in the "Description|*.a;*.b|Description|*.c||" form the commands use.

#include <QString>
#include <QStringList>
#include <vector>

struct FileFilterEntry {
    QString m_strDescription;   ///< text shown in the dialog's type list
    QStringList m_Patterns;     ///< wildcard patterns, e.g. "*.bmp"
};

/// Splits a filter list into its entries, in order; entry i has filter index i + 1. An entry whose
/// pattern part is empty takes the patterns its description shows in brackets ("(*.bmp)").
std::vector<FileFilterEntry> ParseFileFilter(const QString& filter);

/// The file-name part of path cut at its first '.', if any, with extension appended
/// (extension includes its dot). The folder part is never cut.
QString ReplaceExtensionAtFirstDot(const QString& path, const QString& extension);
