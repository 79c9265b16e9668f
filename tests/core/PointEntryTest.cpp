#include "geo/PointEntry.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>

TEST(PointEntry, FieldsReadAsSinglePrecisionNumbers)
{
    EXPECT_EQ(ReadCoordinateField(QStringLiteral(" 45.5 ")), 45.5f);
    EXPECT_EQ(ReadCoordinateField(QStringLiteral("-0")), -0.0f);
    EXPECT_EQ(ReadCoordinateField(QStringLiteral("1e2")), 100.0f);
    for (const char* bad : {"", "  ", "abc", "12abc", "4 5", "nan", "inf", "1e99"})
        EXPECT_FALSE(ReadCoordinateField(QString::fromLatin1(bad)).has_value()) << bad;

    // More digits than single precision holds: stored as the nearest float times 3600.
    const auto stored = ComposeDecimal({QStringLiteral("12.3456789012"), QStringLiteral("-98.7654321098")});
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->m_dLatitude, double(12.3456789012f) * 3600.0);
    EXPECT_EQ(stored->m_dLongitude, double(-98.7654321098f) * 3600.0);
    EXPECT_NE(stored->m_dLatitude, 12.3456789012 * 3600.0);
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
    EXPECT_EQ(decimal.m_strLatitude, QStringLiteral("45.12346"));
    EXPECT_EQ(decimal.m_strLongitude, QStringLiteral("-7.50000"));

    const DegMinSecEntry dms = FormatDegMinSec({(45 + 30.0 / 60 + 15.25 / 3600) * 3600, -(10 + 5.0 / 60) * 3600});
    EXPECT_EQ((QStringList{dms.m_strLatDeg, dms.m_strLatMin, dms.m_strLatSec}), (QStringList{QStringLiteral("45"), QStringLiteral("30"), QStringLiteral("15.25")}));
    EXPECT_EQ((QStringList{dms.m_strLonDeg, dms.m_strLonMin, dms.m_strLonSec}), (QStringList{QStringLiteral("-10"), QStringLiteral("5"), QStringLiteral("0.00")}));
    const DegMinSecEntry small = FormatDegMinSec({-30.0, 10 * 3600 + 5 * 60.0});
    EXPECT_EQ((QStringList{small.m_strLatDeg, small.m_strLatMin, small.m_strLatSec}), (QStringList{QStringLiteral("-0"), QStringLiteral("0"), QStringLiteral("30.00")}));
    EXPECT_EQ((QStringList{small.m_strLonDeg, small.m_strLonMin, small.m_strLonSec}), (QStringList{QStringLiteral("10"), QStringLiteral("5"), QStringLiteral("0.00")}));
}

TEST(PointEntry, ConfirmingAReEditUnchangedKeepsTheCoordinates)
{
    // Decimal fields show five decimals: a change of at most half a unit in the fifth decimal.
    // Degree fields show hundredths of a second.
    const double values[] = {0.0, 45.5, -45.5, -0.5, -0.0083, 0.0083, 12.3456789, -179.999, 89.99999, -0.99999};
    for (double latitude : values) {
        for (double longitude : {-0.25, 151.2093}) {
            const ArcSeconds point{latitude * 3600, longitude * 3600};
            const auto decimal = ComposeDecimal(FormatDecimal(point));
            ASSERT_TRUE(decimal);
            // Half a unit of the fifth decimal, and the single precision of the typed number.
            const auto tolerance = [](double degrees) { return 0.5e-5 * 3600 + std::abs(degrees) * 6e-8 * 3600 + 1e-3; };
            EXPECT_NEAR(decimal->m_dLatitude, point.m_dLatitude, tolerance(latitude)) << latitude;
            EXPECT_NEAR(decimal->m_dLongitude, point.m_dLongitude, tolerance(longitude)) << longitude;
            const auto dms = ComposeDegMinSec(FormatDegMinSec(point));
            ASSERT_TRUE(dms);
            EXPECT_NEAR(dms->m_dLatitude, point.m_dLatitude, 0.005 + 1e-3) << latitude;
            EXPECT_NEAR(dms->m_dLongitude, point.m_dLongitude, 0.005 + 1e-3) << longitude;
        }
    }
}
