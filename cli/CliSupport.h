#pragma once
// Argument handling shared by the subcommands of varnel-cli.

#include "commands/OutputCommand.h"
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
/// by unit (3600 turns the stored seconds into degrees).
void WritePoints(JsonWriter& json, const std::vector<CDataGeo>& points, double unit = 1.0);

/// The options ("--name value" or "-o value") and positional arguments of a command line.
/// Options not in the allowed list, or without a value, make it invalid.
struct CliArguments {
    QMap<QString, QString> m_Options;
    QStringList m_Positional;
    QString m_strError; ///< empty when the command line is valid

    CliArguments(const QStringList& args, const QStringList& allowedOptions);
    bool Ok() const { return m_strError.isEmpty(); }
    bool Has(const QString& option) const { return m_Options.contains(option); }
    QString Value(const QString& option) const { return m_Options.value(option); }
};

/// Prints "varnel-cli COMMAND: message" on standard error and returns the error exit status 1.
int CliFail(const char* command, const QString& message);

/// How the messages a command would have shown are printed on standard error, one per line.
enum class MessageStyle {
    TextOnly,    ///< "text"
    WithCaption, ///< "caption: text"
};
void PrintMessages(const UiMessages& messages, MessageStyle style);

/// Loads path as the map the desktop would show for it: a workspace, a projection file or a
/// TIFF map (by the file's content, then its extension); the import's messages go to standard
/// error. On failure sets error.
bool LoadMapFile(CQuilletDoc& doc, const QString& path, QString& error, const Progress& progress = {});

/// --range left,right,top,bottom as the range tool leaves it: four fractions of the picture
/// (left and right of its width, top and bottom of its height from the top edge), put in order.
/// On failure sets error.
std::optional<OutputRange> ParseRangeOption(const QString& text, QString& error);
