#pragma once
// Argument handling shared by the subcommands of varnel-cli.

#include "platform/UiMessage.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class JsonWriter;

/// A bad field as an error message quotes it: at most its first 80 characters, with control
/// characters (a NUL too) shown as \xNN escapes, and a note of the full length when it is cut.
QString QuotedField(const QString& field);

/// A finite number, or nothing for text that is not one.
std::optional<double> ParseFinite(const QString& text);

/// Sixteen comma-separated finite numbers (a coefficient block). On failure sets error.
std::optional<std::array<double, 16>> ParseCoefficientList(const QString& text, QString& error);

/// Writes the sixteen coefficients as a JSON array.
void WriteCoefficients(JsonWriter& json, const std::array<double, 16>& coefficients);

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
