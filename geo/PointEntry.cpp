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
    const double c = arcSeconds / kArcSecondsPerDegree;
    const int s = c < 0 ? -1 : 1;
    const int degrees = static_cast<int>(c);
    const int minutes = static_cast<int>(s * (c - degrees) * 60);
    const double seconds = s * (arcSeconds - kArcSecondsPerDegree * degrees - 60.0 * s * minutes);
    if (s < 0 && degrees == 0) {
        // "-0" would read back as a positive degree field: the sign goes to minutes and seconds.
        return {QStringLiteral("0"), QString::number(-minutes), QString::asprintf("%2.2f", -seconds)};
    }
    return {QString::number(degrees), QString::number(minutes), QString::asprintf("%2.2f", seconds)};
}

std::optional<double> ComposeOne(const QString& degreesField, const QString& minutesField,
                                 const QString& secondsField, const QString& name, EntryError* error)
{
    const std::optional<float> degrees = ReadCoordinateField(degreesField);
    const std::optional<float> minutes = ReadCoordinateField(minutesField);
    const std::optional<float> seconds = ReadCoordinateField(secondsField);
    const struct {
        const std::optional<float>& value;
        const QString& text;
        const char* part;
    } fields[] = {{degrees, degreesField, "degrees"}, {minutes, minutesField, "minutes"}, {seconds, secondsField, "seconds"}};
    for (const auto& field : fields) {
        if (!field.value) {
            if (error)
                *error = {name + QLatin1Char(' ') + QLatin1String(field.part), field.text};
            return std::nullopt;
        }
    }
    const double s = *degrees < 0 ? -1.0 : 1.0;
    return (double(*degrees) * 60 + s * double(*minutes)) * 60 + s * double(*seconds);
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
            *error = {QStringLiteral("latitude"), entry.m_strLatitude};
        return std::nullopt;
    }
    const std::optional<float> longitude = ReadCoordinateField(entry.m_strLongitude);
    if (!longitude) {
        if (error)
            *error = {QStringLiteral("longitude"), entry.m_strLongitude};
        return std::nullopt;
    }
    return ArcSeconds{double(*latitude) * kArcSecondsPerDegree, double(*longitude) * kArcSecondsPerDegree};
}

std::optional<ArcSeconds> ComposeDegMinSec(const DegMinSecEntry& entry, EntryError* error)
{
    const std::optional<double> latitude =
        ComposeOne(entry.m_strLatDeg, entry.m_strLatMin, entry.m_strLatSec, QStringLiteral("latitude"), error);
    if (!latitude)
        return std::nullopt;
    const std::optional<double> longitude =
        ComposeOne(entry.m_strLonDeg, entry.m_strLonMin, entry.m_strLonSec, QStringLiteral("longitude"), error);
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
    return typed.isEmpty()
               ? QStringLiteral("Please type a number for the %1.").arg(error.m_strField)
               : QStringLiteral("\"%1\" is not a number. Please type a number for the %2.").arg(typed, error.m_strField);
}
