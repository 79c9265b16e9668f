// varnel-cli locate: the latitude and longitude of a picture pixel, as the status bar reads it out.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/FileCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "formats/TiffImport.h"
#include "platform/FileIO.h"

#include <cstdio>

namespace {

constexpr const char* kUsage = "usage: varnel-cli locate FILE --pixel COLUMN,ROW";

/// Loads FILE as the map the desktop would show: a workspace, a projection file or a TIFF map.
/// On failure sets error.
bool LoadMap(CQuilletDoc& doc, const QString& path, QString& error)
{
    const std::optional<FileKind> kind = FileKindOfFile(path);
    if (kind == FileKind::Workspace) {
        const CommandResult opened = LoadWorkspaceFile(doc, nullptr, path);
        PrintMessages(opened.m_bDone ? opened.m_Messages : UiMessages{}, MessageStyle::WithCaption);
        if (!opened.m_bDone)
            error = opened.m_Messages.back().m_strText;
        return opened.m_bDone;
    }
    if (const std::optional<ProjectionKind> projection = kind ? ProjectionKindOf(*kind) : std::nullopt) {
        QByteArray bytes;
        if (!ReadWholeFile(path, bytes, &error))
            return false;
        UiMessage refusal;
        const std::optional<ProjectionContents> contents = *projection == ProjectionKind::Cpf
                                                               ? ParseCpfProjection(bytes, refusal)
                                                               : ParseDpfProjection(bytes, refusal);
        if (!contents) {
            error = refusal.m_strText;
            return false;
        }
        doc.InstallProjection(path, *contents, *projection);
        return true;
    }
    if (kind == FileKind::Tif || kind == FileKind::Tiff) {
        TiffImport import = ImportTiffImages(path);
        PrintMessages(import.m_Messages, MessageStyle::WithCaption);
        if (import.m_Images.empty()) {
            error = QStringLiteral("%1 holds no image Varnel can read").arg(path);
            return false;
        }
        std::vector<DIBSection> images;
        for (ImportedTiffImage& imported : import.m_Images)
            images.push_back(std::move(imported.m_Image));
        doc.InstallTiffMap(path, FileKindOf(FileKind::Tif).m_nMapType, std::move(images));
        return true;
    }
    error = QStringLiteral("%1: not a workspace, projection file or TIFF map").arg(path);
    return false;
}

} // namespace

// varnel-cli locate FILE --pixel COLUMN,ROW
// The pixel is continuous from the picture's top-left corner, as the fit uses it.
int RunLocateCommand(const QStringList& args)
{
    const CliArguments cli(args, {QStringLiteral("--pixel")});
    if (!cli.Ok())
        return CliFail("locate", cli.m_strError);
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("--pixel")))
        return CliFail("locate", QString::fromLatin1(kUsage));
    const QStringList parts = cli.Value(QStringLiteral("--pixel")).split(QLatin1Char(','));
    const std::optional<double> column = parts.size() == 2 ? ParseFinite(parts[0]) : std::nullopt;
    const std::optional<double> row = parts.size() == 2 ? ParseFinite(parts[1]) : std::nullopt;
    if (!column || !row)
        return CliFail("locate", QStringLiteral("--pixel needs two numbers COLUMN,ROW"));

    CQuilletDoc doc;
    const QString path = cli.m_Positional.constFirst();
    QString error;
    if (!LoadMap(doc, path, error))
        return CliFail("locate", error);
    if (!doc.IsGeoCoded())
        return CliFail("locate", QStringLiteral("%1 is not geo-coded").arg(path));
    const std::optional<GeoPosition> position = doc.PositionOfPixel(*column, *row);
    if (!position)
        return CliFail("locate", QStringLiteral("pixel %1,%2 has no geographic position").arg(*column).arg(*row));
    JsonWriter json;
    json.BeginObject()
        .Key("latitude").Value(position->m_dLatitude)
        .Key("longitude").Value(position->m_dLongitude)
        .EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
