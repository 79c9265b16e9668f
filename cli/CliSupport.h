#pragma once
// Argument handling shared by the subcommands of varnel-cli.

#include "commands/OutputCommand.h"
#include "geo/GeoCodingChoice.h"
#include "platform/Progress.h"
#include "platform/UiMessage.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>
#include <optional>

class CQuilletDoc;
struct CDataGeo;
struct GeoFitResult;
class JsonWriter;

/// --progress: from now on the long work of this run writes its whole percentages on standard
/// error, one per line, as they are reached.
void EnableCliProgress();
/// The stretch from..to of this run's progress (for a command that loads, then writes), reporting
/// nowhere without --progress.
Progress CliProgress(double from = 0.0, double to = 1.0);
/// A bad field as an error message quotes it: at most its first 80 characters, with control
/// characters (a NUL too) shown as \xNN escapes, and a note of the full length when it is cut.
QString QuotedField(const QString& field);

/// A finite number, or nothing for text that is not one.
std::optional<double> ParseFinite(const QString& text);

/// Sixteen comma-separated finite numbers (a coefficient block). On failure sets error.
std::optional<std::array<double, 16>> ParseCoefficientList(const QString& text, QString& error);

/// Writes the sixteen coefficients as a JSON array.
void WriteCoefficients(JsonWriter& json, const std::array<double, 16>& coefficients);

/// Writes control points as a JSON array of [latitude, longitude, x, y], the coordinates divided
/// by unit (CDataGeo::kArcSecondsPerDegree turns the stored seconds into degrees).
void WritePoints(JsonWriter& json, const std::vector<CDataGeo>& points, double unit = 1.0);

/// The options ("--name value", "--name=value" or "-o value") and positional arguments of a
/// command line. Options not in the allowed list, or without a value, make it invalid.
struct CliArguments {
    QMap<QString, QString> m_Options;
    QStringList m_Positional;
    QString m_strError; ///< empty when the command line is valid

    CliArguments(const QStringList& args, const QStringList& allowedOptions);
    bool Ok() const { return m_strError.isEmpty(); }
    bool Has(const QString& option) const { return m_Options.contains(option); }
    QString Value(const QString& option) const { return m_Options.value(option); }
};

/// The messages more than one subcommand gives about its command line and its input.
QString UnknownOptionText(const QString& option);
QString NeedsValueText(const QString& option);
QString NoReadableImageText(const QString& path);

/// The exit status of a command line that is wrong: an unknown command or option, an option
/// without its value or with one it cannot take, an argument missing or too many. Found before
/// any file is touched; 1 is for work that could not be done.
constexpr int kCliUsageStatus = 2;

/// Prints "varnel-cli COMMAND: message" on standard error and returns the error exit status 1.
int CliFail(const char* command, const QString& message);
/// Prints "varnel-cli COMMAND: message" on standard error and returns kCliUsageStatus.
int CliUsageFail(const char* command, const QString& message);

/// The one FILE of a command that takes nothing else ("varnel-cli info FILE"), or nothing after
/// reporting the wrong command line (status kCliUsageStatus in status).
std::optional<QString> SingleFileArgument(const char* command, const QStringList& args, int& status);

/// "-" given as an output (-o -): the text goes to standard output.
bool IsStandardOutput(const QString& path);
/// The refusal of "-o -" for a command whose output is binary (what names it): such bytes do
/// not belong on a terminal or in the JSON report's place. Nothing for a named file.
std::optional<QString> BinaryOutputRefusal(const QString& path, const QString& what);
/// Why writing outputs would destroy an input: the first output that is the same file as an
/// input (same device and inode, through links and other names), or nothing. Empty names and
/// standard output ("-") are no files.
std::optional<QString> OutputOverwritesInput(const QStringList& outputs, const QStringList& inputs);

/// How the messages a command would have shown are printed on standard error, one per line.
enum class MessageStyle {
    TextOnly,    ///< "text"
    WithCaption, ///< "caption: text"
};
void PrintMessages(const UiMessages& messages, MessageStyle style);

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

/// Why a fit under the choice of the points (as the document keeps them, of a picture of width x
/// height pixels) left no model, for a command line: the fit's own sentence, or for the affine
/// fit, which withdraws the geo-coding silently, the same sentence of its transformation (how many
/// points it needs, points on one line). Nothing when the fit reached a model.
std::optional<QString> FitRefusal(const GeoFitResult& fit, const GeoCodingChoice& choice,
                                  const std::vector<CDataGeo>& points, int width, int height);

/// "transform" and "fit_crs" of an answer: the transformation's name and the coordinate system as
/// given ("geographic", "utm" or its definition).
void WriteChoice(JsonWriter& json, const GeoCodingChoice& choice);
