#include "geo/PointEntry.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>

TEST(PointEntry, DecimalDegreesKeepWhatWasTypedWithinTheGlobe)
{
    // Stored as the typed number (the double nearest the text) times 3600; refused: no number,
    // or beyond the poles or the antimeridian.
    const struct {
        const char* latitude;
        const char* longitude;
        double stored[2]; // degrees; NaN where refused
        const char* message;
        int field;
    } cases[] = {
        {" 45.5 ", "+7.25", {45.5, 7.25}, nullptr, 0},
        {"12.3456789012345", "-99.6", {12.3456789012345, -99.6}, nullptr, 0},
        {"-90", "180", {-90, 180}, nullptr, 0},
        {"1e1", "-180", {10, -180}, nullptr, 0},
        {"95", "7", {NAN, NAN}, "A latitude lies from -90 to 90 degrees. Please type a latitude in that range.", 0},
        {"45", "-180.5", {NAN, NAN}, "A longitude lies from -180 to 180 degrees. Please type a longitude in that range.", 1},
        {"45", "1e999", {NAN, NAN}, "\"1e999\" is not a number. Please type a number for the longitude.", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.latitude) + " " + c.longitude);
        EntryError error;
        const auto stored = ComposeDecimal({QString::fromLatin1(c.latitude), QString::fromLatin1(c.longitude)}, &error);
        if (std::isnan(c.stored[0])) {
            ASSERT_FALSE(stored);
            EXPECT_EQ(EntryErrorText(error), QString::fromLatin1(c.message));
            EXPECT_EQ(error.m_nField, c.field);
            continue;
        }
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->m_dLatitude, c.stored[0] * 3600);
        EXPECT_EQ(stored->m_dLongitude, c.stored[1] * 3600);
    }
    for (const char* bad : {"", "  ", "abc", "12abc", "4 5", "nan", "inf", "+-5", "45,5"})
        EXPECT_FALSE(ReadCoordinateField(QString::fromLatin1(bad)).has_value()) << bad;
    EXPECT_TRUE(std::signbit(*ReadCoordinateField(QStringLiteral("-0"))));
    // Degrees, minutes and seconds beyond the globe too.
    EntryError error;
    EXPECT_FALSE(ComposeDegMinSec({"90", "0", "0.5", "0", "0", "0"}, &error));
    EXPECT_EQ(error.m_nField, 0);
}

TEST(PointEntry, DegreesMinutesSecondsCarryOneSignAndStayBelowSixty)
{
    const struct {
        const char* deg;
        const char* min;
        const char* sec;
        double degrees; // NaN: refused with message, naming field
        const char* message;
        int field;
    } cases[] = {
        {"-45", "30", "0", -45.5, nullptr, 0},
        {"45", "30", "0", 45.5, nullptr, 0},
        {"-0", "30", "0", -0.5, nullptr, 0}, // the sign belongs to the whole value
        {"-0", "0", "30", -30.0 / 3600, nullptr, 0},
        {"10", "0", "36", 10.01, nullptr, 0},
        {"-10", "15", "36", -10.26, nullptr, 0},
        {"10", "59", "59.99", 10 + 59 / 60.0 + 59.99 / 3600, nullptr, 0},
        {"10", "60", "0", NAN, "\"60\" is 60 or more. Please type a number below 60 for the latitude minutes.", 1},
        {"10", "0", "60", NAN, "\"60\" is 60 or more. Please type a number below 60 for the latitude seconds.", 2},
        {"0", "-30", "0", NAN, "\"-30\" has a minus sign. Please type the sign with the degrees and a number from 0 to "
                                "below 60 for the latitude minutes.", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.deg) + " " + c.min + " " + c.sec);
        const DegMinSecEntry entry{QString::fromLatin1(c.deg), QString::fromLatin1(c.min), QString::fromLatin1(c.sec),
                                   QStringLiteral("7"), QStringLiteral("0"), QStringLiteral("0")};
        EntryError error;
        const auto stored = ComposeDegMinSec(entry, &error);
        if (std::isnan(c.degrees)) {
            ASSERT_FALSE(stored);
            EXPECT_EQ(EntryErrorText(error), QString::fromLatin1(c.message));
            EXPECT_EQ(error.m_nField, c.field);
            continue;
        }
        ASSERT_TRUE(stored);
        EXPECT_NEAR(stored->m_dLatitude, c.degrees * 3600, 1e-3);
        EXPECT_EQ(stored->m_dLongitude, 7 * 3600.0);
    }
    // The longitude's fields count from 3.
    EntryError error;
    EXPECT_FALSE(ComposeDegMinSec({"1", "2", "3", "4", "5", "75"}, &error));
    EXPECT_EQ(error.m_nField, 5);
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
    const DegMinSecEntry small = FormatDegMinSec({-30.0, 10 * 3600 + 5 * 60.0});
    EXPECT_EQ((QStringList{small.m_strLatDeg, small.m_strLatMin, small.m_strLatSec}), (QStringList{QStringLiteral("-0"), QStringLiteral("0"), QStringLiteral("30.00")}));
    EXPECT_EQ((QStringList{small.m_strLonDeg, small.m_strLonMin, small.m_strLonSec}), (QStringList{QStringLiteral("10"), QStringLiteral("5"), QStringLiteral("0.00")}));
}

TEST(PointEntry, ConfirmingAReEditUnchangedKeepsTheCoordinatesExactly)
{
    // Typed values come back as typed, in both forms and bit for bit; -9.8303 is one whose
    // quotient by 3600 is not the typed number (-9.830299999999998).
    const char* typed[] = {"0", "45.5", "-45.5", "-0.5", "-0.0083", "12.3456789", "-179.999", "89.99999", "-9.8303", "151.2093"};
    for (const char* latitude : {"-9.8303", "0.1", "-33.57"}) {
        for (const char* longitude : typed) {
            SCOPED_TRACE(std::string(latitude) + " " + longitude);
            const auto point = ComposeDecimal({QString::fromLatin1(latitude), QString::fromLatin1(longitude)});
            ASSERT_TRUE(point);
            const CoordinateEntry shown = FormatDecimal(*point);
            EXPECT_EQ(shown.m_strLongitude, QString::fromLatin1(longitude));
            EXPECT_EQ(TypedDegrees(point->m_dLongitude), std::stod(longitude));
            const auto decimal = ComposeDecimal(shown);
            const auto dms = ComposeDegMinSec(FormatDegMinSec(*point));
            ASSERT_TRUE(decimal && dms);
            EXPECT_EQ(decimal->m_dLatitude, point->m_dLatitude);
            EXPECT_EQ(decimal->m_dLongitude, point->m_dLongitude);
            EXPECT_EQ(dms->m_dLatitude, point->m_dLatitude);
            EXPECT_EQ(dms->m_dLongitude, point->m_dLongitude);
        }
    }
}
