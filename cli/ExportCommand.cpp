// varnel-cli export and import-points: a geo-coding in the forms GIS tools read, and control
// points read from them.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/ExportCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/ControlPointFile.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <cstdio>

// varnel-cli export FILE --format geotiff|world|points|csv -o OUT [--range left,right,top,bottom]
//     [--transform T] [--fit-crs CRS]
// With -o - a text output (world file, points, CSV) goes to standard output instead of the JSON
// report, so that it can be piped on; a world file's .prj is then not written.
int RunExportCommand(const QStringList& args)
{
    const CliArguments cli(args, QStringList{QStringLiteral("--format"), QStringLiteral("--range"), QStringLiteral("-o")} +
                                     kChoiceOptions);
    if (!cli.Ok())
        return CliUsageFail("export", cli.m_strError);
    const std::optional<ExportKind> kind = ExportKindFromName(cli.Value(QStringLiteral("--format")));
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")) || !kind)
        return CliUsageFail("export", CliUsage("export"));
    const QString out = cli.Value(QStringLiteral("-o"));
    if (*kind == ExportKind::GeoTiff)
        if (const std::optional<QString> refusal = BinaryOutputRefusal(out, QStringLiteral("GeoTIFF")))
            return CliUsageFail("export", *refusal);
    QString error;
    std::optional<OutputRange> range;
    if (cli.Has(QStringLiteral("--range"))) {
        // A world file describes the whole picture it stands beside; no range can apply to it.
        if (*kind == ExportKind::WorldFile)
            return CliUsageFail("export", QStringLiteral("a world file describes the whole picture it stands beside; "
                                                         "--range applies to the other formats only"));
        if (!(range = ParseRangeOption(cli.Value(QStringLiteral("--range")), error)))
            return CliUsageFail("export", error);
    }

    const std::optional<ChoiceOptions> choice = ParseChoiceOptions(cli, error);
    if (!choice)
        return CliUsageFail("export", error);

    CQuilletDoc doc;
    const QString input = cli.m_Positional.constFirst();
    if (const std::optional<QString> refusal = LoadMapAsChosen(doc, input, *choice, CliProgress(0.0, 0.5)))
        return CliFail("export", *refusal);
    ExportReport report;
    std::vector<ExportedFile> files;
    CommandResult result = MakeExport(doc, range, *kind, out, files, &report, CliProgress(0.5, 0.55));
    if (!result.m_bDone)
        return CliFail("export", result.m_Messages.back().m_strText);

    if (IsStandardOutput(out)) {
        const QByteArray& text = files.front().m_Bytes;
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        if (files.size() > 1)
            std::fprintf(stderr, "varnel-cli export: the .prj has no place beside standard output and was not written; "
                                 "the coordinate system is %s\n",
                         qPrintable(DisplayText(report.m_Crs.Name())));
        return std::fflush(stdout) == 0 ? 0 : CliFail("export", QStringLiteral("standard output could not be written"));
    }
    // The map and the workspace that names it are inputs too: no derived file replaces them.
    QStringList written;
    for (const ExportedFile& file : files)
        written << file.m_strPath;
    if (const std::optional<QString> refusal = OutputOverwritesInput(written, {input, doc.MapPath()}))
        return CliFail("export", *refusal);
    result = WriteExport(files, CliProgress(0.55, 1.0));
    if (!result.m_bDone)
        return CliFail("export", result.m_Messages.back().m_strText);

    JsonWriter json;
    json.BeginObject().Key("written").BeginArray();
    for (const QString& file : report.m_Written)
        json.Value(file);
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
        return CliUsageFail("import-points", cli.m_strError);
    const std::optional<double> width = ParseFinite(cli.Value(QStringLiteral("--width")));
    const std::optional<double> height = ParseFinite(cli.Value(QStringLiteral("--height")));
    if (cli.m_Positional.size() != 1 || !width || !height || *width < 1 || *height < 1 || *width > 1e9 ||
        *height > 1e9)
        return CliUsageFail("import-points", CliUsage("import-points"));
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(cli.m_Positional.constFirst(), bytes, &error))
        return CliFail("import-points", error);
    const Parsed<std::vector<CDataGeo>> points =
        ParseControlPoints(bytes, static_cast<int>(*width), static_cast<int>(*height));
    if (!points)
        return CliFail("import-points", points.Why());
    JsonWriter json;
    json.BeginObject().Key("points");
    WritePoints(json, *points, CDataGeo::kArcSecondsPerDegree);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
