#include "imaging/MetafileDib.h"

#include "MetafileTestStreams.h"

#include <gtest/gtest.h>

namespace {

// Every layout a metafile's bitmap may come in. Odd widths exercise row padding.
const DibFormat kLayouts[] = {
    {1, 40, false, false, {0, 0, 0}, "1-bit"},
    {4, 40, false, false, {0, 0, 0}, "4-bit"},
    {8, 40, false, false, {0, 0, 0}, "8-bit"},
    {8, 40, true, false, {0, 0, 0}, "8-bit top-down"},
    {8, 12, false, false, {0, 0, 0}, "8-bit core header"},
    {4, 12, false, false, {0, 0, 0}, "4-bit core header"},
    {8, 108, false, false, {0, 0, 0}, "8-bit V4 header"},
    {8, 124, true, false, {0, 0, 0}, "8-bit V5 header top-down"},
    {16, 40, false, false, {0, 0, 0}, "16-bit 5-5-5"},
    {16, 40, false, true, {0xF800, 0x07E0, 0x001F}, "16-bit 5-6-5 bitfields"},
    {16, 56, true, true, {0x7C00, 0x03E0, 0x001F}, "16-bit bitfields in a 56-byte header"},
    {24, 40, false, false, {0, 0, 0}, "24-bit"},
    {24, 40, true, false, {0, 0, 0}, "24-bit top-down"},
    {24, 52, false, false, {0, 0, 0}, "24-bit 52-byte header"},
    {32, 40, false, false, {0, 0, 0}, "32-bit"},
    {32, 40, false, true, {0x00FF0000, 0x0000FF00, 0x000000FF}, "32-bit bitfields"},
    {32, 40, false, true, {0x000000FF, 0x0000FF00, 0x00FF0000}, "32-bit bitfields, red in the low byte"},
    {32, 124, true, true, {0xFF000000, 0x00FF0000, 0x0000FF00}, "32-bit V5 bitfields top-down"},
};

} // namespace

TEST(MetafileDibTest, DecodesEveryLayoutToThePixelsItWasMadeOf)
{
    for (const DibFormat& format : kLayouts) {
        for (const QSize size : {QSize(13, 7), QSize(1, 1), QSize(33, 4)}) {
            const TestDib dib = MakeDib(size.width(), size.height(), format);
            const QImage decoded = DecodeDib(dib.info, dib.bits, DIB_RGB_COLORS);
            ASSERT_FALSE(decoded.isNull()) << format.name;
            EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), dib.expected)
                << format.name << " " << size.width() << "x" << size.height();
            // The same bytes in one block, as 16-bit metafiles carry them.
            EXPECT_EQ(DecodePackedDib(dib.Packed(), DIB_RGB_COLORS).convertToFormat(QImage::Format_RGB32),
                      dib.expected)
                << format.name << " packed";
        }
    }
}

TEST(MetafileDibTest, LayoutReportsTheSizesOfTheHeader)
{
    for (const DibFormat& format : kLayouts) {
        const TestDib dib = MakeDib(13, 7, format);
        const std::optional<DibLayout> layout = ReadDibLayout(dib.info, DIB_RGB_COLORS);
        ASSERT_TRUE(layout.has_value()) << format.name;
        EXPECT_EQ(layout->width, 13) << format.name;
        EXPECT_EQ(layout->height, 7) << format.name;
        EXPECT_EQ(layout->topDown, format.topDown) << format.name;
        EXPECT_EQ(layout->bitCount, format.bitCount) << format.name;
        EXPECT_EQ(layout->infoBytes, dib.info.size()) << format.name;
        EXPECT_EQ(layout->imageBytes, dib.bits.size()) << format.name;
    }
}

TEST(MetafileDibTest, PaletteIndexTablesShowAsAGreyRamp)
{
    // DIB_PAL_COLORS: the table holds 16-bit indexes into a palette the metafile need not
    // carry; a two-entry table is black and white.
    Params info;
    info.U32(40).I32(8).I32(1).U16(1).U16(1).U32(0).U32(0).I32(0).I32(0).U32(0).U32(0).U16(0).U16(1);
    const QByteArray bits("\xA5\0\0\0", 4); // 1010 0101
    const QImage image = DecodeDib(info.m_Bytes, bits, DIB_PAL_COLORS);
    ASSERT_EQ(image.size(), QSize(8, 1));
    const bool set[8] = {true, false, true, false, false, true, false, true};
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(image.pixel(x, 0), set[x] ? qRgb(255, 255, 255) : qRgb(0, 0, 0)) << x;
}

TEST(MetafileDibTest, KeepsAlphaOnlyWhenAskedAndWhenTheBitmapUsesIt)
{
    Params info;
    info.U32(40).I32(2).I32(1).U16(1).U16(32).U32(0).U32(0).I32(0).I32(0).U32(0).U32(0);
    // Premultiplied: a half-transparent grey and an opaque red.
    Params bits;
    bits.U8(64).U8(64).U8(64).U8(128).U8(0).U8(0).U8(255).U8(255);
    const QImage opaque = DecodeDib(info.m_Bytes, bits.m_Bytes, DIB_RGB_COLORS);
    EXPECT_FALSE(opaque.hasAlphaChannel());
    EXPECT_EQ(opaque.pixel(0, 0), qRgb(64, 64, 64));
    const QImage blended = DecodeDib(info.m_Bytes, bits.m_Bytes, DIB_RGB_COLORS, true);
    ASSERT_EQ(blended.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(qAlpha(blended.pixel(0, 0)), 128);
    EXPECT_EQ(blended.pixel(1, 0), qRgb(255, 0, 0));

    // All alpha bytes zero: a writer that did not use them; the bitmap stays opaque.
    Params clear;
    clear.U8(10).U8(20).U8(30).U8(0).U8(40).U8(50).U8(60).U8(0);
    const QImage unused = DecodeDib(info.m_Bytes, clear.m_Bytes, DIB_RGB_COLORS, true);
    EXPECT_EQ(unused.pixel(0, 0), qRgb(30, 20, 10));
    EXPECT_EQ(unused.pixel(1, 0), qRgb(60, 50, 40));
}

TEST(MetafileDibTest, DecodesOnlyTheBandOfRowsPresent)
{
    const TestDib dib = MakeDib(6, 10, {24, 40, false, false, {0, 0, 0}, "24-bit"});
    const qsizetype stride = dib.bits.size() / 10;
    // Rows 2 .. 5 from the bottom of the bottom-up DIB are picture rows 4 .. 7 from the top.
    const QImage band = DecodeDibRows(dib.info, dib.bits.mid(2 * stride, 4 * stride), DIB_RGB_COLORS, 4);
    ASSERT_EQ(band.size(), QSize(6, 4));
    EXPECT_EQ(band, dib.expected.copy(0, 4, 6, 4));
    EXPECT_TRUE(DecodeDibRows(dib.info, dib.bits, DIB_RGB_COLORS, 11).isNull());
    EXPECT_TRUE(DecodeDibRows(dib.info, dib.bits, DIB_RGB_COLORS, 0).isNull());
}

TEST(MetafileDibTest, DecodesBitmap16RowsFromTheTop)
{
    struct Case {
        int bits;
        QByteArray rows; // two pixels, one row
        QRgb first, second;
    };
    const Case cases[] = {
        {1, QByteArray("\x40\0", 2), qRgb(0, 0, 0), qRgb(255, 255, 255)},
        {24, QByteArray("\x01\x02\x03\x04\x05\x06", 6), qRgb(3, 2, 1), qRgb(6, 5, 4)},
        {32, QByteArray("\x01\x02\x03\x00\x04\x05\x06\x00", 8), qRgb(3, 2, 1), qRgb(6, 5, 4)},
    };
    for (const Case& c : cases) {
        Params bitmap;
        bitmap.I16(0).I16(2).I16(2).I16(std::int16_t(c.rows.size())).U8(1).U8(std::uint8_t(c.bits));
        bitmap.Bytes(c.rows).Bytes(QByteArray(c.rows.size(), '\0')); // second row: zeros
        const QImage image = DecodeBitmap16(bitmap.m_Bytes);
        ASSERT_EQ(image.size(), QSize(2, 2)) << c.bits;
        EXPECT_EQ(image.pixel(0, 0), c.first) << c.bits;
        EXPECT_EQ(image.pixel(1, 0), c.second) << c.bits;
        EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 0)) << c.bits;
    }
}

TEST(MetafileDibTest, RefusesBitmapsThatDisagreeWithTheirBytes)
{
    const TestDib good = MakeDib(5, 3, {8, 40, false, false, {0, 0, 0}, "8-bit"});
    ASSERT_FALSE(DecodeDib(good.info, good.bits, DIB_RGB_COLORS).isNull());

    auto withField = [&](int offset, std::uint32_t value) {
        QByteArray info = good.info;
        for (int i = 0; i < 4; ++i)
            info[offset + i] = char((value >> (8 * i)) & 0xFF);
        return info;
    };
    const struct {
        const char* what;
        QByteArray info;
        QByteArray bits;
    } cases[] = {
        {"rows shorter than the header says", good.info, good.bits.left(good.bits.size() - 1)},
        {"colour table cut off", good.info.left(40 + 100), good.bits},
        {"unknown header size", withField(0, 44), good.bits},
        {"zero width", withField(4, 0), good.bits},
        {"negative width", withField(4, std::uint32_t(-5)), good.bits},
        {"zero height", withField(8, 0), good.bits},
        {"the most negative height", withField(8, 0x80000000u), good.bits},
        {"bit count 7", withField(14, 7 | (0u << 16)), good.bits},
        {"RLE8 compression (not decoded)", withField(16, 1), good.bits},
        {"bitfields on an 8-bit bitmap", withField(16, 3), good.bits},
        {"a wider bitmap without its rows", withField(4, 40000), QByteArray()},
        {"header alone, no bytes for it", good.info.left(20), good.bits},
        {"nothing", QByteArray(), QByteArray()},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(DecodeDib(c.info, c.bits, DIB_RGB_COLORS).isNull()) << c.what;
    // A packed DIB one byte short of its last row.
    EXPECT_TRUE(DecodePackedDib(good.Packed().chopped(1), DIB_RGB_COLORS).isNull());

    // A header claiming more pixels than any metafile bitmap may have is refused before any
    // row is looked at.
    QByteArray huge = withField(4, 100000);
    for (int i = 0; i < 4; ++i)
        huge[8 + i] = char((100000u >> (8 * i)) & 0xFF);
    EXPECT_FALSE(ReadDibLayout(huge, DIB_RGB_COLORS).has_value());

    // Bitmap16 with inconsistent row length, planes, or bytes.
    const struct {
        const char* what;
        QByteArray bytes;
    } bitmaps[] = {
        {"rows narrower than the pixels", Params().I16(0).I16(9).I16(1).I16(2).U8(1).U8(24).Bytes(QByteArray(2, 'x')).m_Bytes},
        {"two planes", Params().I16(0).I16(1).I16(1).I16(4).U8(2).U8(24).Bytes(QByteArray(4, 'x')).m_Bytes},
        {"rows missing", Params().I16(0).I16(1).I16(3).I16(4).U8(1).U8(24).Bytes(QByteArray(8, 'x')).m_Bytes},
        {"negative width", Params().I16(0).I16(-1).I16(1).I16(4).U8(1).U8(24).Bytes(QByteArray(4, 'x')).m_Bytes},
    };
    for (const auto& b : bitmaps)
        EXPECT_TRUE(DecodeBitmap16(b.bytes).isNull()) << b.what;
}
