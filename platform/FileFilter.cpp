#include "platform/FileFilter.h"

std::vector<FileFilterEntry> ParseFileFilter(const QString& filter)
{
    std::vector<FileFilterEntry> entries;
    const QStringList parts = filter.split(QLatin1Char('|'));
    // Pairs of description and patterns; the list ends at the first empty description.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break;
        entries.push_back({parts[i], parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)});
    }
    return entries;
}

QString ReplaceExtensionAtFirstDot(const QString& path, const QString& extension)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = path.indexOf(QLatin1Char('.'), slash + 1);
    return (dot >= 0 ? path.left(dot) : path) + extension;
}
