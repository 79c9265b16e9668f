#pragma once
// What every subcommand of varnel-cli needs of its command line and its answers: argument
// parsing, failure messages, progress. Nothing here reaches the document or the geo-coding, so
// the program that reads projection files (unpack_main.cpp) stays free of them.

#include "platform/Progress.h"
#include "platform/UiMessage.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

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
