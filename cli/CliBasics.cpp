#include "CliBasics.h"
#include "Commands.h"
#include "Json.h"

#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <cmath>
#include <cstdio>

QString QuotedField(const QString& field)
{
    constexpr qsizetype kShown = 80;
    QString shown = EscapedText(field.left(kShown));
    if (field.size() > kShown)
        shown += QStringLiteral("... (%1 characters)").arg(field.size());
    return shown;
}

QString UnknownOptionText(const QString& option)
{
    return QStringLiteral("unknown option %1").arg(QuotedField(option));
}

QString NeedsValueText(const QString& option)
{
    return QStringLiteral("%1 needs a value").arg(QuotedField(option));
}

QString NoReadableImageText(const QString& path)
{
    return QStringLiteral("%1 holds no image Varnel can read").arg(DisplayText(path));
}

std::optional<double> ParseFinite(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::array<double, 16>> ParseCoefficientList(const QString& text, QString& error)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 16) {
        error = QStringLiteral("--coef needs 16 comma-separated numbers, got %1").arg(parts.size());
        return std::nullopt;
    }
    std::array<double, 16> coefficients{};
    for (int k = 0; k < 16; ++k) {
        const std::optional<double> number = ParseFinite(parts.at(k));
        if (!number) {
            error = QStringLiteral("--coef value %1 is not a number: '%2'").arg(k).arg(QuotedField(parts.at(k)));
            return std::nullopt;
        }
        coefficients[static_cast<std::size_t>(k)] = *number;
    }
    return coefficients;
}

void WriteCoefficients(JsonWriter& json, const std::array<double, 16>& coefficients)
{
    json.BeginArray();
    for (const double coefficient : coefficients)
        json.Value(coefficient);
    json.EndArray();
}

CliArguments::CliArguments(const QStringList& args, const QStringList& allowedOptions)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args.at(i);
        if (!arg.startsWith(QLatin1Char('-')) || arg == QStringLiteral("-")) {
            m_Positional << arg;
            continue;
        }
        // --name=value is --name value.
        std::optional<QString> joined;
        if (const qsizetype equals = arg.indexOf(QLatin1Char('=')); arg.startsWith(QStringLiteral("--")) && equals > 2) {
            joined = arg.mid(equals + 1);
            arg.truncate(equals);
        }
        if (!allowedOptions.contains(arg)) {
            m_strError = UnknownOptionText(arg);
            return;
        }
        if (!joined && i + 1 >= args.size()) {
            m_strError = NeedsValueText(arg);
            return;
        }
        m_Options.insert(arg, joined ? *joined : args.at(++i));
    }
}

namespace {

/// A message as standard error shows it: its own line breaks kept, and any other control
/// character escaped, so that nothing taken from a file can steer the terminal.
QByteArray ForTerminal(const QString& message)
{
    QStringList lines = message.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = EscapedText(line);
    return lines.join(QLatin1Char('\n')).toLocal8Bit();
}

} // namespace

int CliFail(const char* command, const QString& message)
{
    std::fprintf(stderr, "varnel-cli %s: %s\n", command, ForTerminal(message).constData());
    return 1;
}

int CliUsageFail(const char* command, const QString& message)
{
    CliFail(command, message);
    return kCliUsageStatus;
}

std::optional<QString> SingleFileArgument(const char* command, const QStringList& args, int& status)
{
    const CliArguments cli(args, {});
    if (!cli.Ok()) {
        status = CliUsageFail(command, cli.m_strError);
        return std::nullopt;
    }
    if (cli.m_Positional.size() != 1) {
        status = CliUsageFail(command, CliUsage(command));
        return std::nullopt;
    }
    return cli.m_Positional.constFirst();
}

bool IsStandardOutput(const QString& path)
{
    return path == QStringLiteral("-");
}

std::optional<QString> BinaryOutputRefusal(const QString& path, const QString& what)
{
    if (!IsStandardOutput(path))
        return std::nullopt;
    return QStringLiteral("-o - writes text outputs only; give a file name for the %1").arg(what);
}

std::optional<QString> OutputOverwritesInput(const QStringList& outputs, const QStringList& inputs)
{
    for (const QString& output : outputs) {
        if (output.isEmpty() || IsStandardOutput(output))
            continue;
        for (const QString& input : inputs)
            if (!input.isEmpty() && IsSameFile(output, input))
                return QStringLiteral("%1 is the same file as the input %2; nothing was written")
                    .arg(DisplayText(output), DisplayText(input));
    }
    return std::nullopt;
}

void PrintMessages(const UiMessages& messages, MessageStyle style)
{
    for (const UiMessage& message : messages) {
        const QByteArray text = ForTerminal(message.m_strText.trimmed());
        if (style == MessageStyle::WithCaption)
            std::fprintf(stderr, "%s: %s\n", qPrintable(message.m_strCaption), text.constData());
        else
            std::fprintf(stderr, "%s\n", text.constData());
    }
}

namespace {

ProgressState g_CliProgress;

} // namespace

void EnableCliProgress()
{
    g_CliProgress.m_OnReport = [last = -1](double fraction) mutable {
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent > last) {
            last = percent;
            std::fprintf(stderr, "%d%%\n", percent);
        }
    };
}

Progress CliProgress(double from, double to)
{
    return Progress(g_CliProgress).Part(from, to);
}
