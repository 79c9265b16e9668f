// varnel-cli recovery: what a recovery file left by an interrupted run holds.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "formats/RecoveryFile.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <cstdio>

namespace {

const char* SourceName(RecoveryContents::Source source)
{
    switch (source) {
    case RecoveryContents::Source::Workspace:
        return "workspace";
    case RecoveryContents::Source::ProjectionFile:
        return "projection";
    case RecoveryContents::Source::MapFile:
        break;
    }
    return "map";
}

} // namespace

// varnel-cli recovery FILE
// Reported with the names info gives a workspace's points, geo-coding and map path.
int RunRecoveryCommand(const QStringList& args)
{
    int status = 0;
    const std::optional<QString> file = SingleFileArgument("recovery", args, status);
    if (!file)
        return status;
    const QString path = *file;
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(path, bytes, &error))
        return CliFail("recovery", error);
    const std::optional<RecoveryContents> contents = ParseRecovery(bytes);
    if (!contents)
        return CliFail("recovery", QStringLiteral("%1: not a recovery file, or a damaged one").arg(DisplayText(path)));

    JsonWriter json;
    json.BeginObject()
        .Key("kind").Value("recovery")
        .Key("geocoded").Value(contents->m_nGeoCoded)
        .Key("map_type").Value(contents->m_nMapType)
        .Key("coefficients");
    WriteCoefficients(json, contents->m_dGeoCoef);
    json.Key("path").Value(contents->m_strPath)
        .Key("source").Value(SourceName(contents->m_Source))
        .Key("saved_at").Value(contents->m_SavedAt.toString(Qt::ISODateWithMs))
        .Key("window").BeginObject()
        .Key("left").Value(contents->m_dWinLeft)
        .Key("right").Value(contents->m_dWinRight)
        .Key("bottom").Value(contents->m_dWinBottom)
        .Key("top").Value(contents->m_dWinTop)
        .EndObject()
        .Key("input_option").Value(contents->m_nInputOption)
        .Key("unit_factor").Value(contents->m_dUnitFactor)
        .Key("points");
    WritePoints(json, contents->m_ControlPoints);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
