#include "commands/FileNaming.h"

#include "document/CQuilletDoc.h"

#include <QFileInfo>
#include <QLocale>

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
        .arg(info.fileName(), QLocale::c().formattedDataSize(info.size(), 1, QLocale::DataSizeSIFormat));
}
