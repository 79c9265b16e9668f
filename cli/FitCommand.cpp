#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "geo/CDataGeo.h"
#include "geo/GeoFit.h"
#include "geo/ProjectionSearch.h"
#include "geo/Residuals.h"

#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

// varnel-cli fit --width W --height H [--coef c0,...,c15] [--geocoded 0|1] [--transform T] [--fit-crs CRS]
//     POINTS.csv
// Runs the geo-coding fit on the control points of POINTS.csv as the document would after an
// edit of its points, under the transformation and coordinate system chosen, and reports the flag
// and model it leaves and the message it would show.

namespace {


struct FitArguments {
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::array<double, 16> m_dGeoCoef{};
    BOOL m_bGeoCoded = 0;
    ChoiceOptions m_Choice;
    QString m_strPointsPath;
};

void PrintFitUsage()
{
    std::fprintf(stderr, "%s\n%s", qPrintable(CliUsage("fit")), FindCliCommand("fit")->m_Details);
}

/// Reports a problem with the command line or the points file on standard error.
void Fail(const QString& message)
{
    std::fprintf(stderr, "varnel-cli fit: %s\n", qPrintable(message));
}

std::optional<FitArguments> ParseArguments(const QStringList& args)
{
    FitArguments parsed;
    bool haveWidth = false, haveHeight = false;
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args.at(i);
        if (!arg.startsWith(QStringLiteral("--"))) {
            if (!parsed.m_strPointsPath.isEmpty()) {
                Fail(QStringLiteral("more than one points file given"));
                return std::nullopt;
            }
            parsed.m_strPointsPath = arg;
            continue;
        }
        // --name=value is --name value.
        std::optional<QString> joined;
        if (const qsizetype equals = arg.indexOf(QLatin1Char('=')); equals > 2) {
            joined = arg.mid(equals + 1);
            arg.truncate(equals);
        }
        if (!joined && i + 1 >= args.size()) {
            Fail(NeedsValueText(arg));
            return std::nullopt;
        }
        const QString value = joined ? *joined : args.at(++i);
        bool ok = false;
        if (arg == QStringLiteral("--width") || arg == QStringLiteral("--height")) {
            const int size = value.toInt(&ok);
            if (!ok || size <= 0) {
                Fail(QStringLiteral("%1 must be a positive whole number of pixels, not '%2'").arg(arg, QuotedField(value)));
                return std::nullopt;
            }
            (arg == QStringLiteral("--width") ? parsed.m_nWidth : parsed.m_nHeight) = size;
            (arg == QStringLiteral("--width") ? haveWidth : haveHeight) = true;
        } else if (arg == QStringLiteral("--coef")) {
            QString error;
            const std::optional<std::array<double, 16>> coefficients = ParseCoefficientList(value, error);
            if (!coefficients) {
                Fail(error);
                return std::nullopt;
            }
            parsed.m_dGeoCoef = *coefficients;
        } else if (arg == QStringLiteral("--geocoded")) {
            if (value != QStringLiteral("0") && value != QStringLiteral("1")) {
                Fail(QStringLiteral("--geocoded must be 0 or 1, not '%1'").arg(QuotedField(value)));
                return std::nullopt;
            }
            parsed.m_bGeoCoded = value == QStringLiteral("1") ? 1 : 0;
        } else if (kChoiceOptions.contains(arg)) {
            QString error;
            if (!ParseChoiceOption(arg, value, parsed.m_Choice, error)) {
                Fail(error);
                return std::nullopt;
            }
        } else {
            Fail(UnknownOptionText(arg));
            return std::nullopt;
        }
    }
    if (!haveWidth || !haveHeight || parsed.m_strPointsPath.isEmpty()) {
        Fail(QStringLiteral("--width, --height and a points file are required"));
        return std::nullopt;
    }
    return parsed;
}

/// Reads the points file: the header line, then latitude and longitude in decimal degrees and x
/// and y in frame units per row. Coordinates are kept in arc-seconds, as the document holds them.
/// Blank lines are skipped.
std::optional<std::vector<CDataGeo>> ReadPoints(const QString& path)
{
    // Read as every file of a command is: a FIFO or a device is refused without waiting on it.
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(path, bytes, &error)) {
        Fail(QStringLiteral("cannot read %1: %2").arg(DisplayText(path), error));
        return std::nullopt;
    }
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    std::vector<CDataGeo> points;
    bool haveHeader = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (!haveHeader) {
            QStringList names = line.split(QLatin1Char(','));
            for (QString& name : names)
                name = name.trimmed();
            if (names != QStringList{QStringLiteral("latitude"), QStringLiteral("longitude"), QStringLiteral("x"),
                                     QStringLiteral("y")}) {
                Fail(QStringLiteral("%1: the first line must be 'latitude,longitude,x,y'").arg(DisplayText(path)));
                return std::nullopt;
            }
            haveHeader = true;
            continue;
        }
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() != 4) {
            Fail(QStringLiteral("%1 line %2: expected 4 fields, found %3")
                     .arg(DisplayText(path)).arg(i + 1).arg(fields.size()));
            return std::nullopt;
        }
        std::array<double, 4> values{};
        for (int k = 0; k < 4; ++k) {
            const std::optional<double> number = ParseFinite(fields.at(k));
            if (!number) {
                Fail(QStringLiteral("%1 line %2: '%3' is not a number")
                         .arg(DisplayText(path)).arg(i + 1).arg(QuotedField(fields.at(k).trimmed())));
                return std::nullopt;
            }
            values[static_cast<std::size_t>(k)] = *number;
        }
        points.push_back(CDataGeo::FromDegrees(values[0], values[1], values[2], values[3]));
    }
    if (!haveHeader) {
        Fail(QStringLiteral("%1: the file is empty").arg(DisplayText(path)));
        return std::nullopt;
    }
    return points;
}

const char* OutcomeName(GeoFitOutcome outcome)
{
    switch (outcome) {
    case GeoFitOutcome::Accepted:
        return "accepted";
    case GeoFitOutcome::Rejected:
        return "rejected";
    case GeoFitOutcome::TooFewPoints:
        return "too_few_points";
    case GeoFitOutcome::Degenerate:
        return "degenerate";
    }
    return "";
}

void WriteOptional(JsonWriter& json, const std::optional<double>& value)
{
    if (value)
        json.Value(*value);
    else
        json.Null();
}

/// Every point's residual vector in pixels, on the ground and left out of the fit; nulls without
/// a model.
void WriteResiduals(JsonWriter& json, const ResidualAnalysis& analysis)
{
    const bool modelled = analysis.m_Model.has_value();
    json.Key("residuals_px");
    if (modelled) {
        json.BeginArray();
        for (const PointResidual& residual : analysis.m_Points)
            json.BeginArray().Value(residual.m_dDx).Value(residual.m_dDy).EndArray();
        json.EndArray();
    } else {
        json.Null();
    }
    json.Key("residuals_m");
    if (modelled) {
        json.BeginArray();
        for (const PointResidual& residual : analysis.m_Points)
            json.Value(residual.m_dGroundMetres);
        json.EndArray();
    } else {
        json.Null();
    }
    json.Key("loo_residuals_arcsec");
    if (modelled) {
        json.BeginArray();
        for (const PointResidual& residual : analysis.m_Points)
            WriteOptional(json, residual.m_dLeaveOneOut);
        json.EndArray();
    } else {
        json.Null();
    }
}

/// The projections the search ranked, best first, and its note on families left out.
void WriteCandidates(JsonWriter& json, const ProjectionSearchResult& search)
{
    if (search.m_Candidates.empty())
        return;
    json.Key("candidates").BeginArray();
    for (const ProjectionCandidate& candidate : search.m_Candidates)
        json.BeginObject()
            .Key("crs").Value(candidate.m_strCrs)
            .Key("rms_m").Value(candidate.m_dRmsMetres)
            .Key("loo_rms_m").Value(candidate.m_dLooRmsMetres)
            .EndObject();
    json.EndArray();
    if (!search.m_strNote.isEmpty())
        json.Key("candidates_note").Value(search.m_strNote);
}

} // namespace

int RunFitCommand(const QStringList& args)
{
    const std::optional<FitArguments> parsed = ParseArguments(args);
    if (!parsed) {
        PrintFitUsage();
        return kCliUsageStatus;
    }
    const std::optional<std::vector<CDataGeo>> points = ReadPoints(parsed->m_strPointsPath);
    if (!points)
        return 1;

    GeoCodingChoice choice = parsed->m_Choice.Over({});
    // The projection is searched once: the fit and the residuals are then those in the winner,
    // and the ranking is shown so that another can be chosen.
    ProjectionSearchResult search;
    if (choice.m_FitCrs.GetKind() == FitCrs::Kind::Auto) {
        search = SearchProjection(GeoControlPoints(*points, parsed->m_nWidth, parsed->m_nHeight));
        if (search.m_Candidates.empty()) {
            Fail(search.m_strRefusal);
            return 1;
        }
        choice.m_FitCrs = *FitCrs::Parse(search.m_Candidates.front().m_strCrs);
    }
    const GeoFitResult fit =
        ComputeGeoFit(choice, *points, parsed->m_nWidth, parsed->m_nHeight, parsed->m_dGeoCoef, parsed->m_bGeoCoded);
    // Another transformation says why it has no model (how many points it needs, points on one
    // line); the affine fit keeps answering as it always has.
    if (!fit.m_strRefusal.isEmpty()) {
        Fail(fit.m_strRefusal);
        return 1;
    }

    JsonWriter json;
    json.BeginObject().Key("outcome").Value(OutcomeName(fit.m_Outcome)).Key("geocoded").Value(fit.m_bGeoCoded);
    json.Key("coefficients");
    WriteCoefficients(json, fit.m_dGeoCoef);
    json.Key("residuals_arcsec").BeginArray();
    for (const double residual : fit.m_dResiduals)
        json.Value(residual);
    json.EndArray();
    json.Key("threshold_arcsec");
    WriteOptional(json, fit.m_dThreshold);
    json.Key("accuracy_arcsec");
    WriteOptional(json, fit.m_dAccuracy);
    json.Key("message");
    if (fit.m_Message) {
        const bool information = (fit.m_Message->m_nType & MB_ICONMASK) == MB_ICONINFORMATION;
        json.BeginObject()
            .Key("text").Value(fit.m_Message->m_strText)
            .Key("caption").Value(fit.m_Message->m_strCaption)
            .Key("icon").Value(information ? "information" : "none")
            .EndObject();
    } else {
        json.Null();
    }
    // Every point's residuals on the picture, on the ground and left out of the fit, whenever the
    // fit reached a model, accepted or not.
    const ResidualAnalysis analysis = AnalyseResiduals(choice, *points, parsed->m_nWidth, parsed->m_nHeight);
    const bool modelled = analysis.m_Model.has_value();
    WriteResiduals(json, analysis);
    json.Key("rmse_m");
    WriteOptional(json, modelled ? std::optional<double>(analysis.m_dRmsMetres) : std::nullopt);
    if (!choice.IsDefault())
        WriteChoice(json, choice);
    WriteCandidates(json, search);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
