#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "commands/FileCommands.h"
#include "commands/FileOpening.h"
#include "document/CQuilletDoc.h"
#include "formats/TiffImport.h"
#include "geo/GeoCoding.h"
#include "geo/GeoFit.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"

#include <algorithm>

void WritePoints(JsonWriter& json, const std::vector<CDataGeo>& points, double unit)
{
    json.BeginArray();
    for (const CDataGeo& point : points)
        json.BeginArray()
            .Value(point.m_dLatitude / unit)
            .Value(point.m_dLongitude / unit)
            .Value(point.m_dImageX)
            .Value(point.m_dImageY)
            .EndArray();
    json.EndArray();
}

bool LoadTiffMap(CQuilletDoc& doc, const QString& path, MapKind kind, QString& error, const Progress& progress)
{
    TiffImport import = ImportTiffImages(path, -1, progress);
    PrintMessages(import.m_Messages, MessageStyle::WithCaption);
    if (import.m_Images.empty()) {
        error = NoReadableImageText(path);
        return false;
    }
    doc.InstallTiffMap(path, kind, import.TakeImages(), import.MapGeoreference());
    return true;
}

bool LoadMapFile(CQuilletDoc& doc, const QString& path, QString& error, const Progress& progress)
{
    const FileOpening opening = ChooseFileOpening(path, OpenedFrom::Content);
    if (opening.m_Reader == OpenReader::Workspace) {
        const CommandResult opened = LoadWorkspaceFile(doc, nullptr, path, progress);
        PrintMessages(opened.m_bDone ? opened.m_Messages : UiMessages{}, MessageStyle::WithCaption);
        if (!opened.m_bDone)
            error = opened.m_Messages.back().m_strText;
        return opened.m_bDone;
    }
    if (opening.m_Reader == OpenReader::Projection) {
        // Mapped, as Open reads it: a large map's file is needed only while its payload is read.
        MappedFile file;
        if (!file.Open(path, &error))
            return false;
        const QByteArray& bytes = file.Bytes();
        UiMessage refusal;
        const std::optional<ProjectionContents> contents = opening.m_Projection == ProjectionKind::Cpf
                                                               ? ParseCpfProjection(bytes, refusal)
                                                               : ParseDpfProjection(bytes, refusal, progress);
        if (!contents) {
            error = refusal.m_strText;
            return false;
        }
        doc.InstallProjection(path, *contents, opening.m_Projection);
        return true;
    }
    if (opening.m_Reader == OpenReader::TiffMap)
        return LoadTiffMap(doc, path, opening.m_MapKind, error, progress);
    error = QStringLiteral("%1: not a workspace, projection file or TIFF map").arg(DisplayText(path));
    return false;
}

std::optional<OutputRange> ParseRangeOption(const QString& text, QString& error)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        error = QStringLiteral("--range needs four comma-separated fractions left,right,top,bottom");
        return std::nullopt;
    }
    double values[4] = {};
    for (int k = 0; k < 4; ++k) {
        const std::optional<double> number = ParseFinite(parts.at(k));
        if (!number || *number < 0.0 || *number > 1.0) {
            error = QStringLiteral("--range value '%1' is not a fraction from 0 to 1").arg(QuotedField(parts.at(k)));
            return std::nullopt;
        }
        values[k] = *number;
    }
    return OutputRange{true, std::min(values[0], values[1]), std::max(values[0], values[1]),
                       std::min(values[2], values[3]), std::max(values[2], values[3])};
}

GeoCodingChoice ChoiceOptions::Over(const GeoCodingChoice& current) const
{
    GeoCodingChoice choice = current;
    if (m_Transform)
        choice.m_eTransform = *m_Transform;
    if (m_FitCrs)
        choice.m_FitCrs = *m_FitCrs;
    return choice;
}

bool ParseChoiceOption(const QString& option, const QString& value, ChoiceOptions& options, QString& error)
{
    if (option == QStringLiteral("--transform")) {
        if (!(options.m_Transform = ParseTransformKind(value)))
            error = QStringLiteral("--transform must be affine, helmert, projective, poly2, poly3 or tps, not '%1'")
                        .arg(QuotedField(value));
        return options.m_Transform.has_value();
    }
    if (!(options.m_FitCrs = FitCrs::Parse(value, &error)))
        error = QStringLiteral("--fit-crs: %1").arg(error);
    return options.m_FitCrs.has_value();
}

std::optional<ChoiceOptions> ParseChoiceOptions(const CliArguments& cli, QString& error)
{
    ChoiceOptions options;
    for (const QString& option : kChoiceOptions)
        if (cli.Has(option) && !ParseChoiceOption(option, cli.Value(option), options, error))
            return std::nullopt;
    return options;
}

std::optional<QString> FitRefusal(const GeoFitResult& fit, const GeoCodingChoice& choice,
                                  const std::vector<CDataGeo>& points, int width, int height)
{
    if (!fit.m_strRefusal.isEmpty())
        return fit.m_strRefusal;
    if (fit.m_Outcome != GeoFitOutcome::TooFewPoints && fit.m_Outcome != GeoFitOutcome::Degenerate)
        return std::nullopt;
    // The affine fit stops without a word; the transformation it is says why, as the others do.
    const QString why =
        GeoCoding::Analyse(choice.m_eTransform, choice.m_FitCrs, GeoControlPoints(points, width, height), false).m_strRefusal;
    return !why.isEmpty() ? why
                          : QStringLiteral("The control points do not determine the %1 transformation.")
                                .arg(TransformKindName(choice.m_eTransform));
}

std::optional<QString> ApplyChoiceOptions(CQuilletDoc& doc, const ChoiceOptions& options, const QString& path)
{
    const GeoCodingChoice choice = options.Over(doc.Choice());
    if (choice == doc.Choice())
        return std::nullopt;
    if (doc.HasGeoTiffFrame())
        return QStringLiteral("%1 is geo-coded by its own georeference; --transform and --fit-crs choose how a map is "
                              "geo-coded from its control points")
            .arg(DisplayText(path));
    const GeoFitResult fit = doc.EditChoice(QStringLiteral("Geo-Code With %1").arg(TransformKindName(choice.m_eTransform)), choice);
    return FitRefusal(fit, choice, doc.ControlPoints(), doc.ImageWidth(), doc.ImageHeight());
}

void WriteChoice(JsonWriter& json, const GeoCodingChoice& choice)
{
    json.Key("transform").Value(TransformKindName(choice.m_eTransform)).Key("fit_crs").Value(choice.m_FitCrs.Text());
}

std::optional<QString> LoadMapAsChosen(CQuilletDoc& doc, const QString& path, const ChoiceOptions& options,
                                       const Progress& progress, const QStringList& outputs,
                                       const QStringList& otherInputs)
{
    QString error;
    if (!LoadMapFile(doc, path, error, progress))
        return error;
    if (std::optional<QString> refusal = OutputOverwritesInput(outputs, QStringList{path, doc.MapPath()} + otherInputs))
        return refusal;
    return ApplyChoiceOptions(doc, options, path);
}
