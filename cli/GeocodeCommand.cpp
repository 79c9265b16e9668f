// varnel-cli geocode: a workspace made from a map and its control points, the batch path for
// archives of scanned maps whose points were taken elsewhere.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/ExportCommands.h"
#include "commands/FileCommands.h"
#include "commands/FileOpening.h"
#include "document/CQuilletDoc.h"
#include "formats/WorkspaceSideFile.h"
#include "imaging/CPicture.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <QFileInfo>

#include <cstdio>

namespace {

/// Loads path as New loads a map: a picture or a TIFF map, told by the file's content, then its
/// extension. On failure sets error.
bool LoadNewMap(CQuilletDoc& doc, const QString& path, QString& error, const Progress& progress)
{
    const FileOpening opening = ChooseFileOpening(path, OpenedFrom::Content);
    if (opening.m_Reader == OpenReader::PictureMap) {
        CPicture picture;
        QByteArray bytes;
        picture.LoadFromFile(path, &bytes);
        if (picture.LastError()) {
            error = picture.LastError()->m_strText;
            return false;
        }
        if (!picture.m_pPicture) {
            error = QStringLiteral("%1 could not be loaded: it is not a picture Varnel can read.").arg(DisplayText(path));
            return false;
        }
        doc.InstallPictureMap(path, opening.m_MapKind, std::move(picture), bytes);
        return true;
    }
    if (opening.m_Reader == OpenReader::TiffMap)
        return LoadTiffMap(doc, path, opening.m_MapKind, error, progress);
    error = QStringLiteral("%1: not a picture or TIFF map (a workspace or projection file already holds its map)")
                .arg(DisplayText(path));
    return false;
}

} // namespace

// varnel-cli geocode PICTURE --points FILE -o WORKSPACE [--transform T] [--fit-crs CRS]
// The map is loaded as New loads it, geo-coded with the choice, and the points are imported as
// File > Import Control Points imports them, so the flag and the coefficients are those the
// window would save; the workspace is written as Save writes it, with its side file for a choice
// other than the default.
int RunGeocodeCommand(const QStringList& args)
{
    const CliArguments cli(args, QStringList{QStringLiteral("--points"), QStringLiteral("-o")} + kChoiceOptions);
    if (!cli.Ok())
        return CliUsageFail("geocode", cli.m_strError);
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("--points")) || !cli.Has(QStringLiteral("-o")))
        return CliUsageFail("geocode", CliUsage("geocode"));
    QString error;
    const std::optional<ChoiceOptions> options = ParseChoiceOptions(cli, error);
    if (!options)
        return CliUsageFail("geocode", error);
    const QString out = cli.Value(QStringLiteral("-o"));
    if (const std::optional<QString> refusal = BinaryOutputRefusal(out, QStringLiteral("workspace")))
        return CliUsageFail("geocode", *refusal);
    const QString map = cli.m_Positional.constFirst();
    const QString pointsPath = cli.Value(QStringLiteral("--points"));
    const QStringList written{out, WorkspaceSideFilePath(out)};
    if (const std::optional<QString> refusal = OutputOverwritesInput(written, {map, pointsPath}))
        return CliFail("geocode", *refusal);

    CQuilletDoc doc;
    // The workspace of a TIFF map names it: by a path that leads to it from anywhere.
    if (!LoadNewMap(doc, QFileInfo(map).absoluteFilePath(), error, CliProgress(0.0, 0.6)))
        return CliFail("geocode", error);
    const GeoCodingChoice choice = options->Over(doc.Choice());
    if (!choice.IsDefault()) {
        if (doc.HasGeoTiffFrame())
            return CliFail("geocode", *ApplyChoiceOptions(doc, *options, map));
        // Chosen before the points come: they are then fitted once, as the choice has it.
        doc.EditChoice(QStringLiteral("Transformation"), choice);
    }
    int imported = 0;
    const CommandResult result = ImportControlPoints(doc, pointsPath, &imported);
    if (!result.m_bDone)
        return CliFail("geocode", result.m_Messages.back().m_strText);
    if (const std::optional<QString> refusal =
            doc.LastFit() ? FitRefusal(*doc.LastFit(), choice, doc.ControlPoints(), doc.ImageWidth(), doc.ImageHeight())
                          : std::nullopt)
        return CliFail("geocode", *refusal);
    // A rejected fit says why, as the window would; the work is kept all the same. An accepted
    // one is the answer's "geocoded".
    if (!doc.IsGeoCoded())
        PrintMessages(result.m_Messages, MessageStyle::WithCaption);

    if (!WriteWholeFile(out, EncodeWorkspace(CaptureWorkspace(doc, nullptr)), &error, nullptr, CliProgress(0.6, 1.0)))
        return CliFail("geocode", error);
    if (!WriteWorkspaceSideFile(out, {doc.Choice(), doc.References()}, &error))
        return CliFail("geocode", error);

    JsonWriter json;
    json.BeginObject().Key("written").BeginArray().Value(out);
    if (!doc.Choice().IsDefault())
        json.Value(WorkspaceSideFilePath(out));
    json.EndArray()
        .Key("points").Value(imported)
        .Key("geocoded").Value(doc.IsGeoCoded());
    WriteChoice(json, doc.Choice());
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
