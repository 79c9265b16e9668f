// varnel-cli overlay: a geo-coded map with trusted lines drawn over it through its geo-coding, so
// that a script checking many maps finds each line where it should be by its colour.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/ExportCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/ReferenceData.h"
#include "imaging/BitmapExport.h"
#include "imaging/DIBSection.h"
#include "platform/DisplayText.h"
#include "view/core/OverlayPainter.h"

#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>

namespace {

/// The outline of a raster reference, the shape it contributes to an overlay.
OverlayShape RasterOutline(const ReferenceData& reference)
{
    const double width = reference.m_Image.width();
    const double height = reference.m_Image.height();
    OverlayShape outline;
    for (const QPointF& corner : {QPointF(0, 0), QPointF(width, 0), QPointF(width, height), QPointF(0, height), QPointF(0, 0)})
        outline.m_Vertices.push_back(ReferenceImageToGround(reference, corner));
    return outline;
}

/// The reference's shapes drawn through the map's geo-coding (a width x height picture); nothing,
/// with why, when it cannot be or does not overlap the map.
std::optional<OverlayDrawing> DrawReference(const QString& path, const GeoCoding& coding, double width, double height,
                                            QString& error)
{
    const Parsed<ReferenceData> reference = ReadReference(path, 1);
    if (!reference) {
        error = QStringLiteral("%1 cannot be drawn: %2").arg(DisplayText(path), reference.Why());
        return std::nullopt;
    }
    QString refusal;
    const std::optional<FitCrsConversion> source = FitCrsConversion::Create(reference->m_Crs, &refusal);
    if (!source) {
        error = QStringLiteral("%1 cannot be drawn: %2").arg(DisplayText(path), refusal);
        return std::nullopt;
    }
    if (!ReferenceOverlaps(*reference, coding, width, height)) {
        error = QStringLiteral("%1 does not overlap the map").arg(DisplayText(path));
        return std::nullopt;
    }
    const std::vector<OverlayShape> outline{reference->m_bRaster ? RasterOutline(*reference) : OverlayShape{}};
    return DrawOverlay(reference->m_bRaster ? outline : reference->m_Shapes, &*source, coding, QRectF(0, 0, width, height));
}

} // namespace

// varnel-cli overlay FILE [--reference REF] [--graticule DEG] [--color RRGGBB] [--transform T]
//     [--fit-crs CRS] -o OUT.png
int RunOverlayCommand(const QStringList& args)
{
    const CliArguments cli(args, QStringList{QStringLiteral("-o"), QStringLiteral("--reference"),
                                             QStringLiteral("--graticule"), QStringLiteral("--color")} +
                                     kChoiceOptions);
    if (!cli.Ok())
        return CliUsageFail("overlay", cli.m_strError);
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")))
        return CliUsageFail("overlay", CliUsage("overlay"));
    if (!cli.Has(QStringLiteral("--reference")) && !cli.Has(QStringLiteral("--graticule")))
        return CliUsageFail("overlay", QStringLiteral("give --reference, --graticule or both: there is nothing to draw"));
    QString error;
    const std::optional<ChoiceOptions> choice = ParseChoiceOptions(cli, error);
    if (!choice)
        return CliUsageFail("overlay", error);
    const QString out = cli.Value(QStringLiteral("-o"));
    if (const std::optional<QString> refusal = BinaryOutputRefusal(out, QStringLiteral("PNG")))
        return CliUsageFail("overlay", *refusal);
    std::optional<double> interval;
    if (cli.Has(QStringLiteral("--graticule"))) {
        interval = ParseFinite(cli.Value(QStringLiteral("--graticule")));
        if (!interval || *interval < 0 || *interval > 90)
            return CliUsageFail("overlay", QStringLiteral("--graticule needs an interval in degrees from 0 to 90, not '%1'")
                                               .arg(QuotedField(cli.Value(QStringLiteral("--graticule")))));
    }
    QColor colour(Qt::red);
    if (cli.Has(QStringLiteral("--color"))) {
        const QString text = cli.Value(QStringLiteral("--color"));
        if (!QRegularExpression(QStringLiteral("^[0-9A-Fa-f]{6}$")).match(text).hasMatch())
            return CliUsageFail("overlay", QStringLiteral("--color needs six hexadecimal digits RRGGBB, not '%1'")
                                               .arg(QuotedField(text)));
        colour = QColor(QLatin1Char('#') + text);
    }

    const QString input = cli.m_Positional.constFirst();
    const QString referencePath = cli.Value(QStringLiteral("--reference"));
    CQuilletDoc doc;
    if (const std::optional<QString> refusal =
            LoadMapAsChosen(doc, input, *choice, CliProgress(0.0, 0.5), {out}, {referencePath}))
        return CliFail("overlay", *refusal);
    const std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
    if (!coding)
        return CliFail("overlay", QStringLiteral("%1 is not geo-coded").arg(DisplayText(input)));
    const QRectF picture(0, 0, doc.ImageWidth(), doc.ImageHeight());

    OverlayDrawing drawing;
    if (!referencePath.isEmpty()) {
        std::optional<OverlayDrawing> drawn = DrawReference(referencePath, *coding, picture.width(), picture.height(), error);
        if (!drawn)
            return CliFail("overlay", error);
        drawing = std::move(*drawn);
    }
    GraticuleLines graticule;
    if (interval) {
        graticule = Graticule(*coding, picture.width(), picture.height(), *interval);
        if (graticule.m_Lines.empty())
            return CliFail("overlay", graticule.m_strRefusal);
        std::vector<OverlayShape> shapes;
        for (const GraticuleLine& line : graticule.m_Lines)
            shapes.push_back(line.m_Shape);
        OverlayDrawing lines = DrawOverlay(shapes, nullptr, *coding, picture);
        drawing.m_Lines.insert(drawing.m_Lines.end(), lines.m_Lines.begin(), lines.m_Lines.end());
    }

    DIBSection drawnMap;
    const DIBSection* pixels = MapSection(doc, drawnMap);
    if (!pixels)
        return CliFail("overlay", NoReadableImageText(input));
    QImage image = RgbImageOf(*pixels).convertToFormat(QImage::Format_RGB32);
    {
        QPainter painter(&image);
        PaintOverlay(painter, drawing, colour);
    }
    QSaveFile file(out);
    QImageWriter writer(&file, "png");
    if (!file.open(QIODevice::WriteOnly) || !writer.write(image) || !file.commit())
        return CliFail("overlay", QStringLiteral("%1 cannot be written: %2")
                                      .arg(DisplayText(out), file.errorString().isEmpty() ? writer.errorString()
                                                                                          : file.errorString()));
    qsizetype vertices = 0;
    for (const QPolygonF& line : drawing.m_Lines)
        vertices += line.size();
    JsonWriter json;
    json.BeginObject().Key("written").BeginArray().Value(out).EndArray();
    json.Key("lines").Value(static_cast<long long>(drawing.m_Lines.size()));
    json.Key("points").Value(static_cast<long long>(drawing.m_Points.size()));
    json.Key("vertices").Value(static_cast<long long>(vertices));
    if (interval)
        json.Key("graticule_interval").Value(graticule.m_dInterval);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
