// 16-bit metafiles built record by record: sizes from the placeable header or the window,
// bitmaps reproduced pixel for pixel, the object table, the window mapping, clipping and text.

#include "imaging/MetafilePicture.h"
#include "imaging/PictureService.h"
#include "imaging/WmfRenderer.h"

#include "MetafileTestStreams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

// 96 x 48 logical units at 96 per inch: one unit is one pixel of the picture.
constexpr Ltrb kBounds{0, 0, 96, 48};
constexpr QRgb kWhite = 0xFFFFFFFF;
const QColor kRed(220, 20, 30);
const QColor kBlue(20, 40, 200);
const QColor kGreen(10, 160, 40);

/// A placeable 96 x 48 picture with a null pen (slot 0) and a red brush (slot 1) selected.
WmfStream RedFill()
{
    WmfStream wmf(kBounds, 96);
    wmf.CreatePen(Qt::black, 0, 5 /* PS_NULL */).Select(0).CreateBrush(kRed).Select(1);
    return wmf;
}

} // namespace

TEST(WmfRendererTest, PictureSizeComesFromTheBoundsOrTheWindow)
{
    const struct {
        const char* what;
        QByteArray bytes;
        QSize himetric;
    } cases[] = {
        {"placeable, 1200 units per inch", WmfStream({0, 0, 1200, 600}, 1200).Bytes(), {2540, 1270}},
        {"placeable, bounds away from the origin", WmfStream({19, -33, 9966, 7673}, 905).Bytes(),
         {int(std::lround(9947 * 2540.0 / 905)), int(std::lround(7706 * 2540.0 / 905))}},
        {"placeable, edges stored in reverse", WmfStream({1200, 600, 0, 0}, 1200).Bytes(), {2540, 1270}},
        // A plain metafile's logical units are pixels at 96 dpi.
        {"plain, window extent", WmfStream().SetWindowOrg(0, 0).SetWindowExt(480, 240).Bytes(), {12700, 6350}},
        {"plain, window extent with y running upward", WmfStream().SetWindowExt(480, -240).Bytes(), {12700, 6350}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SniffPictureFormat(c.bytes), PictureFormat::Wmf) << c.what;
        const std::unique_ptr<IPicture> picture = LoadPicture(c.bytes);
        ASSERT_NE(picture, nullptr) << c.what;
        EXPECT_EQ(picture->HimetricSize(), c.himetric) << c.what;
    }
}

TEST(WmfRendererTest, PlainMetafileWithoutWindowIsAsLargeAsItsDrawing)
{
    WmfStream wmf;
    wmf.CreateBrush(kRed).Select(0).Rectangle({10, 20, 110, 70});
    const std::unique_ptr<MetafilePicture> picture = MetafilePicture::Load(wmf.Bytes(), PictureFormat::Wmf);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->DeviceFrame(), QRectF(10, 20, 100, 50));
    EXPECT_EQ(picture->PixelSize(), QSize(100, 50));
    // Drawn, the rectangle fills the picture.
    const QImage image = picture->ToImage();
    EXPECT_EQ(CountNotIn(image, image.rect().adjusted(1, 1, -1, -1), kRed.rgb()), 0);

    // A plain metafile that draws nothing has no size.
    EXPECT_EQ(LoadPicture(WmfStream().CreateBrush(kRed).Bytes()), nullptr);
}

TEST(WmfRendererTest, HeadersThatCannotBeShownAreRefused)
{
    QByteArray noUnits = WmfStream({0, 0, 100, 100}, 96).Bytes();
    noUnits[14] = 0; // units per inch
    noUnits[15] = 0;
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"placeable, no units per inch", noUnits},
        {"placeable, empty bounds", WmfStream({5, 5, 5, 50}, 96).Bytes()},
        {"placeable, 32767 units at 1 per inch", WmfStream({0, 0, 32767, 32767}, 1).Bytes()},
        {"placeable, header cut short", WmfStream(kBounds, 96).Bytes().left(30)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadPicture(c.bytes), nullptr) << c.what;
}

TEST(WmfRendererTest, BitmapRecordsReproduceTheirPixelsOneToOne)
{
    const DibFormat layouts[] = {
        {1, 40, false, false, {0, 0, 0}, "1-bit"},
        {8, 40, false, false, {0, 0, 0}, "8-bit"},
        {8, 12, false, false, {0, 0, 0}, "8-bit core header"},
        {24, 40, true, false, {0, 0, 0}, "24-bit top-down"},
        {32, 40, false, true, {0x00FF0000, 0x0000FF00, 0x000000FF}, "32-bit bitfields"},
    };
    const QPoint at(5, 3);
    const struct {
        const char* record;
        std::function<void(WmfStream&, const TestDib&)> add;
    } records[] = {
        {"DIBBITBLT", [&](WmfStream& w, const TestDib& d) { w.DibBitBlt(at, {17, 9}, {0, 0}, d); }},
        {"DIBSTRETCHBLT", [&](WmfStream& w, const TestDib& d) { w.DibStretchBlt(at, {17, 9}, {0, 0}, {17, 9}, d); }},
        {"STRETCHDIB", [&](WmfStream& w, const TestDib& d) { w.StretchDib(at, {17, 9}, {0, 0}, {17, 9}, d); }},
        {"SETDIBTODEV", [&](WmfStream& w, const TestDib& d) { w.SetDibToDev(at, {0, 0}, {17, 9}, 0, 9, d); }},
    };
    for (const DibFormat& format : layouts) {
        const TestDib dib = MakeDib(17, 9, format);
        for (const auto& r : records) {
            WmfStream wmf(kBounds, 96);
            r.add(wmf, dib);
            const QImage image = RenderPicture(wmf.Bytes());
            ASSERT_EQ(image.size(), QSize(96, 48));
            EXPECT_EQ(image.copy(QRect(at, QSize(17, 9))), dib.expected) << r.record << " " << format.name;
            EXPECT_EQ(CountNot(image, kWhite), CountNotIn(image, QRect(at, QSize(17, 9)), kWhite))
                << r.record << " " << format.name;
        }
    }
    // META_BITBLT carries a device-dependent bitmap, rows from the top.
    const TestDib dib = MakeDib(11, 6, {24, 40, false, false, {0, 0, 0}, "24-bit"});
    WmfStream wmf(kBounds, 96);
    wmf.BitBlt16({30, 20}, dib.expected);
    EXPECT_EQ(RenderPicture(wmf.Bytes()).copy(30, 20, 11, 6), dib.expected);
}

TEST(WmfRendererTest, BitmapSourcesAndBands)
{
    const TestDib dib = MakeDib(12, 10, {24, 40, false, false, {0, 0, 0}, "24-bit"});
    // STRETCHDIB follows StretchDIBits: a bottom-up DIB counts the source's y from the bottom.
    WmfStream stretch(kBounds, 96);
    stretch.StretchDib({40, 5}, {4, 3}, {2, 1}, {4, 3}, dib);
    EXPECT_EQ(RenderPicture(stretch.Bytes()).copy(40, 5, 4, 3), dib.expected.copy(2, 10 - 1 - 3, 4, 3));
    // DIBBITBLT follows BitBlt: counted from the top.
    WmfStream blit(kBounds, 96);
    blit.DibBitBlt({40, 5}, {4, 3}, {2, 1}, dib);
    EXPECT_EQ(RenderPicture(blit.Bytes()).copy(40, 5, 4, 3), dib.expected.copy(2, 1, 4, 3));
    // SETDIBTODEV with scans 3 .. 6 from the bottom only: rows 3 .. 6 of the whole bitmap.
    WmfStream band(kBounds, 96);
    band.SetDibToDev({60, 20}, {0, 3}, {12, 4}, 3, 4, dib);
    EXPECT_EQ(RenderPicture(band.Bytes()).copy(60, 20, 12, 4), dib.expected.copy(0, 3, 12, 4));
    // Twice the size: every pixel becomes two by two.
    WmfStream doubled(kBounds, 96);
    doubled.DibStretchBlt({0, 0}, {24, 20}, {0, 0}, {12, 10}, dib);
    EXPECT_EQ(RenderPicture(doubled.Bytes()).copy(0, 0, 24, 20), dib.expected.scaled(24, 20));
}

TEST(WmfRendererTest, NewObjectsTakeTheLowestFreeEntry)
{
    WmfStream wmf(kBounds, 96);
    wmf.CreateBrush(kRed)                 // entry 0
        .CreateBrush(kBlue)               // entry 1
        .CreatePen(Qt::black, 0, 5)       // entry 2: a null pen
        .Select(2)
        .Delete(0)
        .CreateBrush(kGreen)              // takes entry 0 again
        .Select(0)
        .Rectangle({0, 0, 10, 10})
        .Select(1)
        .Rectangle({20, 0, 30, 10});
    const QImage image = RenderPicture(wmf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(0, 0, 10, 10), kGreen.rgb()), 0);
    EXPECT_EQ(CountNotIn(image, QRect(20, 0, 10, 10), kBlue.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 200);
}

TEST(WmfRendererTest, WindowRecordsMapOntoTheFrame)
{
    const struct {
        const char* what;
        std::function<void(WmfStream&)> draw;
        QRect device;
    } cases[] = {
        {"window as the bounds", [](WmfStream& w) { w.Rectangle({10, 10, 30, 20}); }, {10, 10, 20, 10}},
        {"window twice as large",
         [](WmfStream& w) { w.SetWindowExt(192, 96).Rectangle({20, 20, 60, 40}); }, {10, 10, 20, 10}},
        {"window moved", [](WmfStream& w) { w.SetWindowOrg(-6, -4).Rectangle({10, 10, 30, 20}); }, {16, 14, 20, 10}},
        // A negative extent: logical y runs upward, its largest value at the top of the picture.
        {"negative window extent",
         [](WmfStream& w) { w.SetWindowOrg(0, 48).SetWindowExt(96, -48).Rectangle({0, 48, 20, 38}); }, {0, 0, 20, 10}},
    };
    for (const auto& c : cases) {
        WmfStream wmf = RedFill();
        c.draw(wmf);
        const QImage image = RenderPicture(wmf.Bytes());
        EXPECT_EQ(CountNotIn(image, c.device, kRed.rgb()), 0) << c.what;
        EXPECT_EQ(CountNot(image, kWhite), c.device.width() * c.device.height()) << c.what;
    }
}

TEST(WmfRendererTest, PlainWindowWithUpwardYStaysUpright)
{
    // A plain metafile whose window runs y upward: its largest y is the top of the picture.
    WmfStream wmf;
    wmf.SetWindowOrg(0, 48).SetWindowExt(96, -48);
    wmf.CreatePen(Qt::black, 0, 5).Select(0).CreateBrush(kRed).Select(1).Rectangle({0, 48, 20, 38});
    const QImage image = RenderPicture(wmf.Bytes());
    ASSERT_EQ(image.size(), QSize(96, 48));
    EXPECT_EQ(CountNotIn(image, QRect(0, 0, 20, 10), kRed.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 200);
}

TEST(WmfRendererTest, ClipAndPolygon)
{
    WmfStream wmf = RedFill();
    wmf.IntersectClipRect({0, 0, 40, 48}).Polygon({{0, 0}, {80, 0}, {80, 40}, {0, 40}});
    const QImage image = RenderPicture(wmf.Bytes());
    EXPECT_EQ(image.pixel(20, 20), kRed.rgb());
    EXPECT_EQ(image.pixel(60, 20), kWhite);
    EXPECT_EQ(CountNot(image, kWhite), CountNotIn(image, QRect(0, 0, 40, 41), kWhite));
}

TEST(WmfRendererTest, TextRecordsDrawNextToTheirReferencePoint)
{
    for (const bool extended : {false, true}) {
        WmfStream wmf(kBounds, 96);
        wmf.CreateFont(-16, "DejaVu Sans").Select(0).SetTextColour(kBlue);
        if (extended)
            wmf.ExtTextOut(30, 10, "Map");
        else
            wmf.TextOut(30, 10, "Map");
        const QImage image = RenderPicture(wmf.Bytes());
        const int ink = CountNot(image, kWhite);
        EXPECT_GT(ink, 30) << extended;
        // Top-left alignment: the text hangs right of and below the reference point.
        EXPECT_EQ(CountNotIn(image, QRect(29, 9, 60, 22), kWhite), ink) << extended;
    }
}

TEST(WmfRendererTest, HeaderReaderFindsThePlainWindow)
{
    WmfStream wmf;
    wmf.SetWindowExt(300, 200).SetWindowOrg(-10, -20).CreateBrush(kRed).Select(0).Rectangle({0, 0, 10, 10});
    const std::optional<WmfHeader> header = ReadWmfHeader(wmf.Bytes());
    ASSERT_TRUE(header.has_value());
    EXPECT_FALSE(header->placeable);
    EXPECT_EQ(header->frame, QRectF(-10, -20, 300, 200));
    EXPECT_EQ(header->recordsOffset, 18);
}
