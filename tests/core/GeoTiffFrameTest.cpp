// The GeoTIFF frame of an image: real GeoTIFFs against their independently computed corners,
// and made-up georeferences for the metric, degree, failed, southern and 180th-meridian cases.

#include "TestSupport.h"

#include "formats/TiffImport.h"
#include "ScriptedUiServices.h"
#include "geo/GeoTiffFrame.h"
#include "geo/UtmProjection.h"

#include "ProjReference.h"

#include <gtest/gtest.h>


#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

/// The frame spanned by a north-west and a south-east corner.
GeoTiffFrame FrameOf(LatLon northWest, LatLon southEast)
{
    GeoTiffFrame frame;
    frame.m_bGeoTiffFrame = true;
    frame.m_bGeoCoded = true;
    frame.m_Origin = CDataGeo{southEast.m_dLatitude, northWest.m_dLongitude};
    frame.m_Extent = CDataGeo{northWest.m_dLatitude - southEast.m_dLatitude,
                              southEast.m_dLongitude - northWest.m_dLongitude};
    return frame;
}

void ExpectFrame(const GeoTiffFrame& actual, const GeoTiffFrame& expected, double tolerance)
{
    EXPECT_EQ(actual.m_bGeoTiffFrame, expected.m_bGeoTiffFrame);
    EXPECT_EQ(actual.m_bGeoCoded, expected.m_bGeoCoded);
    EXPECT_NEAR(actual.m_Origin.m_dLatitude, expected.m_Origin.m_dLatitude, tolerance) << "origin latitude";
    EXPECT_NEAR(actual.m_Origin.m_dLongitude, expected.m_Origin.m_dLongitude, tolerance) << "origin longitude";
    EXPECT_NEAR(actual.m_Extent.m_dLatitude, expected.m_Extent.m_dLatitude, tolerance) << "latitude span";
    EXPECT_NEAR(actual.m_Extent.m_dLongitude, expected.m_Extent.m_dLongitude, tolerance) << "longitude span";
    EXPECT_EQ(actual.m_Origin.m_dImageX, 0.0);
    EXPECT_EQ(actual.m_Origin.m_dImageY, 0.0);
    EXPECT_EQ(actual.m_Extent.m_dImageX, 0.0);
    EXPECT_EQ(actual.m_Extent.m_dImageY, 0.0);
}

/// The plain picture frame: not geo-coded, origin (0, 0), extent (1, 1).
void ExpectPlainFrame(const GeoTiffFrame& actual)
{
    ExpectFrame(actual, GeoTiffFrame{}, 0.0);
    EXPECT_FALSE(actual.m_bGeoTiffFrame);
    EXPECT_FALSE(actual.m_bGeoCoded);
    EXPECT_EQ(actual.m_Origin.m_dLatitude, 0.0);
    EXPECT_EQ(actual.m_Origin.m_dLongitude, 0.0);
    EXPECT_EQ(actual.m_Extent.m_dLatitude, 1.0);
    EXPECT_EQ(actual.m_Extent.m_dLongitude, 1.0);
}

GeoTiffInfo MakeInfo(double tieX, double tieY, double scaleX, double scaleY, int zone, int datum, bool south = false)
{
    GeoTiffInfo info;
    info.m_dTieX = tieX;
    info.m_dTieY = tieY;
    info.m_dScaleX = scaleX;
    info.m_dScaleY = scaleY;
    info.m_nUtmZone = zone;
    info.m_bHasZone = zone != 0;
    info.m_nDatum = datum;
    info.m_bSouth = south;
    return info;
}

/// The frame set-up, the keys' system (where used) dropped.
GeoTiffFrame SetUpGeoTiffFrame(const GeoTiffInfo& info, int width, int height, UtmProjection& projection)
{
    std::optional<FitCrsConversion> keysCrs;
    return SetUpGeoTiffFrame(info, width, height, projection, keysCrs);
}

} // namespace

TEST(GeoTiffFrame, TestFilesGiveTheirReferenceCorners)
{
    // Corners (longitude, latitude) and sizes as listed in the test data's reference table,
    // computed there with PROJ's command-line tools on the ellipsoid of each file's real datum.
    // Degree files have no zone: their set-up fails and the model is read as degrees.
    const struct {
        const char* file;
        int width, height;
        const char* realEllipsoid; // nullptr: geographic, in degrees
        double topLeft[2], bottomRight[2];
    } cases[] = {
        {"RGB.byte.tif", 791, 718, "WGS84", {-78.9586499654, 25.5060873857}, {-76.5749237001, 23.6059469554}},
        {"utmsmall.tif", 100, 100, "clrk66", {-117.6411686208, 33.9023526904}, {-117.5759124632, 33.8485599216}},
        {"byte.tif", 20, 20, "clrk66", {-117.6411686208, 33.9023526904}, {-117.6281108378, 33.8915970130}},
        {"rgb-byte-tenth.tif", 79, 71, "WGS84", {-78.9586499654, 25.5060873857}, {-76.5749237001, 23.6059469554}},
        {"cog_ovr.tif", 2658, 2667, "WGS84", {-61.2876244271, 74.6220431425}, {-52.9162752561, 72.2297979555}},
        {"dataset_namespace_metadata.tif", 50, 50, nullptr, {-44.84032, -22.932584}, {-44.66872, -23.104184}},
        {"image_web.tif", 1000, 1000, nullptr, {145.7271441291, 14.9369183709}, {145.7316320083, 14.9324304917}},
    };
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        GeoTiffInfo info;
        ASSERT_TRUE(ReadGeoTiffInfo(TestDataPath(QStringLiteral("geotiff/") + QString::fromLatin1(c.file)), info));
        UtmProjection projection;
        const GeoTiffFrame frame = SetUpGeoTiffFrame(info, c.width, c.height, projection);

        const GeoTiffFrame reference = FrameOf({c.topLeft[1], c.topLeft[0]}, {c.bottomRight[1], c.bottomRight[0]});
        // rgb-byte-tenth.tif's citation, "UTM Zone 18, Northern Hemisphere", names no datum and
        // its zone number reads as Clarke 1866; its keys say WGS 84, and they are followed.
        EXPECT_EQ(projection.IsNull(),
                  !c.realEllipsoid || EllipsoidForDatum(info.m_nDatum) != std::string(c.realEllipsoid));
        ExpectFrame(frame, reference, 1e-7);
    }
}

TEST(GeoTiffFrame, GeoreferenceWithoutUtmZoneNeedsItsKeys)
{
    // transverse_mercator.tif is in metres (byte.tif's tie point and scale) but names no UTM
    // zone: its keys define NAD83 / Mississippi TM (EPSG:3814), which places it; without them
    // there is nothing to convert with, so it is shown as a plain picture.
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    GeoTiffInfo info;
    ASSERT_TRUE(ReadGeoTiffInfo(TestDataPath(QStringLiteral("geotiff/transverse_mercator.tif")), info));
    ASSERT_GT(info.m_dScaleX, 1.0);
    UtmProjection projection;
    ExpectFrame(SetUpGeoTiffFrame(info, 1, 1, projection),
                FrameOf(ReferenceInverse("EPSG:3814", "EPSG:4269", 440720.0, 3751320.0),
                        ReferenceInverse("EPSG:3814", "EPSG:4269", 440780.0, 3751260.0)),
                1e-9);
    info.m_strCrs.clear();
    ExpectPlainFrame(SetUpGeoTiffFrame(info, 1, 1, projection));
    EXPECT_TRUE(projection.IsNull());
}

TEST(GeoTiffFrame, SetUpByScaleAndDatum)
{
    enum class Outcome { Plain, Degrees, Projected };
    const struct {
        const char* name;
        GeoTiffInfo info;
        int width, height;
        Outcome outcome;
        Arguments arguments;
        const char* projectedCrs; // for Projected: the EPSG system with the chosen ellipsoid
        const char* geographicCrs;
    } cases[] = {
        {"metres, zone 33, datum 0", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 33, 0), 400, 300, Outcome::Projected,
         {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, "EPSG:32633", "EPSG:4326"},
        {"metres, zone 18, datum 1", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 18, 1), 400, 300, Outcome::Projected,
         {"proj=utm", "zone=18", "ellps=clrk66", "units=m"}, "EPSG:26718", "EPSG:4267"},
        {"metres, zone 33, datum 6", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 33, 6), 400, 300, Outcome::Projected,
         {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, "EPSG:32633", "EPSG:4326"},
        {"metres, zone 33, datum 5", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 33, 5), 400, 300, Outcome::Projected,
         {"proj=utm", "zone=33", "ellps=WGS72", "units=m"}, "EPSG:32233", "EPSG:4322"},
        {"just above 0.01 is metres", MakeInfo(500000.0, 4000000.0, 0.0101, 0.0101, 33, 0), 1000, 1000,
         Outcome::Projected, {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, "EPSG:32633", "EPSG:4326"},
        {"metres, datum 3", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 33, 3), 400, 300, Outcome::Plain,
         {"proj=utm", "zone=33", "ellps=", "units=m"}, nullptr, nullptr},
        {"metres, no zone", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 0, 0), 400, 300, Outcome::Plain,
         {"proj=utm", "zone=0", "ellps=WGS84", "units=m"}, nullptr, nullptr},
        {"metres, zone 61", MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 61, 0), 400, 300, Outcome::Plain,
         {"proj=utm", "zone=61", "ellps=WGS84", "units=m"}, nullptr, nullptr},
        // Set-up failed with scales between 0.01 and 1: still metres, so a plain picture too.
        {"half metres, datum 3", MakeInfo(440720.0, 3751320.0, 0.5, 0.5, 33, 3), 400, 300, Outcome::Plain,
         {"proj=utm", "zone=33", "ellps=", "units=m"}, nullptr, nullptr},
        {"0.5 and 2 m, datum 3", MakeInfo(440720.0, 3751320.0, 0.5, 2.0, 33, 3), 400, 300, Outcome::Plain,
         {"proj=utm", "zone=33", "ellps=", "units=m"}, nullptr, nullptr},
        // A corner the inverse projection cannot reach.
        {"unconvertible corner", MakeInfo(1e30, 1e30, 30.0, 30.0, 33, 0), 400, 300, Outcome::Plain,
         {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, nullptr, nullptr},
        // Degrees are used as they are, whether the projection could be set up or not.
        {"degrees, datum 3", MakeInfo(15.25, 48.5, 0.0001, 0.0001, 33, 3), 400, 300, Outcome::Degrees,
         {"proj=utm", "zone=33", "ellps=", "units=m"}, nullptr, nullptr},
        {"degrees, no zone", MakeInfo(-44.84032, -22.932584, 0.0001, 0.0001, 0, 0), 400, 300, Outcome::Degrees,
         {"proj=utm", "zone=0", "ellps=WGS84", "units=m"}, nullptr, nullptr},
        {"degrees, zone 33, datum 0", MakeInfo(15.25, 48.5, 0.0001, 0.0001, 33, 0), 400, 300, Outcome::Degrees,
         {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, nullptr, nullptr},
        {"exactly 0.01 is degrees", MakeInfo(15.25, 48.5, 0.01, 0.01, 33, 0), 40, 30, Outcome::Degrees,
         {"proj=utm", "zone=33", "ellps=WGS84", "units=m"}, nullptr, nullptr},
        {"one scale in degrees", MakeInfo(15.25, 48.5, 0.5, 0.005, 33, 3), 40, 30, Outcome::Degrees,
         {"proj=utm", "zone=33", "ellps=", "units=m"}, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UtmProjection projection;
        const GeoTiffFrame frame = SetUpGeoTiffFrame(c.info, c.width, c.height, projection);
        EXPECT_EQ(projection.Arguments(), c.arguments);

        const double west = c.info.m_dTieX;
        const double north = c.info.m_dTieY;
        const double east = c.info.m_dTieX + c.width * c.info.m_dScaleX;
        const double south = c.info.m_dTieY - c.height * c.info.m_dScaleY;
        switch (c.outcome) {
        case Outcome::Plain:
            ExpectPlainFrame(frame);
            break;
        case Outcome::Degrees:
            ExpectFrame(frame, FrameOf({north, west}, {south, east}), 1e-12);
            break;
        case Outcome::Projected:
            ASSERT_FALSE(projection.IsNull());
            ExpectFrame(frame,
                        FrameOf(ReferenceInverse(c.projectedCrs, c.geographicCrs, west, north),
                                ReferenceInverse(c.projectedCrs, c.geographicCrs, east, south)),
                        1e-8);
            EXPECT_GT(frame.m_Extent.m_dLatitude, 0.0);
            EXPECT_GT(frame.m_Extent.m_dLongitude, 0.0);
            break;
        }
    }
}

TEST(GeoTiffFrame, SouthernZone)
{
    // Zone 33 south: the top-left corner at 500 000 E, 6 000 000 N lies near 36 degrees south.
    const GeoTiffInfo info = MakeInfo(500000.0, 6000000.0, 30.0, 30.0, 33, 0, true);
    const int width = 1000, height = 800;
    UtmProjection projection;
    const GeoTiffFrame frame = SetUpGeoTiffFrame(info, width, height, projection);
    EXPECT_EQ(projection.Arguments(), (Arguments{"proj=utm", "zone=33", "ellps=WGS84", "units=m", "south"}));

    const LatLon northWest = ReferenceInverse("EPSG:32733", "EPSG:4326", 500000.0, 6000000.0);
    const LatLon southEast = ReferenceInverse("EPSG:32733", "EPSG:4326", 530000.0, 5976000.0);
    ExpectFrame(frame, FrameOf(northWest, southEast), 1e-8);
    const double northLatitude = frame.m_Origin.m_dLatitude + frame.m_Extent.m_dLatitude;
    EXPECT_LT(northLatitude, -36.0);
    EXPECT_GT(northLatitude, -36.3);
    EXPECT_NEAR(frame.m_Origin.m_dLongitude, 15.0, 1e-9); // the zone's central meridian
    EXPECT_GT(frame.m_Extent.m_dLatitude, 0.0);
}

TEST(GeoTiffFrame, MapAcrossThe180thMeridianStaysContinuous)
{
    // Zone 60 ends at 180 E and zone 1 begins at 180 W: 600 km wide images placed across that
    // line. The east corner is unwrapped past 180 so that the longitude span stays positive.
    const struct {
        const char* name;
        int zone;
        double tieX;
        const char* projectedCrs;
    } cases[] = {
        {"zone 60, east corner beyond 180 E", 60, 500000.0, "EPSG:32660"},
        {"zone 1, west corner beyond 180 W", 1, 100000.0, "EPSG:32601"},
    };
    const double tieY = 5600000.0, scale = 1000.0;
    const int width = 400, height = 200;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UtmProjection projection;
        const GeoTiffFrame frame =
            SetUpGeoTiffFrame(MakeInfo(c.tieX, tieY, scale, scale, c.zone, 0), width, height, projection);
        const LatLon northWest = ReferenceInverse(c.projectedCrs, "EPSG:4326", c.tieX, tieY);
        LatLon southEast = ReferenceInverse(c.projectedCrs, "EPSG:4326", c.tieX + width * scale, tieY - height * scale);
        ASSERT_GT(northWest.m_dLongitude, southEast.m_dLongitude); // PROJ wraps: the map does cross 180
        southEast.m_dLongitude += 360.0;
        ExpectFrame(frame, FrameOf(northWest, southEast), 1e-8);
        EXPECT_GT(frame.m_Extent.m_dLongitude, 0.0);
        EXPECT_LT(frame.m_Extent.m_dLongitude, 10.0);
        EXPECT_GT(frame.m_Origin.m_dLongitude + frame.m_Extent.m_dLongitude, 180.0);
        EXPECT_GE(frame.m_Origin.m_dLongitude, -180.0);
        EXPECT_LE(frame.m_Origin.m_dLongitude, 180.0);
    }
}

TEST(GeoTiffFrame, SetUpReplacesTheProjectionInTheHandle)
{
    UtmProjection projection;
    ASSERT_TRUE(InitUtmProjection(projection, "clrk66", 11));

    // A failing set-up leaves no projection behind.
    SetUpGeoTiffFrame(MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 33, 3), 10, 10, projection);
    EXPECT_TRUE(projection.IsNull());

    // A working one leaves the image's own projection in the handle for the read-out.
    ASSERT_TRUE(InitUtmProjection(projection, "clrk66", 11));
    SetUpGeoTiffFrame(MakeInfo(440720.0, 3751320.0, 30.0, 30.0, 33, 0), 10, 10, projection);
    ASSERT_FALSE(projection.IsNull());
    EXPECT_EQ(projection.Arguments(), (Arguments{"proj=utm", "zone=33", "ellps=WGS84", "units=m"}));
    double latitude = 0.0, longitude = 0.0;
    ASSERT_TRUE(UtmToGeographic(projection, 500000.0, 3751320.0, latitude, longitude));
    EXPECT_NEAR(longitude, 15.0, 1e-9);
}
