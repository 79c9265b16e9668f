#include "platform/FileFilter.h"

std::vector<FileFilterEntry> ParseFileFilter(const QString& filter)
{
    std::vector<FileFilterEntry> entries;
    const QStringList parts = filter.split(QLatin1Char('|'));
    // Pairs of description and patterns; the list ends at the first empty description.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break;
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "BMP - Bitmap picture (*.bmp)|" names its patterns only in its description's brackets.
        const qsizetype open = parts[i].lastIndexOf(QLatin1Char('('));
        if (patterns.isEmpty() && open >= 0 && parts[i].endsWith(QLatin1Char(')')))
            patterns = parts[i].mid(open + 1, parts[i].size() - open - 2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        entries.push_back({parts[i], patterns});
    }
    return entries;
}

QString ReplaceExtensionAtFirstDot(const QString& path, const QString& extension)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = path.indexOf(QLatin1Char('.'), slash + 1);
    return (dot >= 0 ? path.left(dot) : path) + extension;
}
