// Reading the georeference of a GeoTIFF: citation, tie point and pixel scale.

#include "TestSupport.h"
#include "TiffTestFiles.h"

#include "formats/TiffImport.h"
#include "formats/TiffMessageScope.h"

#include <QTemporaryDir>

#include <proj.h>

#include <gtest/gtest.h>

namespace {

constexpr std::uint16_t kTiePointTag = 33922;
constexpr std::uint16_t kPixelScaleTag = 33550;

const std::vector<double> kTiePoint{0, 0, 0, 500000.5, 4649776.25, 0};
const std::vector<double> kPixelScale{30.0, 28.5, 0};

} // namespace

TEST(GeoTiffRead, TestFilesGiveTheirCitationsZonesAndModelPlacement)
{
    // Zone, datum and hemisphere follow from each file's citation (quoted beside each case);
    // tie point and scale must be the values stored in the file's first directory.
    const struct {
        const char* file;
        bool tiePoint;
        int zone, hasZone, datum, south;
    } cases[] = {
        {"geotiff/RGB.byte.tif", true, 18, 1, 0, 0},       // "WGS 84 / UTM zone 18N"
        {"geotiff/byte.tif", true, 11, 1, 1, 0},           // "NAD27 / UTM zone 11N"
        {"geotiff/utmsmall.tif", true, 11, 1, 1, 0},       // "NAD27 / UTM zone 11N"
        {"geotiff/rgb-byte-tenth.tif", true, 18, 1, 1, 0}, // "UTM Zone 18, Northern Hemisphere"
        {"geotiff/cog_ovr.tif", true, 21, 1, 0, 0},        // "WGS 84 / UTM zone 21N"
        {"geotiff/cog_rgb.tif", true, 13, 1, 0, 0},        // "NAD83 / UTM zone 13N"
        {"geotiff/dataset_namespace_metadata.tif", true, 0, 0, 0, 0}, // "WGS 84"
        {"geotiff/image_web.tif", true, 0, 0, 0, 0},       // GeoAsciiParamsTag "WGS 84|" only
        {"geotiff/transverse_mercator.tif", true, 0, 0, 0, 0}, // "NAD83 / Mississippi TM"
        {"geotiff/rotated.tif", false, 0, 0, 0, 0},        // transformation matrix, no tie point
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = TestDataPath(QString::fromLatin1(c.file));
        const RawTiff raw(ReadFileBytes(path));
        ASSERT_TRUE(raw.Valid());
        const RawTiff::Directory& first = raw.Directories().at(0);
        const std::vector<double> tie = RawTiff::Doubles(first, kTiePointTag);
        const std::vector<double> scale = RawTiff::Doubles(first, kPixelScaleTag);
        ASSERT_EQ(tie.size() >= 6, c.tiePoint);

        TiffMessageScope ui;
        GeoTiffInfo info;
        EXPECT_EQ(ReadGeoTiffInfo(path, info), c.tiePoint);
        if (c.tiePoint) {
            EXPECT_EQ(info.m_dTieX, tie[3]);
            EXPECT_EQ(info.m_dTieY, tie[4]);
            ASSERT_GE(scale.size(), 2u);
            EXPECT_EQ(info.m_dScaleX, scale[0]);
            EXPECT_EQ(info.m_dScaleY, scale[1]);
        }
        EXPECT_EQ(info.m_nUtmZone, c.zone);
        EXPECT_EQ(info.m_bHasZone, c.hasZone);
        EXPECT_EQ(info.m_nDatum, c.datum);
        EXPECT_EQ(info.m_bSouth, c.south);
        EXPECT_EQ(info.m_nRows, 0); // the size is the loader's business
        EXPECT_TRUE(ui.Messages().empty());
    }
}

TEST(GeoTiffRead, CornersMatchTheIndependentlyProjectedReferences)
{
    // Top-left = tie point, bottom-right = tie point + size x scale (y down), projected back with
    // the zone and the ellipsoid of the datum code, against corners computed with PROJ's tools.
    const struct {
        const char* file;
        int width, height;
        const char* ellipsoid;
        double topLeft[2], bottomRight[2]; // longitude, latitude
    } cases[] = {
        {"geotiff/RGB.byte.tif", 791, 718, "WGS84", {-78.9586499654, 25.5060873857}, {-76.5749237001, 23.6059469554}},
        {"geotiff/byte.tif", 20, 20, "clrk66", {-117.6411686208, 33.9023526904}, {-117.6281108378, 33.8915970130}},
        {"geotiff/cog_ovr.tif", 2658, 2667, "WGS84", {-61.2876244271, 74.6220431425}, {-52.9162752561, 72.2297979555}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        GeoTiffInfo info;
        ASSERT_TRUE(ReadGeoTiffInfo(TestDataPath(QString::fromLatin1(c.file)), info));
        ASSERT_EQ(info.m_bHasZone, 1);
        EXPECT_STREQ(info.m_nDatum == 1 ? "clrk66" : "WGS84", c.ellipsoid);
        const std::string definition =
            "+proj=utm +zone=" + std::to_string(info.m_nUtmZone) + " +ellps=" + c.ellipsoid + " +units=m";
        PJ* utm = proj_create(PJ_DEFAULT_CTX, definition.c_str());
        ASSERT_NE(utm, nullptr);
        const auto corner = [&](double easting, double northing) {
            const PJ_COORD lonLat = proj_trans(utm, PJ_INV, proj_coord(easting, northing, 0, 0));
            return std::pair(proj_todeg(lonLat.lp.lam), proj_todeg(lonLat.lp.phi));
        };
        const auto topLeft = corner(info.m_dTieX, info.m_dTieY);
        const auto bottomRight =
            corner(info.m_dTieX + c.width * info.m_dScaleX, info.m_dTieY - c.height * info.m_dScaleY);
        proj_destroy(utm);
        EXPECT_NEAR(topLeft.first, c.topLeft[0], 1e-9);
        EXPECT_NEAR(topLeft.second, c.topLeft[1], 1e-9);
        EXPECT_NEAR(bottomRight.first, c.bottomRight[0], 1e-9);
        EXPECT_NEAR(bottomRight.second, c.bottomRight[1], 1e-9);
    }
}

TEST(GeoTiffRead, CitationComesFromTheKeyOrElseFromTheAsciiParameters)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray citation;
        QByteArray asciiOnly;
        bool geographic;
        int zone, datum, south;
    } cases[] = {
        {"key", "NAD27 / UTM zone 17N", {}, false, 17, 1, 0},
        {"key south", "WGS 84 / UTM zone 33S", {}, false, 33, 0, 1},
        {"ascii only", {}, "NAD27 / UTM zone 16N|", false, 16, 1, 0},
        {"ascii only south", {}, "WGS84 UTM zone 7S|", false, 7, 0, 1},
        // Another key's text is all the ASCII parameters hold: the fallback reads it.
        {"geographic key", "UTM 15 NAD27", {}, true, 15, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".tif"));
        ASSERT_TRUE(WriteGeoTiff(path, c.citation, kTiePoint, kPixelScale, c.asciiOnly, c.geographic));
        GeoTiffInfo info;
        ASSERT_TRUE(ReadGeoTiffInfo(path, info));
        EXPECT_EQ(info.m_nUtmZone, c.zone);
        EXPECT_EQ(info.m_bHasZone, 1);
        EXPECT_EQ(info.m_nDatum, c.datum);
        EXPECT_EQ(info.m_bSouth, c.south);
        EXPECT_EQ(info.m_dTieX, kTiePoint[3]);
        EXPECT_EQ(info.m_dTieY, kTiePoint[4]);
        EXPECT_EQ(info.m_dScaleX, kPixelScale[0]);
        EXPECT_EQ(info.m_dScaleY, kPixelScale[1]);
    }

    // The key wins over the ASCII parameters' other texts.
    const QString both = dir.filePath(QStringLiteral("both.tif"));
    ASSERT_TRUE(WriteGeoTiff(both, "UTM 12", kTiePoint, kPixelScale));
    GeoTiffInfo info;
    ASSERT_TRUE(ReadGeoTiffInfo(both, info));
    EXPECT_EQ(info.m_nUtmZone, 12);
}

TEST(GeoTiffRead, LongCitationIsReadWhole)
{
    // Far longer than any fixed buffer: the zone and hemisphere words come at the very end.
    QByteArray citation = "NAD27 ";
    while (citation.size() < 9000)
        citation += "padding words of a very talkative writer, ";
    citation += "UTM zone 44S";
    QTemporaryDir dir;
    for (bool asciiOnly : {false, true}) {
        SCOPED_TRACE(asciiOnly);
        const QString path = dir.filePath(asciiOnly ? QStringLiteral("ascii.tif") : QStringLiteral("key.tif"));
        ASSERT_TRUE(WriteGeoTiff(path, asciiOnly ? QByteArray() : citation, kTiePoint, kPixelScale,
                                 asciiOnly ? citation + '|' : QByteArray()));
        GeoTiffInfo info;
        ASSERT_TRUE(ReadGeoTiffInfo(path, info));
        EXPECT_EQ(info.m_nUtmZone, 44);
        EXPECT_EQ(info.m_bHasZone, 1);
        EXPECT_EQ(info.m_nDatum, 1);
        EXPECT_EQ(info.m_bSouth, 1);
    }
}

TEST(GeoTiffRead, TiePointDecidesWhetherThereIsAGeoreference)
{
    QTemporaryDir dir;
    const QString noTie = dir.filePath(QStringLiteral("no_tie.tif"));
    ASSERT_TRUE(WriteGeoTiff(noTie, "UTM 18", {}, kPixelScale));
    GeoTiffInfo info;
    EXPECT_FALSE(ReadGeoTiffInfo(noTie, info));
    EXPECT_EQ(info.m_dScaleX, 0.0);

    // A tie point without a pixel scale: placed, but the scale stays as it was.
    const QString noScale = dir.filePath(QStringLiteral("no_scale.tif"));
    ASSERT_TRUE(WriteGeoTiff(noScale, "UTM 18", kTiePoint, {}));
    GeoTiffInfo placed;
    placed.m_dScaleX = 7.0;
    EXPECT_TRUE(ReadGeoTiffInfo(noScale, placed));
    EXPECT_EQ(placed.m_dTieX, kTiePoint[3]);
    EXPECT_EQ(placed.m_dScaleX, 7.0);
    EXPECT_EQ(placed.m_dScaleY, 0.0);

    // A tie point tag too short to hold one whole tie point does not count.
    const QString shortTie = dir.filePath(QStringLiteral("short_tie.tif"));
    ASSERT_TRUE(WriteGeoTiff(shortTie, "UTM 18", {0, 0, 0, 1000}, kPixelScale));
    GeoTiffInfo partial;
    EXPECT_FALSE(ReadGeoTiffInfo(shortTie, partial));
    EXPECT_EQ(partial.m_dTieX, 0.0);

    // A missing file has no georeference, and says why.
    TiffMessageScope ui;
    GeoTiffInfo missing;
    EXPECT_FALSE(ReadGeoTiffInfo(dir.filePath(QStringLiteral("gone.tif")), missing));
    EXPECT_EQ(missing, GeoTiffInfo{});
    EXPECT_EQ(ui.Messages().size(), 1u);
}
