#pragma once
// What the subcommands the tool runs share beyond CliBasics.h: loading a map and choosing how
// it is geo-coded, and the answers about its points.

#include "CliBasics.h"

#include "commands/OutputCommand.h"
#include "geo/GeoCodingChoice.h"

#include <QString>
#include <QStringList>

#include <vector>
#include <optional>

class CQuilletDoc;
struct CDataGeo;
struct GeoFitResult;
class JsonWriter;

/// Writes control points as a JSON array of [latitude, longitude, x, y], the coordinates divided
/// by unit (CDataGeo::kArcSecondsPerDegree turns the stored seconds into degrees).
void WritePoints(JsonWriter& json, const std::vector<CDataGeo>& points, double unit = 1.0);

/// Loads path as the map the desktop would show for it: a workspace, a projection file or a
/// TIFF map, as ChooseFileOpening picks by the file's content, then its extension (a picture map
/// is refused); the import's messages go to standard error. On failure sets error.
bool LoadMapFile(CQuilletDoc& doc, const QString& path, QString& error, const Progress& progress = {});
/// Imports the TIFF map at path (of kind) as New does, its messages on standard error; false with
/// why in error when no image could be read.
bool LoadTiffMap(CQuilletDoc& doc, const QString& path, MapKind kind, QString& error, const Progress& progress);

/// --range left,right,top,bottom as the range tool leaves it: four fractions of the picture
/// (left and right of its width, top and bottom of its height from the top edge), put in order.
/// On failure sets error.
std::optional<OutputRange> ParseRangeOption(const QString& text, QString& error);

/// The options that choose how a map is geo-coded from its control points.
inline const QStringList kChoiceOptions = {QStringLiteral("--transform"), QStringLiteral("--fit-crs")};

/// --transform T and --fit-crs CRS as given; a part not given keeps what the map holds.
struct ChoiceOptions {
    std::optional<TransformKind> m_Transform;
    std::optional<FitCrs> m_FitCrs;

    bool Given() const { return m_Transform || m_FitCrs; }
    /// The choice with the parts given replacing those of current.
    GeoCodingChoice Over(const GeoCodingChoice& current) const;
};

/// Reads --transform and --fit-crs; nothing, with why in error (a coordinate system PROJ does not
/// know is quoted, at most 80 characters of it), for a value neither takes.
std::optional<ChoiceOptions> ParseChoiceOptions(const CliArguments& cli, QString& error);
/// The same for one of them (option is "--transform" or "--fit-crs") given value; false, with
/// why in error, for a value it does not take.
bool ParseChoiceOption(const QString& option, const QString& value, ChoiceOptions& options, QString& error);

/// Geo-codes the loaded map (path names it in messages) as the options choose, as the window's
/// Transformation setting does, when that differs from what its workspace holds. Why the map
/// cannot be geo-coded so, or nothing: a refusal of the transformation (too few points for it,
/// saying how many it needs, points it cannot be fitted to), or a map geo-coded by its own
/// georeference, which no control points change.
std::optional<QString> ApplyChoiceOptions(CQuilletDoc& doc, const ChoiceOptions& options, const QString& path);

/// LoadMapFile of path, then ApplyChoiceOptions, as the commands that work on a map's geo-coding
/// open it; in between, outputs may be none of path, the map its workspace names and otherInputs
/// (OutputOverwritesInput). Why the map cannot be had so, or nothing.
std::optional<QString> LoadMapAsChosen(CQuilletDoc& doc, const QString& path, const ChoiceOptions& options,
                                       const Progress& progress, const QStringList& outputs = {},
                                       const QStringList& otherInputs = {});

/// Why a fit under the choice of the points (as the document keeps them, of a picture of width x
/// height pixels) left no model, for a command line: the fit's own sentence, or for the affine
/// fit, which withdraws the geo-coding silently, the same sentence of its transformation (how many
/// points it needs, points on one line). Nothing when the fit reached a model.
std::optional<QString> FitRefusal(const GeoFitResult& fit, const GeoCodingChoice& choice,
                                  const std::vector<CDataGeo>& points, int width, int height);

/// "transform" and "fit_crs" of an answer: the transformation's name and the coordinate system as
/// given ("geographic", "utm" or its definition).
void WriteChoice(JsonWriter& json, const GeoCodingChoice& choice);
