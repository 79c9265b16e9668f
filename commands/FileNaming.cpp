#include "commands/FileNaming.h"

#include "document/CQuilletDoc.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace {

/// The file the user's work is named after: the workspace, else the map.
QString WorkFile(const CQuilletDoc& doc)
{
    return doc.WorkspacePath().isEmpty() ? doc.MapPath() : doc.WorkspacePath();
}

} // namespace

QString StartFolder(const CQuilletDoc& doc)
{
    const QString work = WorkFile(doc);
    return work.isEmpty() ? QString() : QFileInfo(work).absolutePath();
}

QString ProposedName(const CQuilletDoc& doc, const QString& extension)
{
    const QString work = WorkFile(doc);
    if (work.isEmpty())
        return {};
    const QFileInfo info(work);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + extension;
}

QString WroteText(const QString& path)
{
    const QFileInfo info(path);
    return QStringLiteral("Wrote %1 (%2)")
        .arg(DisplayText(info.fileName()), QLocale::c().formattedDataSize(info.size(), 1, QLocale::DataSizeSIFormat));
}

FileDialogResult ChooseFileToWrite(const CQuilletDoc& doc, const QString& title, const QString& filter,
                                   const QString& proposal, const FinalName& finalName, bool namesWorkspace)
{
    // The files the work was read from; Save As may replace the workspace, nothing the map.
    QStringList inputs{doc.MapPath()};
    if (!namesWorkspace || doc.WorkspacePathIsProjectionFile())
        inputs << doc.WorkspacePath();
    QString start = proposal;
    for (;;) {
        FileDialogResult chosen = Ui().SaveFileDialog(title, filter, start);
        if (!chosen.Accepted())
            return {};
        chosen.m_strPath = finalName(chosen);
        if (chosen.m_strPath.isEmpty())
            return {};
        start = chosen.m_strPath;
        // Asked about the name that will be written, not the one typed: "map1c.v2" is written as
        // "map1c.pws", and that is the file that may be there already.
        const QString name = DisplayText(QFileInfo(chosen.m_strPath).fileName());
        const auto isInput = [&](const QString& input) {
            return !input.isEmpty() && IsSameFile(input, chosen.m_strPath);
        };
        if (std::any_of(inputs.begin(), inputs.end(), isInput)) {
            Ui().MessageBox(QStringLiteral("%1 is the file this map was read from, and a file made from it never "
                                           "replaces it. Choose another name.")
                                .arg(name),
                            title, MB_OK | MB_ICONEXCLAMATION);
            continue;
        }
        // A folder is not replaced: writing to it fails with its own message.
        const QFileInfo existing(chosen.m_strPath);
        if (!existing.exists() || existing.isDir() ||
            Ui().MessageBox(QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(name), title,
                            MB_YESNO | MB_ICONEXCLAMATION) == IDYES)
            return chosen;
    }
}
