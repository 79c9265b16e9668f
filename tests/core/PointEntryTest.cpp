#include "geo/PointEntry.h"

#include "geo/CDataGeo.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>

TEST(PointEntry, TypedFieldsComposeOrAreRefusedNamingTheFieldToCorrect)
{
    // Two fields: decimal degrees, stored as typed times 3600; six: degrees, minutes, seconds, the sign
    // of the degrees (-0 too) for the whole value. Each row: the degrees stored, or the refusal and its field.
    const QString lies = QStringLiteral("A %1 lies from -%2 to %2 degrees. Please type a %1 in that range.");
    const QString sixty = QStringLiteral("\"%1\" is 60 or more. Please type a number below 60 for the %2.");
    const struct { const char* typed; double latitude, longitude; QString message = {}; int field = 0; } cases[] = {
        {"12.3456789012345 -99.6", 12.3456789012345, -99.6},
        {"-90 1e1", -90, 10},
        {"95 7", 0, 0, lies.arg(QStringLiteral("latitude"), QStringLiteral("90")), 0},
        {"45 -180.5", 0, 0, lies.arg(QStringLiteral("longitude"), QStringLiteral("180")), 1},
        {"-45 30 0 -0 0 30", -45.5, -30.0 / 3600},
        {"-0 30 0 10 59 59.99", -0.5, 10 + 59 / 60.0 + 59.99 / 3600},
        {"90 0 0.5 0 0 0", 0, 0, lies.arg(QStringLiteral("latitude"), QStringLiteral("90")), 0},
        {"10 60 0 0 0 0", 0, 0, sixty.arg(QStringLiteral("60"), QStringLiteral("latitude minutes")), 1},
        {"1 2 3 4 5 75", 0, 0, sixty.arg(QStringLiteral("75"), QStringLiteral("longitude seconds")), 5},
        {"0 -30 0 0 0 0", 0, 0, QStringLiteral("\"-30\" has a minus sign. Please type the sign with the degrees and a "
                                               "number from 0 to below 60 for the latitude minutes."), 1},
    };
    for (const auto& c : cases) {
        const QStringList f = QString::fromLatin1(c.typed).split(QLatin1Char(' '));
        EntryError error;
        const std::optional<ArcSeconds> stored =
            f.size() == 2 ? ComposeDecimal({f[0], f[1]}, &error) : ComposeDegMinSec({f[0], f[1], f[2], f[3], f[4], f[5]}, &error);
        EXPECT_EQ(stored ? std::pair(QString(), 0) : std::pair(EntryErrorText(error), error.m_nField), std::pair(c.message, c.field))
            << c.typed;
        EXPECT_NEAR(stored.value_or(ArcSeconds{}).m_dLatitude, c.latitude * 3600, f.size() == 2 ? 0.0 : 1e-9) << c.typed;
        EXPECT_NEAR(stored.value_or(ArcSeconds{}).m_dLongitude, c.longitude * 3600, f.size() == 2 ? 0.0 : 1e-9) << c.typed;
    }
    for (const char* bad : {"", "abc", "12abc", "4 5", "nan", "inf", "+-5", "45,5"})
        EXPECT_FALSE(ReadCoordinateField(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(PointEntry, FieldsThatAreNotNumbersAreNamed)
{
    EntryError error;
    EXPECT_FALSE(ComposeDecimal({QStringLiteral("45"), QStringLiteral("")}, &error));
    EXPECT_EQ(error.m_strField, QStringLiteral("longitude"));
    EXPECT_EQ(EntryErrorText(error), QStringLiteral("Please type a number for the longitude."));
    EXPECT_FALSE(ComposeDegMinSec({"1", "2", "3", "4", "five", "6"}, &error));
    EXPECT_EQ(error.m_strField, QStringLiteral("longitude minutes"));
    EXPECT_EQ(EntryErrorText(error), QStringLiteral("\"five\" is not a number. Please type a number for the longitude minutes."));
}

TEST(PointEntry, ReEditFieldsShowTheStoredValues)
{
    const CoordinateEntry decimal = FormatDecimal({45.123456789 * 3600, -7.5 * 3600});
    EXPECT_EQ(decimal.m_strLatitude, QStringLiteral("45.123456789"));
    EXPECT_EQ(decimal.m_strLongitude, QStringLiteral("-7.5"));

    const DegMinSecEntry dms = FormatDegMinSec({(45 + 30.0 / 60 + 15.25 / 3600) * 3600, -(10 + 5.0 / 60) * 3600});
    EXPECT_EQ((QStringList{dms.m_strLatDeg, dms.m_strLatMin, dms.m_strLatSec}), (QStringList{QStringLiteral("45"), QStringLiteral("30"), QStringLiteral("15.25")}));
    EXPECT_EQ((QStringList{dms.m_strLonDeg, dms.m_strLonMin, dms.m_strLonSec}), (QStringList{QStringLiteral("-10"), QStringLiteral("5"), QStringLiteral("0.00")}));
    const DegMinSecEntry small = FormatDegMinSec({-30.0, 0.0});
    EXPECT_EQ((QStringList{small.m_strLatDeg, small.m_strLatMin, small.m_strLatSec}), (QStringList{"-0", "0", "30.00"}));
}

TEST(PointEntry, ConfirmingAReEditUnchangedKeepsTheCoordinates)
{
    // Typed values are shown as typed and come back bit for bit, in both forms; -9.8303 is one
    // whose quotient by 3600 is not the typed number (-9.830299999999998).
    const double values[] = {0.0, 45.5, -45.5, -0.5, -0.0083, 0.0083, 12.3456789, -89.999, 89.99999, -9.8303};
    for (double latitude : values) {
        for (double longitude : {-0.25, 151.2093}) {
            const ArcSeconds point{latitude * 3600, longitude * 3600};
            const auto decimal = ComposeDecimal(FormatDecimal(point));
            ASSERT_TRUE(decimal);
            EXPECT_EQ(FormatDecimal(point).m_strLatitude, QString::number(latitude, 'g', 15));
            EXPECT_TRUE(decimal->m_dLatitude == point.m_dLatitude && decimal->m_dLongitude == point.m_dLongitude) << latitude;
            const auto dms = ComposeDegMinSec(FormatDegMinSec(point));
            ASSERT_TRUE(dms);
            EXPECT_TRUE(dms->m_dLatitude == point.m_dLatitude && dms->m_dLongitude == point.m_dLongitude) << latitude;
        }
    }
}

TEST(PointEntry, ControlPointsConvertBetweenDegreesArcSecondsAndPixels)
{
    // Degrees times 3600 are the stored arc-seconds; a pixel's row counts from the top edge, the
    // stored y from the bottom edge. Values hand-worked and exact in binary.
    const struct { double latitude, longitude, column, row, width, height, latSeconds, lonSeconds, x, y; } cases[] = {
        {52.5, -1.25, 100, 50, 400, 200, 189000, -4500, 0.25, 0.75},
        {-90, 180, 0, 0, 640, 480, -324000, 648000, 0, 1},
        {0.5, -0.125, 640, 480, 640, 480, 1800, -450, 1, 0},
    };
    for (const auto& c : cases) {
        const CDataGeo point = CDataGeo::FromPixel(c.latitude, c.longitude, c.column, c.row, c.width, c.height);
        EXPECT_EQ(point, (CDataGeo{c.latSeconds, c.lonSeconds, c.x, c.y})) << c.latitude;
        EXPECT_EQ(CDataGeo::FromDegrees(c.latitude, c.longitude, c.x, c.y), point) << c.latitude;
        EXPECT_EQ(std::pair(point.LatitudeDegrees(), point.LongitudeDegrees()), std::pair(c.latitude, c.longitude));
        EXPECT_EQ(std::pair(point.PixelColumn(c.width), point.PixelRow(c.height)), std::pair(c.column, c.row));
    }
}
