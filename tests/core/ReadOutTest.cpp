#include "view/core/ReadOut.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ReadOut, SplitDegreesCarriesSixtySeconds)
{
    const struct {
        double degrees;
        int d, m;
        double s;
    } cases[] = {
        {33.5, 33, 30, 0.0},
        {0.0, 0, 0, 0.0},
        {10.25, 10, 15, 0.0},
        {1.0 / 3600.0, 0, 0, 1.0},
        {45.0 + 59.0 / 60 + 59.5 / 3600, 45, 59, 59.5},
    };
    for (const auto& c : cases) {
        const DegMinSec split = SplitDegrees(c.degrees);
        EXPECT_EQ(split.m_nDegrees, c.d) << c.degrees;
        EXPECT_EQ(split.m_nMinutes, c.m) << c.degrees;
        EXPECT_NEAR(split.m_dSeconds, c.s, 1e-6) << c.degrees;
    }
    // Values just below a whole minute or degree: the floating-point steps give seconds of 60
    // or more, which must carry.
    for (double v : {0.9999999999999999, 12.999999999999998, 7.0 - 1e-15, 2.0 + 30.0 / 60 - 1e-14}) {
        const DegMinSec split = SplitDegrees(v);
        EXPECT_LT(split.m_dSeconds, 60.0) << v;
        EXPECT_GE(split.m_dSeconds, 0.0 - 1e-9) << v;
        EXPECT_NEAR(split.m_nDegrees + split.m_nMinutes / 60.0 + split.m_dSeconds / 3600.0, v, 1e-9) << v;
        EXPECT_LT(split.m_nMinutes, 60) << v;
    }
}

TEST(ReadOut, DistancesAreMeasuredOnTheWgs84Ellipsoid)
{
    // Hand values: an equator arc is a * radians; a meridian degree centred at latitude p, 111132.954 -
    // 559.822 cos 2p + 1.175 cos 4p m (WGS 84, to 5 mm); the quarter meridian, 10001965.729 m. No sphere fits all.
    const struct { double lat1, lon1, lat2, lon2, metres, tolerance; } cases[] = {
        {0, 0, 0, 1, 6378137.0 * 3.14159265358979323846 / 180, 1e-6},
        {-0.5, 0, 0.5, 0, 111132.954 - 559.822 + 1.175, 0.01},
        {44.5, 7, 45.5, 7, 111132.954 - 1.175, 0.01},
        {0, 0, 90, 0, 10001965.729, 1e-3},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(GreatCircleDistance(c.lat1, c.lon1, c.lat2, c.lon2), c.metres, c.tolerance) << c.lat1 << " " << c.lat2;
    EXPECT_DOUBLE_EQ(GreatCircleDistance(10, 20, 10, 20), 0.0);
    EXPECT_DOUBLE_EQ(GreatCircleDistance(10, 20, 11, 21), GreatCircleDistance(11, 21, 10, 20));
}

TEST(ReadOut, PaneTexts)
{
    EXPECT_EQ(PixelText(12, -3), QStringLiteral("(12, -3)"));
    EXPECT_EQ(DecimalDegreesText({-33.5, 151.25}), QStringLiteral("(151.25000, -33.50000)"));
    EXPECT_EQ(DegMinSecText({-33.5, 0.0}), QStringLiteral("( 0-00-0.0 E, 33-30-0.0 S )"));
    EXPECT_EQ(DegMinSecText({45.5125, -77.05}), QStringLiteral("( 77-03-0.0 W, 45-30-45.0 N )"));
    // Seconds that would show as 60.0 carry into the minutes, and on into the degrees.
    EXPECT_EQ(DegMinSecText({10.0 + 59.0 / 60 + 59.97 / 3600, 3.0 + 12.0 / 60 + 59.99 / 3600}),
              QStringLiteral("( 3-13-0.0 E, 11-00-0.0 N )"));
}

TEST(ReadOut, DistancesSwitchUnitsAtAMileAndAKilometre)
{
    const double feet = 0.3048;
    const struct {
        double metres;
        double factor;
        const char* text;
    } cases[] = {
        {100.0, feet, "d = 328.084 Ft"},
        {1608.99, feet, "d = 5278.839 Ft"},
        {1609.0, feet, "d = 1.00000 Miles"},
        {3218.0, feet, "d = 2.00000 Miles"},
        {999.9, 1.0, "d = 999.900 m"},
        {1000.0, 1.0, "d = 1.00000 KMs"},
        {111325.0, 1.0, "d = 111.32500 KMs"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DistanceText(c.metres, c.factor), QString::fromLatin1(c.text)) << c.metres;
    const double degree = GreatCircleDistance(0, 0, 0, 1);
    EXPECT_EQ(DistanceText(degree, feet), QString::asprintf("d = %3.5f Miles", degree / 1609));
    EXPECT_EQ(DistanceText(degree, 1.0), QString::asprintf("d = %3.5f KMs", degree / 1000));
}
