#pragma once
// Typed control-point coordinates: reading the coordinate dialogs' fields into arc-seconds, and
// writing a point's coordinates back into the fields for re-editing.

#include "platform/DialogData.h"

#include <QString>

#include <optional>

/// A field read as the dialogs' numbers are read: a decimal number in double precision, with a
/// point for the decimals whatever the locale, the whole field (surrounding spaces and a leading
/// "+" aside) being the number. Nothing for an empty field, other text, or a number beyond the
/// range of doubles.
std::optional<double> ReadCoordinateField(const QString& field);

/// Latitude and longitude in arc-seconds (degrees x 3600, north and east positive).
struct ArcSeconds {
    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
};

/// Why typed coordinates were refused, and which field the user is to correct.
struct EntryError {
    enum class Problem {
        NotANumber,  ///< empty, or text that is no number
        Negative,    ///< minutes or seconds with a minus sign: the sign goes with the degrees
        SixtyOrMore, ///< minutes or seconds of 60 or more
        OutOfRange,  ///< a latitude beyond 90 degrees or a longitude beyond 180
    };
    QString m_strField; ///< "latitude", "longitude degrees", ... ("latitude" or "longitude" when out of range)
    QString m_strText;  ///< what was typed
    Problem m_eProblem = Problem::NotANumber;
    /// The field's place in its dialog record: 0 latitude, 1 longitude in decimal degrees; 0 to 5
    /// latitude degrees, minutes, seconds, longitude degrees, minutes, seconds.
    int m_nField = 0;
};

/// Decimal degrees to arc-seconds: each field read in double precision, times 3600. A latitude
/// beyond 90 degrees or a longitude beyond 180 either way is refused.
std::optional<ArcSeconds> ComposeDecimal(const CoordinateEntry& entry, EntryError* error = nullptr);
/// Degrees, minutes and seconds to arc-seconds. The sign typed with the degrees belongs to the
/// whole value, "-0" included: -((|degrees| * 60 + minutes) * 60 + seconds). Minutes and seconds
/// are typed without a sign and below 60. Refused beyond 90 and 180 degrees as above.
std::optional<ArcSeconds> ComposeDegMinSec(const DegMinSecEntry& entry, EntryError* error = nullptr);

/// The fields a re-edit starts from: each coordinate in degrees with the fewest decimals that
/// compose back to the stored value (the text typed, for a value that was typed).
CoordinateEntry FormatDecimal(const ArcSeconds& point);
/// The fields a re-edit starts from: whole degrees carrying the sign ("-0" between 0 and -1
/// degree), whole minutes, and seconds with two decimals or as many more as compose back to the
/// stored value.
DegMinSecEntry FormatDegMinSec(const ArcSeconds& point);

/// The degrees a coordinate of arcSeconds was typed as: the decimal number of FormatDecimal, for
/// exchange files that should carry what the user typed rather than the quotient's last digits.
double TypedDegrees(double arcSeconds);

/// The message shown for coordinates that were refused.
QString EntryErrorText(const EntryError& error);
