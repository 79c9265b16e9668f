#include "formats/GeoCodingChoiceFile.h"

#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace {

/// A side file is a few lines; anything much larger is not one.
constexpr qsizetype kMaxSideFileBytes = 64 * 1024;

} // namespace

QString GeoCodingChoicePath(const QString& workspacePath)
{
    return workspacePath + QStringLiteral(".geocoding");
}

QByteArray GeoCodingChoiceText(const GeoCodingChoice& choice, const QString& workspaceName)
{
    // WKT may be spread over lines; one line keeps the file's one-key-per-line form.
    const QString crs = choice.m_FitCrs.Text().simplified();
    return QStringLiteral("# Varnel geo-coding of %1\ntransform=%2\nfit_crs=%3\n")
        .arg(workspaceName.simplified(), TransformKindName(choice.m_eTransform), crs)
        .toUtf8();
}

Parsed<GeoCodingChoice> ParseGeoCodingChoice(const QByteArray& text)
{
    GeoCodingChoice choice;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : line.mid(equals + 1).trimmed();
        if (key == QLatin1String("transform")) {
            const std::optional<TransformKind> kind = ParseTransformKind(value);
            if (!kind)
                return Parsed<GeoCodingChoice>::Refused(
                    QStringLiteral("line %1 names no transformation Varnel knows: \"%2\"").arg(i + 1).arg(DisplayText(value, 80)));
            choice.m_eTransform = *kind;
        } else if (key == QLatin1String("fit_crs")) {
            QString refusal;
            const std::optional<FitCrs> crs = FitCrs::Parse(value, &refusal);
            if (!crs)
                return Parsed<GeoCodingChoice>::Refused(QStringLiteral("line %1: %2").arg(i + 1).arg(refusal));
            choice.m_FitCrs = *crs;
        } else {
            return Parsed<GeoCodingChoice>::Refused(
                QStringLiteral("line %1 is not a setting Varnel knows: \"%2\"").arg(i + 1).arg(DisplayText(line, 80)));
        }
    }
    return choice;
}

Parsed<GeoCodingChoice> ReadGeoCodingChoice(const QString& workspacePath)
{
    const QString path = GeoCodingChoicePath(workspacePath);
    if (!QFileInfo::exists(path))
        return GeoCodingChoice{};
    QByteArray bytes;
    QString error;
    if (!ReadFileHead(path, kMaxSideFileBytes + 1, bytes, &error))
        return Parsed<GeoCodingChoice>::Refused(error);
    if (bytes.size() > kMaxSideFileBytes)
        return Parsed<GeoCodingChoice>::Refused(QStringLiteral("it is too large to be a geo-coding side file"));
    return ParseGeoCodingChoice(bytes);
}

bool WriteGeoCodingChoice(const QString& workspacePath, const GeoCodingChoice& choice, QString* errorText)
{
    const QString path = GeoCodingChoicePath(workspacePath);
    if (!choice.IsDefault())
        return WriteWholeFile(path, GeoCodingChoiceText(choice, QFileInfo(workspacePath).fileName()), errorText);
    // A side file left from an earlier choice would bring that choice back on opening.
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return true;
    if (errorText)
        *errorText = WithSystemReason(
            QStringLiteral("The old geo-coding side file %1 can not be removed.").arg(DisplayText(path)), errno);
    return false;
}
