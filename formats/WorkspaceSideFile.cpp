#include "formats/WorkspaceSideFile.h"

#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace {

/// A side file is a few lines; anything much larger is not one.
constexpr qsizetype kMaxSideFileBytes = 64 * 1024;

QString WorkspaceFolder(const QString& workspacePath)
{
    return QFileInfo(workspacePath).absolutePath();
}

/// A reference as written: relative to the workspace's folder when it lies in or below it.
QString StoredReference(const QString& reference, const QString& folder)
{
    const QString absolute = QDir::cleanPath(QDir(folder).absoluteFilePath(reference));
    const QString relative = QDir(folder).relativeFilePath(absolute);
    const bool below = !QDir::isAbsolutePath(relative) && relative != QLatin1String("..") &&
                       !relative.startsWith(QLatin1String("../"));
    return below ? relative : absolute;
}

} // namespace

QString WorkspaceSideFilePath(const QString& workspacePath)
{
    return workspacePath + QStringLiteral(".geocoding");
}

QByteArray WorkspaceSideFileText(const WorkspaceSideFile& side, const QString& workspacePath)
{
    // WKT may be spread over lines; one line keeps the file's one-key-per-line form.
    const QString crs = side.m_Choice.m_FitCrs.Text().simplified();
    QString text = QStringLiteral("# Varnel geo-coding of %1\ntransform=%2\nfit_crs=%3\n")
                       .arg(QFileInfo(workspacePath).fileName().simplified(),
                            TransformKindName(side.m_Choice.m_eTransform), crs);
    const QString folder = WorkspaceFolder(workspacePath);
    for (const QString& reference : side.m_References)
        text += QStringLiteral("reference=%1\n").arg(StoredReference(reference, folder));
    return text.toUtf8();
}

Parsed<WorkspaceSideFile> ParseWorkspaceSideFile(const QByteArray& text, const QString& workspacePath)
{
    WorkspaceSideFile side;
    GeoCodingChoice& choice = side.m_Choice;
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
                return Parsed<WorkspaceSideFile>::Refused(
                    QStringLiteral("line %1 names no transformation Varnel knows: \"%2\"").arg(i + 1).arg(DisplayText(value, 80)));
            choice.m_eTransform = *kind;
        } else if (key == QLatin1String("fit_crs")) {
            QString refusal;
            const std::optional<FitCrs> crs = FitCrs::Parse(value, &refusal);
            if (!crs)
                return Parsed<WorkspaceSideFile>::Refused(QStringLiteral("line %1: %2").arg(i + 1).arg(refusal));
            choice.m_FitCrs = *crs;
        } else if (key == QLatin1String("reference") && !value.isEmpty()) {
            // A reference that has gone since is still the work's: the pane says it is missing.
            side.m_References.append(QDir::cleanPath(QDir(WorkspaceFolder(workspacePath)).absoluteFilePath(value)));
        } else {
            return Parsed<WorkspaceSideFile>::Refused(
                QStringLiteral("line %1 is not a setting Varnel knows: \"%2\"").arg(i + 1).arg(DisplayText(line, 80)));
        }
    }
    return side;
}

Parsed<WorkspaceSideFile> ReadWorkspaceSideFile(const QString& workspacePath)
{
    const QString path = WorkspaceSideFilePath(workspacePath);
    if (!QFileInfo::exists(path))
        return WorkspaceSideFile{};
    QByteArray bytes;
    QString error;
    if (!ReadFileHead(path, kMaxSideFileBytes + 1, bytes, &error))
        return Parsed<WorkspaceSideFile>::Refused(error);
    if (bytes.size() > kMaxSideFileBytes)
        return Parsed<WorkspaceSideFile>::Refused(QStringLiteral("it is too large to be a geo-coding side file"));
    return ParseWorkspaceSideFile(bytes, workspacePath);
}

bool WriteWorkspaceSideFile(const QString& workspacePath, const WorkspaceSideFile& side, QString* errorText)
{
    const QString path = WorkspaceSideFilePath(workspacePath);
    if (!side.IsDefault()) {
        // Written, a line break would end the path early and make the side file refuse the work.
        for (const QString& reference : side.m_References)
            if (reference.contains(QLatin1Char('\n')) || reference.contains(QLatin1Char('\r'))) {
                if (errorText)
                    *errorText = QStringLiteral("The reference map %1 can not be kept with the work space: its name "
                                                "holds a line break.")
                                     .arg(DisplayText(reference));
                return false;
            }
        return WriteWholeFile(path, WorkspaceSideFileText(side, workspacePath), errorText);
    }
    // A side file left from earlier work would bring that work back on opening.
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return true;
    if (errorText)
        *errorText = WithSystemReason(
            QStringLiteral("The old geo-coding side file %1 can not be removed.").arg(DisplayText(path)), errno);
    return false;
}
