// varnel-cli output: a workspace's map written as a projection file, as Output A Geo-Map does.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "document/CQuilletDoc.h"
#include "document/WorkspaceFile.h"
#include "output/OutputCommand.h"
#include "output/ProjectionFile.h"
#include "platform/FileIO.h"
#include "platform/ScriptedUiServices.h"
#include "HeadlessHost.h"
#include "view/core/ViewState.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kUsage =
    "usage: varnel-cli output WORKSPACE --format gpf|dpf|cpf [--range left,right,top,bottom] -o OUT";


/// The message boxes the command would have shown, one per line on standard error.
void PrintMessages(const ScriptedUiServices& ui)
{
    for (const auto& message : ui.m_Messages)
        std::fprintf(stderr, "%s: %s\n", qPrintable(message.m_strCaption), qPrintable(message.m_strText.trimmed()));
}

/// The range as the view holds it: four fractions of the picture (left and right of its width,
/// top and bottom of its height from the top edge), put in order. On failure sets error.
bool ParseRange(const QString& text, ViewState& view, QString& error)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        error = QStringLiteral("--range needs four comma-separated fractions left,right,top,bottom");
        return false;
    }
    double values[4] = {};
    for (int k = 0; k < 4; ++k) {
        const std::optional<double> number = ParseFinite(parts.at(k));
        if (!number || *number < 0.0 || *number > 1.0) {
            error = QStringLiteral("--range value '%1' is not a fraction from 0 to 1").arg(parts.at(k));
            return false;
        }
        values[k] = *number;
    }
    view.m_bSelectRange = 1;
    // A range counts as dragged once both corners are known; the corners' client positions
    // play no part in the output.
    view.m_ptRangeStart = QPoint(0, 0);
    view.m_ptRangeEnd = QPoint(0, 0);
    view.m_dRangeLeft = std::min(values[0], values[1]);
    view.m_dRangeRight = std::max(values[0], values[1]);
    view.m_dRangeTop = std::min(values[2], values[3]);
    view.m_dRangeBottom = std::max(values[2], values[3]);
    return true;
}

} // namespace

// varnel-cli output WORKSPACE --format gpf|dpf|cpf [--range left,right,top,bottom] -o OUT
// Opens the workspace as Open does and writes the projection file Output A Geo-Map writes for
// it: the whole map, or with --range the part the range tool would have selected.
int RunOutputCommand(const QStringList& args)
{
    const CliArguments cli(args, {QStringLiteral("--format"), QStringLiteral("--range"), QStringLiteral("-o")});
    if (!cli.Ok())
        return CliFail("output", cli.m_strError);
    const QString format = cli.Value(QStringLiteral("--format")).toLower();
    const int outputFormat = format == QStringLiteral("gpf")   ? 1
                             : format == QStringLiteral("dpf") ? 2
                             : format == QStringLiteral("cpf") ? 3
                                                               : 0;
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")) || outputFormat == 0)
        return CliFail("output", QString::fromLatin1(kUsage));

    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    CQuilletDoc doc;
    ViewState view;
    doc.m_pActiveView = &view;
    QString error;
    if (cli.Has(QStringLiteral("--range")) && !ParseRange(cli.Value(QStringLiteral("--range")), view, error))
        return CliFail("output", error);

    const QString workspace = cli.m_Positional.constFirst();
    if (!ReadWorkspaceFile(doc, &view, workspace, &error)) {
        PrintMessages(ui);
        return CliFail("output", error);
    }
    HeadlessHost host;
    view.OnUpdate(doc, host, 0);
    if (!doc.m_bMapLoaded || (!doc.IsPictureMap() && !doc.IsTiffMap())) {
        PrintMessages(ui);
        return CliFail("output", QStringLiteral("%1 holds no map").arg(workspace));
    }

    doc.m_nOutputFormat = outputFormat;
    const QString out = cli.Value(QStringLiteral("-o"));
    const std::size_t shownBefore = ui.m_Messages.size();
    const bool written = OutputProjectionFile(doc, out);
    PrintMessages(ui);
    if (!written)
        return CliFail("output", ui.m_Messages.size() > shownBefore ? ui.m_Messages.back().m_strText
                                                                    : QStringLiteral("nothing was written"));

    // Report what the file holds, read back as Open would read it.
    QByteArray file;
    if (!ReadWholeFile(out, file, &error))
        return CliFail("output", error);
    ProjectionError refusal;
    const std::optional<ProjectionContents> contents =
        outputFormat == 3 ? ParseCpfProjection(file, refusal) : ParseDpfProjection(file, refusal);
    if (!contents)
        return CliFail("output", refusal.m_strText);
    JsonWriter json;
    json.BeginObject()
        .Key("flavour").Value(outputFormat == 1 ? "GPF" : outputFormat == 2 ? "DPF" : "CPF")
        .Key("range").Value(view.m_bSelectRange != 0)
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
