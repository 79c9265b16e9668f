// varnel-cli locate: the latitude and longitude of a picture pixel, as the status bar reads it out.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "document/CQuilletDoc.h"
#include "platform/DisplayText.h"

#include <cstdio>

// varnel-cli locate FILE --pixel COLUMN,ROW [--transform T] [--fit-crs CRS]
// The pixel is continuous from the picture's top-left corner, as the fit uses it.
int RunLocateCommand(const QStringList& args)
{
    const CliArguments cli(args, QStringList{QStringLiteral("--pixel")} + kChoiceOptions);
    if (!cli.Ok())
        return CliUsageFail("locate", cli.m_strError);
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("--pixel")))
        return CliUsageFail("locate", CliUsage("locate"));
    const QStringList parts = cli.Value(QStringLiteral("--pixel")).split(QLatin1Char(','));
    const std::optional<double> column = parts.size() == 2 ? ParseFinite(parts[0]) : std::nullopt;
    const std::optional<double> row = parts.size() == 2 ? ParseFinite(parts[1]) : std::nullopt;
    if (!column || !row)
        return CliUsageFail("locate", QStringLiteral("--pixel needs two numbers COLUMN,ROW"));
    QString error;
    const std::optional<ChoiceOptions> choice = ParseChoiceOptions(cli, error);
    if (!choice)
        return CliUsageFail("locate", error);

    CQuilletDoc doc;
    const QString path = cli.m_Positional.constFirst();
    if (const std::optional<QString> refusal = LoadMapAsChosen(doc, path, *choice, CliProgress()))
        return CliFail("locate", *refusal);
    if (!doc.IsGeoCoded())
        return CliFail("locate", QStringLiteral("%1 is not geo-coded").arg(DisplayText(path)));
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
