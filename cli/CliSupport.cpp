#include "CliSupport.h"
#include "Json.h"

#include <cmath>
#include <cstdio>

QString QuotedField(const QString& field)
{
    constexpr qsizetype kShown = 80;
    QString shown;
    for (const QChar c : field.left(kShown))
        shown += c.isPrint() ? QString(c) : QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    if (field.size() > kShown)
        shown += QStringLiteral("... (%1 characters)").arg(field.size());
    return shown;
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
        const QString& arg = args.at(i);
        if (!arg.startsWith(QLatin1Char('-')) || arg == QStringLiteral("-")) {
            m_Positional << arg;
            continue;
        }
        if (!allowedOptions.contains(arg)) {
            m_strError = QStringLiteral("unknown option %1").arg(QuotedField(arg));
            return;
        }
        if (i + 1 >= args.size()) {
            m_strError = QStringLiteral("%1 needs a value").arg(QuotedField(arg));
            return;
        }
        m_Options.insert(arg, args.at(++i));
    }
}

int CliFail(const char* command, const QString& message)
{
    std::fprintf(stderr, "varnel-cli %s: %s\n", command, qPrintable(message));
    return 1;
}

void PrintMessages(const UiMessages& messages, MessageStyle style)
{
    for (const UiMessage& message : messages) {
        if (style == MessageStyle::WithCaption)
            std::fprintf(stderr, "%s: %s\n", qPrintable(message.m_strCaption), qPrintable(message.m_strText.trimmed()));
        else
            std::fprintf(stderr, "%s\n", qPrintable(message.m_strText.trimmed()));
    }
}
