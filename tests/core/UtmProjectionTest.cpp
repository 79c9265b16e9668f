// The UTM projection handle: ellipsoid by datum code, the argument list handed to PROJ, the
// cases PROJ must reject, and the inverse projection checked against PROJ's EPSG definitions.

#include "geo/UtmProjection.h"

#include "ProjReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

} // namespace

TEST(UtmProjection, EllipsoidByDatumCode)
{
    const struct {
        int datum;
        const char* ellipsoid;
    } cases[] = {
        {0, "WGS84"}, {1, "clrk66"}, {2, ""}, {3, ""},  {4, ""},  {5, "WGS72"},
        {6, "WGS84"}, {7, ""},       {-1, ""}, {99, ""}, {1000, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datum);
        const char* name = EllipsoidForDatum(c.datum);
        ASSERT_NE(name, nullptr); // "no ellipsoid" is an empty name, never the WGS84 default of null
        EXPECT_STREQ(name, c.ellipsoid);
    }
}

TEST(UtmProjection, ArgumentListAndOutcome)
{
    const struct {
        const char* name;
        const char* ellipsoid; // nullptr: no name given
        int zone;
        bool south;
        Arguments arguments;
        bool accepted;
    } cases[] = {
        {"datum 0", EllipsoidForDatum(0), 33, false, {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, true},
        {"datum 1", EllipsoidForDatum(1), 33, false, {"proj=utm", "zone=33", "ellps=clrk66", "units=m"}, true},
        {"datum 3", EllipsoidForDatum(3), 33, false, {"proj=utm", "zone=33", "ellps=", "units=m"}, false},
        {"datum 5", EllipsoidForDatum(5), 33, false, {"proj=utm", "zone=33", "ellps=WGS72", "units=m"}, true},
        {"no name", nullptr, 7, false, {"proj=utm", "zone=7", "ellps=WGS84", "units=m"}, true},
        {"south", EllipsoidForDatum(0), 33, true, {"proj=utm", "zone=33", "ellps=WGS84", "units=m", "south"}, true},
        {"south, no ellipsoid", "", 33, true, {"proj=utm", "zone=33", "ellps=", "units=m", "south"}, false},
        {"unknown ellipsoid", "bogus", 33, false, {"proj=utm", "zone=33", "ellps=bogus", "units=m"}, false},
        {"zone 0", "WGS84", 0, false, {"proj=utm", "zone=0", "ellps=WGS84", "units=m"}, false},
        {"zone 1", "WGS84", 1, false, {"proj=utm", "zone=1", "ellps=WGS84", "units=m"}, true},
        {"zone 60", "WGS84", 60, false, {"proj=utm", "zone=60", "ellps=WGS84", "units=m"}, true},
        {"zone 61", "WGS84", 61, false, {"proj=utm", "zone=61", "ellps=WGS84", "units=m"}, false},
        {"zone -5", "WGS84", -5, false, {"proj=utm", "zone=-5", "ellps=WGS84", "units=m"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UtmProjection handle;
        EXPECT_EQ(InitUtmProjection(handle, c.ellipsoid, c.zone, c.south), c.accepted);
        EXPECT_EQ(handle.IsNull(), !c.accepted);
        EXPECT_EQ(static_cast<bool>(handle), c.accepted);
        EXPECT_EQ(handle.Arguments(), c.arguments);
    }
}

TEST(UtmProjection, LongNamesAreCutToTheArgumentBuffer)
{
    // 24 characters with the terminating zero: "ellps=" and at most 17 more.
    UtmProjection handle;
    EXPECT_FALSE(InitUtmProjection(handle, "an-ellipsoid-name-far-too-long-for-the-buffer", 33));
    ASSERT_EQ(handle.Arguments().size(), 4u);
    EXPECT_EQ(handle.Arguments()[2], "ellps=an-ellipsoid-name");
    EXPECT_EQ(handle.Arguments()[2].size(), 23u);

    // The widest zone number still fits whole.
    EXPECT_FALSE(InitUtmProjection(handle, "WGS84", -2147483647 - 1));
    EXPECT_EQ(handle.Arguments()[1], "zone=-2147483648");
}

TEST(UtmProjection, RejectedArgumentsPrintNothing)
{
    // PROJ logs errors to stderr by default; the view's set-up must stay silent.
    testing::internal::CaptureStderr();
    UtmProjection handle;
    const bool unknown = InitUtmProjection(handle, "bogus", 33);
    const bool empty = InitUtmProjection(handle, "", 33);
    const bool zone0 = InitUtmProjection(handle, "WGS84", 0);
    const bool zone61 = InitUtmProjection(handle, "WGS84", 61);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(unknown);
    EXPECT_FALSE(empty);
    EXPECT_FALSE(zone0);
    EXPECT_FALSE(zone61);
    EXPECT_EQ(printed, "");
}

TEST(UtmProjection, SetUpFreesThePreviousProjection)
{
    UtmProjection handle;
    ASSERT_TRUE(InitUtmProjection(handle, "WGS84", 33));
    // A failed set-up leaves nothing of the earlier projection to convert with.
    EXPECT_FALSE(InitUtmProjection(handle, "", 33));
    EXPECT_TRUE(handle.IsNull());
    double latitude = 1.5, longitude = 2.5;
    EXPECT_FALSE(UtmToGeographic(handle, 500000.0, 4000000.0, latitude, longitude));
    EXPECT_EQ(latitude, 1.5);
    EXPECT_EQ(longitude, 2.5);

    // A new set-up replaces the zone: the central meridian moves from 15 E to 9 W.
    ASSERT_TRUE(InitUtmProjection(handle, "WGS84", 33));
    ASSERT_TRUE(InitUtmProjection(handle, "WGS84", 29));
    ASSERT_TRUE(UtmToGeographic(handle, 500000.0, 4000000.0, latitude, longitude));
    EXPECT_NEAR(longitude, -9.0, 1e-9);
}

TEST(UtmProjection, InverseMatchesPROJsEpsgDefinitions)
{
    // Our handle is built from a bare argument list; the expectations come from the EPSG
    // definitions of the same zone, hemisphere and ellipsoid, transformed to their own
    // geographic system (same datum, so nothing but the inverse projection).
    const struct {
        const char* name;
        const char* ellipsoid;
        int zone;
        bool south;
        const char* projectedCrs;
        const char* geographicCrs;
    } cases[] = {
        {"WGS 84 / UTM 33N", "WGS84", 33, false, "EPSG:32633", "EPSG:4326"},
        {"WGS 84 / UTM 33S", "WGS84", 33, true, "EPSG:32733", "EPSG:4326"},
        {"NAD27 / UTM 18N (Clarke 1866)", "clrk66", 18, false, "EPSG:26718", "EPSG:4267"},
        {"WGS 72 / UTM 33N", "WGS72", 33, false, "EPSG:32233", "EPSG:4322"},
        {"WGS 84 / UTM 1N", "WGS84", 1, false, "EPSG:32601", "EPSG:4326"},
        {"WGS 84 / UTM 60N", "WGS84", 60, false, "EPSG:32660", "EPSG:4326"},
    };
    const double points[][2] = {
        {500000.0, 0.0}, {500000.0, 6000000.0}, {166021.0, 1000000.0}, {833979.0, 5540000.0}, {312345.6, 8123456.7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UtmProjection handle;
        ASSERT_TRUE(InitUtmProjection(handle, c.ellipsoid, c.zone, c.south));
        for (const auto& p : points) {
            SCOPED_TRACE(testing::Message() << "E " << p[0] << " N " << p[1]);
            const LatLon expected = ReferenceInverse(c.projectedCrs, c.geographicCrs, p[0], p[1]);
            double latitude = 0.0, longitude = 0.0;
            ASSERT_TRUE(UtmToGeographic(handle, p[0], p[1], latitude, longitude));
            EXPECT_NEAR(latitude, expected.m_dLatitude, 1e-8);
            EXPECT_NEAR(longitude, expected.m_dLongitude, 1e-8);
        }
    }
}

TEST(UtmProjection, SouthernZoneGivesSouthernLatitudes)
{
    UtmProjection handle;
    ASSERT_TRUE(InitUtmProjection(handle, "WGS84", 33, true));
    double latitude = 0.0, longitude = 0.0;
    ASSERT_TRUE(UtmToGeographic(handle, 500000.0, 6000000.0, latitude, longitude));
    const LatLon expected = ReferenceInverse("EPSG:32733", "EPSG:4326", 500000.0, 6000000.0);
    EXPECT_LT(latitude, -36.0);
    EXPECT_GT(latitude, -36.3);
    EXPECT_NEAR(latitude, expected.m_dLatitude, 1e-8);
    EXPECT_NEAR(longitude, 15.0, 1e-9); // on the central meridian
}

TEST(UtmProjection, NullHandleLeavesTheOutputsAlone)
{
    UtmProjection never;
    double latitude = 12.25, longitude = -33.5;
    EXPECT_FALSE(UtmToGeographic(never, 500000.0, 4000000.0, latitude, longitude));
    EXPECT_EQ(latitude, 12.25);
    EXPECT_EQ(longitude, -33.5);

    UtmProjection freed;
    ASSERT_TRUE(InitUtmProjection(freed, nullptr, 33));
    FreeUtmProjection(freed);
    EXPECT_TRUE(freed.IsNull());
    EXPECT_TRUE(freed.Arguments().empty());
    EXPECT_FALSE(UtmToGeographic(freed, 500000.0, 4000000.0, latitude, longitude));
    EXPECT_EQ(latitude, 12.25);
    EXPECT_EQ(longitude, -33.5);
    FreeUtmProjection(freed); // twice is harmless
    EXPECT_TRUE(freed.IsNull());
}

TEST(UtmProjection, UnconvertiblePointLeavesTheOutputsAlone)
{
    UtmProjection handle;
    ASSERT_TRUE(InitUtmProjection(handle, "WGS84", 33));
    double latitude = 7.0, longitude = 8.0;
    EXPECT_FALSE(UtmToGeographic(handle, 1e30, 1e30, latitude, longitude));
    EXPECT_EQ(latitude, 7.0);
    EXPECT_EQ(longitude, 8.0);
    EXPECT_FALSE(UtmToGeographic(handle, std::nan(""), 4000000.0, latitude, longitude));
    EXPECT_EQ(latitude, 7.0);
    EXPECT_EQ(longitude, 8.0);
}

TEST(UtmProjection, MovingHandsTheProjectionOver)
{
    UtmProjection first;
    ASSERT_TRUE(InitUtmProjection(first, "WGS84", 33));
    UtmProjection second(std::move(first));
    EXPECT_TRUE(first.IsNull()); // NOLINT(bugprone-use-after-move): a moved-from handle is null
    EXPECT_TRUE(first.Arguments().empty());
    ASSERT_FALSE(second.IsNull());
    EXPECT_EQ(second.Arguments()[1], "zone=33");
    double latitude = 0.0, longitude = 0.0;
    ASSERT_TRUE(UtmToGeographic(second, 500000.0, 0.0, latitude, longitude));
    EXPECT_NEAR(longitude, 15.0, 1e-9);
    EXPECT_NEAR(latitude, 0.0, 1e-9);

    UtmProjection third;
    ASSERT_TRUE(InitUtmProjection(third, "WGS84", 29));
    third = std::move(second); // the zone 29 projection is freed, zone 33 takes its place
    EXPECT_TRUE(second.IsNull()); // NOLINT(bugprone-use-after-move)
    ASSERT_TRUE(UtmToGeographic(third, 500000.0, 0.0, latitude, longitude));
    EXPECT_NEAR(longitude, 15.0, 1e-9);
}
