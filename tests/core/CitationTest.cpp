// The citation of a GeoTIFF: how it is split into tokens and what zone, datum and hemisphere
// its wording gives.

#include "formats/TiffImport.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Tokens(const QByteArray& text)
{
    std::vector<std::string> tokens;
    for (const QByteArray& token : TokenizeCitation(text))
        tokens.push_back(token.toStdString());
    return tokens;
}

struct Outcome {
    int zone;
    int hasZone;
    int datum;
    int south;
};

} // namespace

TEST(Citation, TokensAreRunsBetweenSeparators)
{
    const struct {
        QByteArray text;
        std::vector<std::string> tokens;
    } cases[] = {
        {"", {}},
        {" ,\t, ", {}},
        {"NAD27 / UTM zone 17N", {"NAD27", "/", "UTM", "zone", "17N"}},
        {"UTM Zone 18, Northern Hemisphere", {"UTM", "Zone", "18", "Northern", "Hemisphere"}},
        {",,a,,b  c\t\td,", {"a", "b", "c", "d"}},
        {"WGS 84|", {"WGS", "84|"}},
        {"a;b.c/d-e_f", {"a;b.c/d-e_f"}},
        {"\"quoted text\"", {"\"quoted", "text\""}},
        // Control characters separate; DEL (127) does not.
        {"x\x01y\nw\rz\x1f\x7f", {"x", "y", "w", "z", "\x7f"}},
        // Bytes from 0x80 up are negative as signed characters: separators, UTF-8 included.
        {"a\x80" "b\xff" "c\xc3\xa9" "d", {"a", "b", "c", "d"}},
        {QByteArray("zone\0" "17N", 8), {"zone", "17N"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Tokens(c.text), c.tokens) << c.text.toStdString();

    // No limit on the number of tokens.
    QByteArray many;
    for (int i = 0; i < 5000; ++i)
        many += "t" + QByteArray::number(i) + ' ';
    const QList<QByteArray> tokens = TokenizeCitation(many);
    ASSERT_EQ(tokens.size(), 5000);
    EXPECT_EQ(tokens.last(), "t4999");
}

TEST(Citation, WordingGivesZoneDatumAndHemisphere)
{
    const struct {
        const char* citation;
        Outcome outcome;
    } cases[] = {
        // The integer after UTM is a zone and implies Clarke 1866.
        {"UTM 18", {18, 1, 1, 0}},
        {"utm 18", {18, 1, 1, 0}},
        {"UTM 17 18", {18, 1, 1, 0}},
        {"UTM Zone 17 N with NAD27", {17, 1, 1, 0}},
        {"UTM Zone 18, Northern Hemisphere", {18, 1, 1, 0}},
        {"UTM Zone 18, Southern Hemisphere", {18, 1, 1, 1}},
        {"UTM zone -5", {-5, 1, 1, 0}},
        {"UTM 99999999999", {2147483647, 1, 1, 0}},
        {"UTM -", {0, 1, 1, 0}},
        // Without UTM before them, ZONE and numbers mean nothing.
        {"ZONE 18", {0, 0, 0, 0}},
        {"zone 18 UTM", {0, 0, 0, 0}},
        {"UTM zone", {0, 0, 0, 0}},
        // ZONE takes the first two characters of the next token, as atoi reads them.
        {"NAD27 / UTM zone 17N", {17, 1, 1, 0}},
        {"WGS 84 / UTM zone 17N", {17, 1, 0, 0}},
        {"utm ZONE 5n", {5, 1, 0, 0}},
        {"UTM zone 123N", {12, 1, 0, 0}},
        {"UTM zone N5", {0, 1, 0, 0}},
        {"UTM zone 17N UTM zone 18N", {18, 1, 0, 0}},
        // Named datums: NAD27 is Clarke 1866, WGS84 is WGS84, whatever the zone wording.
        {"NAD27", {0, 0, 1, 0}},
        {"NAD27CONUS UTM zone 10N", {10, 1, 1, 0}},
        {"WGS84 UTM zone 33S", {33, 1, 0, 1}},
        {"WGS84 UTM 33", {33, 1, 0, 0}},
        {"UTM 33 WGS84", {33, 1, 0, 0}},
        {"NAD27 WGS84 UTM zone 10N", {10, 1, 0, 0}},
        {"WGS84 NAD27 UTM 10", {10, 1, 1, 0}},
        {"NAD83 / UTM zone 13N", {13, 1, 0, 0}},
        // The hemisphere: a zone token ending in S, or the words Southern Hemisphere.
        {"WGS 84 / UTM zone 7S", {7, 1, 0, 1}},
        {"UTM zone 33s", {33, 1, 0, 1}},
        {"WGS 84 / UTM zone 33S|", {33, 1, 0, 1}},
        {"UTM zone 33S, then UTM zone 18N", {18, 1, 0, 0}},
        {"UTM zone 18N southern HEMISPHERE", {18, 1, 0, 1}},
        {"Southern Hemisphere", {0, 0, 0, 1}},
        {"Southern, Hemisphere", {0, 0, 0, 1}},
        {"Hemisphere Southern", {0, 0, 0, 0}},
        {"UTM Zone 33 S", {33, 1, 1, 0}},
        // Nothing about a zone.
        {"WGS 84", {0, 0, 0, 0}},
        {"NAD83 / Mississippi TM", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        GeoTiffInfo info;
        ApplyCitation(QByteArray(c.citation), info);
        EXPECT_EQ(info.m_nUtmZone, c.outcome.zone) << c.citation;
        EXPECT_EQ(info.m_bHasZone, c.outcome.hasZone) << c.citation;
        EXPECT_EQ(info.m_nDatum, c.outcome.datum) << c.citation;
        EXPECT_EQ(info.m_bSouth, c.outcome.south) << c.citation;
        // Only the citation's fields change.
        EXPECT_EQ(info.m_dTieX, 0.0);
        EXPECT_EQ(info.m_nRows, 0);
    }
}

TEST(Citation, FieldsTheCitationDoesNotMentionKeepTheirValues)
{
    GeoTiffInfo before;
    before.m_nUtmZone = 9;
    before.m_bHasZone = 1;
    before.m_nDatum = 1;
    before.m_bSouth = 1;

    GeoTiffInfo info = before;
    ApplyCitation("WGS 84", info);
    EXPECT_EQ(info, before);

    // A zone wording without datum or hemisphere words sets the zone and its hemisphere only.
    info = before;
    ApplyCitation("UTM zone 18N", info);
    EXPECT_EQ(info.m_nUtmZone, 18);
    EXPECT_EQ(info.m_nDatum, 1);
    EXPECT_EQ(info.m_bSouth, 0);

    info = before;
    ApplyCitation("WGS84", info);
    EXPECT_EQ(info.m_nDatum, 0);
    EXPECT_EQ(info.m_nUtmZone, 9);
    EXPECT_EQ(info.m_bSouth, 1);
}
