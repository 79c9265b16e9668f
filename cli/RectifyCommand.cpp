// varnel-cli rectify: a geo-coded map resampled into a north-up GeoTIFF in a coordinate system of
// the user's choice, as GIS tools take it.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/ExportCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/Rectify.h"
#include "imaging/DIBSection.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"


#include <cstdio>

namespace {

/// count comma-separated finite numbers, or nothing.
template <std::size_t count>
std::optional<std::array<double, count>> ParseNumbers(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != static_cast<qsizetype>(count))
        return std::nullopt;
    std::array<double, count> numbers{};
    for (std::size_t k = 0; k < count; ++k) {
        const std::optional<double> number = ParseFinite(parts.at(static_cast<qsizetype>(k)));
        if (!number)
            return std::nullopt;
        numbers[k] = *number;
    }
    return numbers;
}

/// The target system --crs names (given through FitCrs::Parse): geographic is WGS 84 latitude
/// and longitude, utm the zone of the map's centre, auto the projection the map is fitted in.
QString TargetCrs(const FitCrs& crs, const CQuilletDoc& doc)
{
    if (crs.GetKind() == FitCrs::Kind::Auto) {
        const std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
        return coding ? coding->Crs().Definition() : QString();
    }
    if (crs.GetKind() != FitCrs::Kind::Utm)
        return crs.Definition();
    const std::optional<GeoPosition> centre = doc.PositionOfPixel(doc.ImageWidth() / 2.0, doc.ImageHeight() / 2.0);
    return centre ? FitCrs::UtmZoneOf(*centre).Definition() : QString();
}

} // namespace

// varnel-cli rectify FILE -o OUT [--crs CRS] [--resampling near|bilinear|cubic|lanczos]
//     [--resolution XRES,YRES] [--extent XMIN,YMIN,XMAX,YMAX] [--mask FILE] [--transform T] [--fit-crs CRS]
// FILE is opened as Open reads it (a workspace, a projection file or a TIFF map) and geo-coded as
// it holds or as --transform and --fit-crs choose; the GeoTIFF is in --crs, by default the system
// the map is fitted in (WGS 84 latitude and longitude for geographic).
int RunRectifyCommand(const QStringList& args)
{
    const CliArguments cli(args, QStringList{QStringLiteral("-o"), QStringLiteral("--crs"), QStringLiteral("--resampling"),
                                             QStringLiteral("--resolution"), QStringLiteral("--extent"),
                                             QStringLiteral("--mask")} +
                                     kChoiceOptions);
    if (!cli.Ok())
        return CliUsageFail("rectify", cli.m_strError);
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")))
        return CliUsageFail("rectify", CliUsage("rectify"));
    QString error;
    const std::optional<ChoiceOptions> choice = ParseChoiceOptions(cli, error);
    if (!choice)
        return CliUsageFail("rectify", error);
    const QString out = cli.Value(QStringLiteral("-o"));
    if (const std::optional<QString> refusal = BinaryOutputRefusal(out, QStringLiteral("GeoTIFF")))
        return CliUsageFail("rectify", *refusal);
    RectifyOptions options;
    std::optional<FitCrs> target;
    if (cli.Has(QStringLiteral("--crs")) && !(target = FitCrs::Parse(cli.Value(QStringLiteral("--crs")), &error)))
        return CliUsageFail("rectify", QStringLiteral("--crs: %1").arg(error));
    if (cli.Has(QStringLiteral("--resampling"))) {
        const QString name = cli.Value(QStringLiteral("--resampling"));
        const std::optional<RectifyResampling> resampling = ParseResampling(name);
        if (!resampling)
            return CliUsageFail("rectify", QStringLiteral("--resampling must be near, bilinear, cubic or lanczos, not '%1'")
                                               .arg(QuotedField(name)));
        options.m_eResampling = *resampling;
    }
    if (cli.Has(QStringLiteral("--resolution"))) {
        options.m_Resolution = ParseNumbers<2>(cli.Value(QStringLiteral("--resolution")));
        if (!options.m_Resolution || (*options.m_Resolution)[0] <= 0 || (*options.m_Resolution)[1] <= 0)
            return CliUsageFail("rectify", QStringLiteral("--resolution needs two positive numbers XRES,YRES"));
    }
    if (cli.Has(QStringLiteral("--extent"))) {
        options.m_Extent = ParseNumbers<4>(cli.Value(QStringLiteral("--extent")));
        const std::optional<std::array<double, 4>>& extent = options.m_Extent;
        if (!extent || (*extent)[0] >= (*extent)[2] || (*extent)[1] >= (*extent)[3])
            return CliUsageFail("rectify", QStringLiteral("--extent needs four numbers XMIN,YMIN,XMAX,YMAX, "
                                                          "each minimum below its maximum"));
    }
    const QString input = cli.m_Positional.constFirst();
    const QString mask = cli.Value(QStringLiteral("--mask"));
    if (!mask.isEmpty()) {
        QByteArray bytes;
        if (!ReadWholeFile(mask, bytes, &error))
            return CliFail("rectify", error);
        options.m_strMask = QString::fromUtf8(bytes);
    }

    CQuilletDoc doc;
    // The map, the workspace that names it and the mask are inputs: the GeoTIFF replaces none.
    if (const std::optional<QString> refusal = LoadMapAsChosen(doc, input, *choice, CliProgress(0.0, 0.3), {out}, {mask}))
        return CliFail("rectify", *refusal);
    const std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
    if (!coding)
        return CliFail("rectify", QStringLiteral("%1 is not geo-coded").arg(DisplayText(input)));
    options.m_strCrs = target ? TargetCrs(*target, doc) : coding->Crs().Definition();
    DIBSection drawn;
    const DIBSection* pixels = MapSection(doc, drawn);
    if (!pixels)
        return CliFail("rectify", NoReadableImageText(input));
    const Progress progress = CliProgress(0.3, 1.0);
    const RectifyResult result = RectifyMap(*pixels, *coding, options, out, progress);
    if (!result.m_Grid)
        return CliFail("rectify", result.m_strRefusal);
    progress.Report(1, 1); // the warper's last steps (overviews, the rename) report nothing

    const RectifiedGrid& grid = *result.m_Grid;
    JsonWriter json;
    json.BeginObject().Key("written").BeginArray().Value(out).EndArray().Key("crs").Value(grid.m_strCrs);
    json.Key("geotransform").BeginArray();
    for (const double value : grid.m_GeoTransform)
        json.Value(value);
    json.EndArray().Key("width").Value(grid.m_nWidth).Key("height").Value(grid.m_nHeight).EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
