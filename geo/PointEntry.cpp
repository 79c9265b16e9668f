#include "geo/PointEntry.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kArcSecondsPerDegree = 3600.0;

/// One coordinate's three fields as whole degrees, whole minutes and seconds.
struct DmsFields {
    QString m_strDegrees;
    QString m_strMinutes;
    QString m_strSeconds;
};

DmsFields FormatOne(double arcSeconds)
{
    // A point read from a damaged file may hold anything: the whole degrees stay in the int range.
    constexpr double kLimit = 1e9 * kArcSecondsPerDegree;
    arcSeconds = arcSeconds == arcSeconds ? std::clamp(arcSeconds, -kLimit, kLimit) : 0.0;
    // Split in arc-seconds, where whole degrees and minutes are exact, so that the minutes and
    // seconds shown are below 60 and read back as they are.
    const double total = std::fabs(arcSeconds);
    double degrees = std::floor(total / kArcSecondsPerDegree);
    double rest = total - kArcSecondsPerDegree * degrees;
    if (rest < 0) {
        degrees -= 1;
        rest += kArcSecondsPerDegree;
    }
    double minutes = std::floor(rest / 60);
    double seconds = rest - 60 * minutes;
    if (seconds < 0) {
        minutes -= 1;
        seconds += 60;
    }
    QString secondsText = QString::asprintf("%2.2f", seconds);
    if (secondsText.startsWith(QLatin1String("60"))) {
        // Rounded up to a whole minute: shown as that minute.
        secondsText = QStringLiteral("0.00");
        if (++minutes >= 60) {
            minutes = 0;
            degrees += 1;
        }
    }
    // The sign goes with the degrees, "-0" too: it belongs to the whole value.
    const QString sign = arcSeconds < 0 ? QStringLiteral("-") : QString();
    return {sign + QString::number(static_cast<qint64>(degrees)), QString::number(static_cast<int>(minutes)), secondsText};
}

std::optional<double> ComposeOne(const QString& degreesField, const QString& minutesField,
                                 const QString& secondsField, const QString& name, int firstField, EntryError* error)
{
    const std::optional<float> degrees = ReadCoordinateField(degreesField);
    const std::optional<float> minutes = ReadCoordinateField(minutesField);
    const std::optional<float> seconds = ReadCoordinateField(secondsField);
    const struct {
        const std::optional<float>& value;
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
    const double magnitude = (std::fabs(double(*degrees)) * 60 + double(*minutes)) * 60 + double(*seconds);
    return std::signbit(*degrees) ? -magnitude : magnitude;
}

} // namespace

std::optional<float> ReadCoordinateField(const QString& field)
{
    const QByteArray text = field.trimmed().toLatin1();
    if (text.isEmpty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text.constData(), &end);
    if (end != text.constData() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<ArcSeconds> ComposeDecimal(const CoordinateEntry& entry, EntryError* error)
{
    const std::optional<float> latitude = ReadCoordinateField(entry.m_strLatitude);
    if (!latitude) {
        if (error)
            *error = {QStringLiteral("latitude"), entry.m_strLatitude, EntryError::Problem::NotANumber, 0};
        return std::nullopt;
    }
    const std::optional<float> longitude = ReadCoordinateField(entry.m_strLongitude);
    if (!longitude) {
        if (error)
            *error = {QStringLiteral("longitude"), entry.m_strLongitude, EntryError::Problem::NotANumber, 1};
        return std::nullopt;
    }
    return ArcSeconds{double(*latitude) * kArcSecondsPerDegree, double(*longitude) * kArcSecondsPerDegree};
}

std::optional<ArcSeconds> ComposeDegMinSec(const DegMinSecEntry& entry, EntryError* error)
{
    const std::optional<double> latitude =
        ComposeOne(entry.m_strLatDeg, entry.m_strLatMin, entry.m_strLatSec, QStringLiteral("latitude"), 0, error);
    if (!latitude)
        return std::nullopt;
    const std::optional<double> longitude =
        ComposeOne(entry.m_strLonDeg, entry.m_strLonMin, entry.m_strLonSec, QStringLiteral("longitude"), 3, error);
    if (!longitude)
        return std::nullopt;
    return ArcSeconds{*latitude, *longitude};
}

CoordinateEntry FormatDecimal(const ArcSeconds& point)
{
    return {QString::asprintf("%3.5f", point.m_dLatitude / kArcSecondsPerDegree),
            QString::asprintf("%3.5f", point.m_dLongitude / kArcSecondsPerDegree)};
}

DegMinSecEntry FormatDegMinSec(const ArcSeconds& point)
{
    const DmsFields latitude = FormatOne(point.m_dLatitude);
    const DmsFields longitude = FormatOne(point.m_dLongitude);
    return {latitude.m_strDegrees,  latitude.m_strMinutes,  latitude.m_strSeconds,
            longitude.m_strDegrees, longitude.m_strMinutes, longitude.m_strSeconds};
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
    case EntryError::Problem::NotANumber:
        break;
    }
    return typed.isEmpty()
               ? QStringLiteral("Please type a number for the %1.").arg(error.m_strField)
               : QStringLiteral("\"%1\" is not a number. Please type a number for the %2.").arg(typed, error.m_strField);
}
