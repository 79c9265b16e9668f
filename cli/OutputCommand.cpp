// varnel-cli output: a workspace's map written as a projection file, as Output A Geo-Map does.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/FileCommands.h"
#include "commands/OutputCommand.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "platform/FileIO.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

// varnel-cli output WORKSPACE --format gpf|dpf|cpf [--range left,right,top,bottom] [--transform T]
//     [--fit-crs CRS] -o OUT
// Opens the workspace as Open does and writes the projection file Output A Geo-Map writes for
// it: the whole map, or with --range the part the range tool would have selected.
int RunOutputCommand(const QStringList& args)
{
    const CliArguments cli(args, QStringList{QStringLiteral("--format"), QStringLiteral("--range"), QStringLiteral("-o")} +
                                     kChoiceOptions);
    if (!cli.Ok())
        return CliUsageFail("output", cli.m_strError);
    const std::optional<OutputFlavour> flavour = OutputFlavourFromName(cli.Value(QStringLiteral("--format")));
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")) || !flavour)
        return CliUsageFail("output", CliUsage("output"));
    if (const std::optional<QString> refusal = BinaryOutputRefusal(cli.Value(QStringLiteral("-o")), QStringLiteral("projection file")))
        return CliUsageFail("output", *refusal);

    QString error;
    std::optional<OutputRange> range;
    if (cli.Has(QStringLiteral("--range")) && !(range = ParseRangeOption(cli.Value(QStringLiteral("--range")), error)))
        return CliUsageFail("output", error);
    const std::optional<ChoiceOptions> choice = ParseChoiceOptions(cli, error);
    if (!choice)
        return CliUsageFail("output", error);

    CQuilletDoc doc;
    const QString workspace = cli.m_Positional.constFirst();
    CommandResult opened = LoadWorkspaceFile(doc, nullptr, workspace, CliProgress(0.0, 0.5));
    if (!opened.m_bDone)
        return CliFail("output", opened.m_Messages.back().m_strText);
    if (!doc.IsMapLoaded() || (!doc.IsPictureMap() && !doc.IsTiffMap())) {
        PrintMessages(opened.m_Messages, MessageStyle::WithCaption);
        return CliFail("output", QStringLiteral("%1 holds no map").arg(workspace));
    }
    if (const std::optional<QString> refusal = ApplyChoiceOptions(doc, *choice, workspace)) {
        PrintMessages(opened.m_Messages, MessageStyle::WithCaption);
        return CliFail("output", *refusal);
    }

    const QString out = cli.Value(QStringLiteral("-o"));
    // The workspace and the TIFF map it names are inputs: the projection file replaces neither.
    if (const std::optional<QString> refusal = OutputOverwritesInput({out}, {workspace, doc.MapPath()}))
        return CliFail("output", *refusal);
    // A device or a FIFO (-o /dev/stdout) cannot be read back: the file is made in a folder of
    // its own, reported from there, and then written into the target.
    const QTemporaryDir staging;
    const QString made = WritesIntoStream(out) ? staging.filePath(QFileInfo(out).fileName()) : out;
    const CommandResult written = WriteProjectionOutput(doc, range, *flavour, made, CliProgress(0.5, 1.0));
    PrintMessages(opened.m_Messages, MessageStyle::WithCaption);
    if (!written.m_bDone) {
        // The last message says why nothing was written: it is the command's own line, once.
        if (written.m_Messages.empty())
            return CliFail("output", QStringLiteral("nothing was written"));
        PrintMessages(UiMessages(written.m_Messages.begin(), written.m_Messages.end() - 1), MessageStyle::WithCaption);
        return CliFail("output", written.m_Messages.back().m_strText);
    }
    PrintMessages(written.m_Messages, MessageStyle::WithCaption);

    // Report what the file holds, read back as Open would read it.
    QByteArray file;
    if (!ReadWholeFile(made, file, &error) || (made != out && !WriteWholeFile(out, file, &error)))
        return CliFail("output", error);
    UiMessage refusal;
    const std::optional<ProjectionContents> contents = *flavour == OutputFlavour::Cpf
                                                           ? ParseCpfProjection(file, refusal)
                                                           : ParseDpfProjection(file, refusal);
    if (!contents)
        return CliFail("output", refusal.m_strText);
    JsonWriter json;
    json.BeginObject()
        .Key("flavour").Value(OutputName(*flavour))
        .Key("range").Value(range.has_value())
        .Key("width").Value(contents->m_nWidth)
        .Key("height").Value(contents->m_nHeight)
        .Key("coefficients");
    WriteCoefficients(json, contents->m_dGeoCoef);
    json.Key("payload_bytes").Value(static_cast<long long>(contents->m_Payload.size()))
        .Key("file_bytes").Value(static_cast<long long>(file.size()))
        .EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
