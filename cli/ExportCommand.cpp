// varnel-cli export and import-points: a geo-coding in the forms GIS tools read, and control
// points read from them.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/ExportCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/ControlPointFile.h"
#include "platform/FileIO.h"

#include <cstdio>

// varnel-cli export FILE --format geotiff|world|points|csv -o OUT [--range left,right,top,bottom]
int RunExportCommand(const QStringList& args)
{
    const CliArguments cli(args, {QStringLiteral("--format"), QStringLiteral("--range"), QStringLiteral("-o")});
    if (!cli.Ok())
        return CliFail("export", cli.m_strError);
    const std::optional<ExportKind> kind = ExportKindFromName(cli.Value(QStringLiteral("--format")));
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")) || !kind)
        return CliFail("export", CliUsage("export"));
    QString error;
    std::optional<OutputRange> range;
    if (cli.Has(QStringLiteral("--range")) && !(range = ParseRangeOption(cli.Value(QStringLiteral("--range")), error)))
        return CliFail("export", error);

    CQuilletDoc doc;
    if (!LoadMapFile(doc, cli.m_Positional.constFirst(), error, CliProgress(0.0, 0.5)))
        return CliFail("export", error);
    ExportReport report;
    const CommandResult result = ExportGeoreferenced(doc, range, *kind, cli.Value(QStringLiteral("-o")), &report,
                                                     CliProgress(0.5, 1.0));
    if (!result.m_bDone)
        return CliFail("export", result.m_Messages.back().m_strText);

    JsonWriter json;
    json.BeginObject().Key("written").BeginArray();
    for (const QString& written : report.m_Written)
        json.Value(written);
    json.EndArray().Key("crs").Value(report.m_Crs.Name()).Key("geotransform").BeginArray();
    for (const double value : report.m_GeoTransform)
        json.Value(value);
    json.EndArray().EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}

// varnel-cli import-points FILE --width W --height H
// The points of a QGIS .points file or a CSV as varnel-cli fit reads them: degrees and frame
// units of a picture of W x H pixels.
int RunImportPointsCommand(const QStringList& args)
{
    const CliArguments cli(args, {QStringLiteral("--width"), QStringLiteral("--height")});
    if (!cli.Ok())
        return CliFail("import-points", cli.m_strError);
    const std::optional<double> width = ParseFinite(cli.Value(QStringLiteral("--width")));
    const std::optional<double> height = ParseFinite(cli.Value(QStringLiteral("--height")));
    if (cli.m_Positional.size() != 1 || !width || !height || *width < 1 || *height < 1 || *width > 1e9 ||
        *height > 1e9)
        return CliFail("import-points", CliUsage("import-points"));
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(cli.m_Positional.constFirst(), bytes, &error))
        return CliFail("import-points", error);
    const std::optional<std::vector<CDataGeo>> points =
        ParseControlPoints(bytes, static_cast<int>(*width), static_cast<int>(*height), &error);
    if (!points)
        return CliFail("import-points", error);
    JsonWriter json;
    json.BeginObject().Key("points");
    WritePoints(json, *points, 3600.0);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
