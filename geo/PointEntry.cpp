#include "geo/PointEntry.h"

#include "geo/CDataGeo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace {

constexpr double kMaxLatitude = 90.0;
constexpr double kMaxLongitude = 180.0;
/// More decimals than any double needs: past them the fields fall back to the shortest text.
constexpr int kMaxDecimals = 17;

/// One coordinate's three fields as whole degrees, whole minutes and seconds.
struct DmsFields {
    QString m_strDegrees;
    QString m_strMinutes;
    QString m_strSeconds;
};

/// A decimal number, "+" allowed before it, read exactly as the C locale would, or nothing.
std::optional<double> ParseNumber(std::string_view text)
{
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value);
    if (text.empty() || problem != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

/// value with so many decimals; empty when that does not fit a short text.
std::string Fixed(double value, int decimals)
{
    char text[64];
    const auto [end, problem] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return problem == std::errc() ? std::string(text, end) : std::string();
}

/// The shortest text that reads back as value.
std::string Shortest(double value)
{
    char text[64];
    const auto [end, problem] = std::to_chars(text, text + sizeof text, value);
    return problem == std::errc() ? std::string(text, end) : std::string();
}

/// The degrees of arcSeconds with the fewest decimals whose value composes back to arcSeconds
/// exactly; the shortest text of the quotient when none does (a value that was
/// not typed, such as one read from another program's file).
std::string DegreesText(double arcSeconds)
{
    const double degrees = CDataGeo::ToDegrees(arcSeconds);
    for (int decimals = 0; decimals <= kMaxDecimals; ++decimals) {
        const std::string text = Fixed(degrees, decimals);
        if (text.empty())
            break;
        if (const std::optional<double> typed = ParseNumber(text); typed && CDataGeo::ToArcSeconds(*typed) == arcSeconds)
            return text;
    }
    return Shortest(degrees);
}

DmsFields FormatOne(double arcSeconds)
{
    // A point read from a damaged file may hold anything: the whole degrees stay in the int range.
    constexpr double kLimit = 1e9 * CDataGeo::kArcSecondsPerDegree;
    arcSeconds = arcSeconds == arcSeconds ? std::clamp(arcSeconds, -kLimit, kLimit) : 0.0;
    // Split in arc-seconds, where whole degrees and minutes are exact, so that the minutes and
    // seconds shown are below 60 and read back as they are.
    const double total = std::fabs(arcSeconds);
    double degrees = std::floor(total / CDataGeo::kArcSecondsPerDegree);
    double rest = total - CDataGeo::kArcSecondsPerDegree * degrees;
    if (rest < 0) {
        degrees -= 1;
        rest += CDataGeo::kArcSecondsPerDegree;
    }
    double minutes = std::floor(rest / 60);
    double seconds = rest - 60 * minutes;
    if (seconds < 0) {
        minutes -= 1;
        seconds += 60;
    }
    // Two decimals as a surveyor writes them, more when the value needs them to come back whole
    // (composed as ComposeOne composes).
    std::string secondsText = Shortest(seconds);
    for (int decimals = 2; decimals <= kMaxDecimals; ++decimals) {
        const std::string text = Fixed(seconds, decimals);
        if (const std::optional<double> typed = ParseNumber(text);
            typed && (degrees * 60 + minutes) * 60 + *typed == total) {
            secondsText = text;
            break;
        }
    }
    // The sign goes with the degrees, "-0" too: it belongs to the whole value.
    const QString sign = arcSeconds < 0 ? QStringLiteral("-") : QString();
    return {sign + QString::number(static_cast<qint64>(degrees)), QString::number(static_cast<int>(minutes)),
            QString::fromStdString(secondsText)};
}

std::optional<double> ComposeOne(const QString& degreesField, const QString& minutesField,
                                 const QString& secondsField, const QString& name, int firstField, EntryError* error)
{
    const std::optional<double> degrees = ReadCoordinateField(degreesField);
    const std::optional<double> minutes = ReadCoordinateField(minutesField);
    const std::optional<double> seconds = ReadCoordinateField(secondsField);
    const struct {
        const std::optional<double>& value;
        const QString& text;
        const char* part;
    } fields[] = {{degrees, degreesField, "degrees"}, {minutes, minutesField, "minutes"}, {seconds, secondsField, "seconds"}};
    for (int i = 0; i < 3; ++i) {
        using Problem = EntryError::Problem;
        std::optional<Problem> problem;
        if (!fields[i].value)
            problem = Problem::NotANumber;
        else if (i > 0 && *fields[i].value < 0)
            problem = Problem::Negative;
        else if (i > 0 && *fields[i].value >= 60)
            problem = Problem::SixtyOrMore;
        if (problem) {
            if (error)
                *error = {name + QLatin1Char(' ') + QLatin1String(fields[i].part), fields[i].text, *problem, firstField + i};
            return std::nullopt;
        }
    }
    // The sign of the degree field, "-0" included, belongs to the whole value.
    const double magnitude = (std::fabs(*degrees) * 60 + *minutes) * 60 + *seconds;
    return std::signbit(*degrees) ? -magnitude : magnitude;
}

/// Refuses a coordinate beyond limit degrees either way, naming it and its first field.
bool WithinRange(double arcSeconds, double limit, const QString& name, const QString& text, int field, EntryError* error)
{
    if (std::fabs(arcSeconds) <= limit * CDataGeo::kArcSecondsPerDegree)
        return true;
    if (error)
        *error = {name, text, EntryError::Problem::OutOfRange, field};
    return false;
}

} // namespace

std::optional<double> ReadCoordinateField(const QString& field)
{
    const QByteArray text = field.trimmed().toLatin1();
    return ParseNumber(std::string_view(text.constData(), static_cast<size_t>(text.size())));
}

std::optional<ArcSeconds> ComposeDecimal(const CoordinateEntry& entry, EntryError* error)
{
    const QString latitudeName = QStringLiteral("latitude"), longitudeName = QStringLiteral("longitude");
    const std::optional<double> latitude = ReadCoordinateField(entry.m_strLatitude);
    if (!latitude) {
        if (error)
            *error = {latitudeName, entry.m_strLatitude, EntryError::Problem::NotANumber, 0};
        return std::nullopt;
    }
    const std::optional<double> longitude = ReadCoordinateField(entry.m_strLongitude);
    if (!longitude) {
        if (error)
            *error = {longitudeName, entry.m_strLongitude, EntryError::Problem::NotANumber, 1};
        return std::nullopt;
    }
    const ArcSeconds typed{CDataGeo::ToArcSeconds(*latitude), CDataGeo::ToArcSeconds(*longitude)};
    if (!WithinRange(typed.m_dLatitude, kMaxLatitude, latitudeName, entry.m_strLatitude, 0, error) ||
        !WithinRange(typed.m_dLongitude, kMaxLongitude, longitudeName, entry.m_strLongitude, 1, error))
        return std::nullopt;
    return typed;
}

std::optional<ArcSeconds> ComposeDegMinSec(const DegMinSecEntry& entry, EntryError* error)
{
    const QString latitudeName = QStringLiteral("latitude"), longitudeName = QStringLiteral("longitude");
    const std::optional<double> latitude =
        ComposeOne(entry.m_strLatDeg, entry.m_strLatMin, entry.m_strLatSec, latitudeName, 0, error);
    if (!latitude || !WithinRange(*latitude, kMaxLatitude, latitudeName, entry.m_strLatDeg, 0, error))
        return std::nullopt;
    const std::optional<double> longitude =
        ComposeOne(entry.m_strLonDeg, entry.m_strLonMin, entry.m_strLonSec, longitudeName, 3, error);
    if (!longitude || !WithinRange(*longitude, kMaxLongitude, longitudeName, entry.m_strLonDeg, 3, error))
        return std::nullopt;
    return ArcSeconds{*latitude, *longitude};
}

CoordinateEntry FormatDecimal(const ArcSeconds& point)
{
    return {QString::fromStdString(DegreesText(point.m_dLatitude)), QString::fromStdString(DegreesText(point.m_dLongitude))};
}

DegMinSecEntry FormatDegMinSec(const ArcSeconds& point)
{
    const DmsFields latitude = FormatOne(point.m_dLatitude);
    const DmsFields longitude = FormatOne(point.m_dLongitude);
    return {latitude.m_strDegrees,  latitude.m_strMinutes,  latitude.m_strSeconds,
            longitude.m_strDegrees, longitude.m_strMinutes, longitude.m_strSeconds};
}

double TypedDegrees(double arcSeconds)
{
    return ParseNumber(DegreesText(arcSeconds)).value_or(CDataGeo::ToDegrees(arcSeconds));
}

QString EntryErrorText(const EntryError& error)
{
    const QString typed = error.m_strText.trimmed();
    switch (error.m_eProblem) {
    case EntryError::Problem::Negative:
        return QStringLiteral("\"%1\" has a minus sign. Please type the sign with the degrees and a number from 0 "
                              "to below 60 for the %2.")
            .arg(typed, error.m_strField);
    case EntryError::Problem::SixtyOrMore:
        return QStringLiteral("\"%1\" is 60 or more. Please type a number below 60 for the %2.").arg(typed, error.m_strField);
    case EntryError::Problem::OutOfRange: {
        const int limit = error.m_strField.startsWith(QLatin1String("latitude")) ? 90 : 180;
        return QStringLiteral("A %1 lies from -%2 to %2 degrees. Please type a %1 in that range.")
            .arg(error.m_strField)
            .arg(limit);
    }
    case EntryError::Problem::NotANumber:
        break;
    }
    return typed.isEmpty()
               ? QStringLiteral("Please type a number for the %1.").arg(error.m_strField)
               : QStringLiteral("\"%1\" is not a number. Please type a number for the %2.").arg(typed, error.m_strField);
}
