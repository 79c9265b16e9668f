#pragma once
// Typed control-point coordinates: reading the coordinate dialogs' fields into arc-seconds, and
// writing a point's coordinates back into the fields for re-editing.

#include "platform/DialogData.h"

#include <QString>

#include <optional>

/// A field read as the dialogs' numbers are read: a single-precision number, the whole field
/// (surrounding spaces aside) being the number. Nothing for an empty field or other text.
std::optional<float> ReadCoordinateField(const QString& field);

/// Latitude and longitude in arc-seconds (degrees x 3600, north and east positive).
struct ArcSeconds {
    double m_dLatitude = 0.0;
    double m_dLongitude = 0.0;
};

/// Why typed coordinates were refused: the field that is not a number.
struct EntryError {
    QString m_strField; ///< "latitude", "longitude degrees", ...
    QString m_strText;  ///< what was typed
};

/// Decimal degrees to arc-seconds: each field read in single precision, times 3600.
std::optional<ArcSeconds> ComposeDecimal(const CoordinateEntry& entry, EntryError* error = nullptr);
/// Degrees, minutes and seconds to arc-seconds. Minutes and seconds take the sign of the degree
/// field's value: (degrees * 60 + s * minutes) * 60 + s * seconds, s = -1 for negative degrees.
std::optional<ArcSeconds> ComposeDegMinSec(const DegMinSecEntry& entry, EntryError* error = nullptr);

/// The fields a re-edit starts from: degrees with five decimals.
CoordinateEntry FormatDecimal(const ArcSeconds& point);
/// The fields a re-edit starts from: whole degrees, whole minutes, seconds with two decimals.
/// Between 0 and -1 degree the degree field shows 0 and the minutes and seconds carry the minus
/// sign, so that confirming the fields unchanged gives the same (southern or western) value.
DegMinSecEntry FormatDegMinSec(const ArcSeconds& point);

/// The message shown for coordinates that are not numbers.
QString EntryErrorText(const EntryError& error);
