// Enhanced metafiles built record by record: sizes from the header, bitmaps reproduced pixel
// for pixel, shapes, mapping, clipping, text and paths where the records put them, and the
// player's handling of records it does not know or cannot trust.

#include "imaging/EmfRenderer.h"
#include "imaging/MetafileCanvas.h"
#include "imaging/MetafilePicture.h"
#include "imaging/PictureService.h"
#include "platform/WinTypes.h"

#include "MetafileTestStreams.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <functional>

namespace {

// 96 x 48 pixels: the reference device has 960 pixels on 254 mm, 96 dpi, so one device pixel
// is one pixel of the picture.
constexpr Ltrb kFrame{0, 0, 2540, 1270};
constexpr QRgb kWhite = 0xFFFFFFFF;
const QColor kRed(220, 20, 30);
const QColor kBlue(20, 40, 200);
constexpr std::uint32_t NULL_PEN = 0x80000008u;
constexpr std::uint32_t BLACK_BRUSH = 0x80000004u;

/// A stream with a red brush and no pen selected, ready for filled shapes.
EmfStream RedFill(Ltrb frame = kFrame)
{
    EmfStream emf(frame);
    emf.CreateBrush(1, kRed).Select(1).Select(NULL_PEN);
    return emf;
}

/// Plays the bytes as an EMF onto a white image of the given size with device units as pixels.
/// Returns whether every record was played.
bool PlayOnto(const QByteArray& bytes, QImage& image)
{
    const std::optional<EmfHeader> header = ReadEmfHeader(bytes);
    EXPECT_TRUE(header.has_value());
    image.fill(Qt::white);
    QPainter painter(&image);
    MetafileCanvas canvas(&painter, QTransform(), header ? header->DevicePerMillimetre() : QSizeF(1, 1));
    return EmfRenderer(bytes, canvas).Play();
}

} // namespace

TEST(EmfRendererTest, PictureSizeIsTheFrameInHimetric)
{
    const struct {
        const char* what;
        Ltrb frame;
        Ltrb bounds;
        QSize himetric; // right - left by bottom - top of the frame
    } cases[] = {
        {"frame at the origin", {0, 0, 2540, 1270}, {0, 0, 95, 47}, {2540, 1270}},
        {"frame above the origin (negative y)", {0, -20999, 29699, 0}, {0, -9920, 14030, 0}, {29699, 20999}},
        {"frame away from the origin", {2712, 469, 22715, 13584}, {641, 112, 5359, 3205}, {20003, 13115}},
        // No frame: the bounds (inclusive device pixels, 96 x 48 of them at 96 dpi) decide.
        {"empty frame, size from the bounds", {0, 0, 0, 0}, {0, 0, 95, 47}, {2540, 1270}},
    };
    for (const auto& c : cases) {
        const QByteArray bytes = EmfStream(c.frame, c.bounds).Bytes();
        EXPECT_EQ(SniffPictureFormat(bytes), PictureFormat::Emf) << c.what;
        const std::unique_ptr<IPicture> picture = LoadPicture(bytes);
        ASSERT_NE(picture, nullptr) << c.what;
        EXPECT_EQ(picture->HimetricSize(), c.himetric) << c.what;
    }
}

TEST(EmfRendererTest, HeadersThatCannotBeShownAreRefused)
{
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        // 100 m by 100 m at 96 dpi would be a rendering of 377952 pixels a side.
        {"a frame of 100 m square", EmfStream({0, 0, 10000000, 10000000}).Bytes()},
        {"an empty frame and empty bounds", EmfStream({0, 0, 0, 0}, {5, 5, 4, 4}).Bytes()},
        {"a frame too small for one pixel", EmfStream({0, 0, 10, 10}).Bytes()},
        {"the header cut short", EmfStream(kFrame).Bytes().left(60)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadPicture(c.bytes), nullptr) << c.what;
}

TEST(EmfRendererTest, BitmapRecordsReproduceTheirPixelsOneToOne)
{
    const DibFormat layouts[] = {
        {1, 40, false, false, {0, 0, 0}, "1-bit"},
        {4, 40, false, false, {0, 0, 0}, "4-bit"},
        {8, 40, true, false, {0, 0, 0}, "8-bit top-down"},
        {16, 40, false, true, {0xF800, 0x07E0, 0x001F}, "16-bit 5-6-5"},
        {24, 40, false, false, {0, 0, 0}, "24-bit"},
        {32, 40, false, false, {0, 0, 0}, "32-bit"},
        {32, 124, false, true, {0x000000FF, 0x0000FF00, 0x00FF0000}, "32-bit V5 bitfields"},
    };
    const QPoint at(5, 3);
    const struct {
        const char* record;
        std::function<void(EmfStream&, const TestDib&)> add;
    } records[] = {
        {"STRETCHDIBITS", [&](EmfStream& e, const TestDib& d) {
             e.StretchDIBits({at.x(), at.y(), at.x() + 17, at.y() + 9}, {0, 0}, {17, 9}, d);
         }},
        {"BITBLT", [&](EmfStream& e, const TestDib& d) { e.Blit(at, {17, 9}, {0, 0}, {}, d); }},
        {"STRETCHBLT", [&](EmfStream& e, const TestDib& d) { e.Blit(at, {17, 9}, {0, 0}, {17, 9}, d); }},
        {"SETDIBITSTODEVICE", [&](EmfStream& e, const TestDib& d) { e.SetDIBitsToDevice(at, {0, 0}, {17, 9}, 0, 9, d); }},
    };
    for (const DibFormat& format : layouts) {
        const TestDib dib = MakeDib(17, 9, format);
        for (const auto& r : records) {
            EmfStream emf(kFrame);
            r.add(emf, dib);
            const QImage image = RenderPicture(emf.Bytes());
            ASSERT_EQ(image.size(), QSize(96, 48));
            EXPECT_EQ(image.copy(QRect(at, QSize(17, 9))), dib.expected) << r.record << " " << format.name;
            // Nothing outside the bitmap's place.
            EXPECT_EQ(CountNot(image, kWhite), CountNotIn(image, QRect(at, QSize(17, 9)), kWhite))
                << r.record << " " << format.name;
        }
    }
}

TEST(EmfRendererTest, SourceRectanglesCountRowsAsEachRecordDefines)
{
    for (const bool topDown : {false, true}) {
        const TestDib dib = MakeDib(17, 9, {24, 40, topDown, false, {0, 0, 0}, "24-bit"});
        const QPoint src(2, 1);
        const QSize size(5, 4);
        // STRETCHDIBITS: a bottom-up DIB counts the source's y from its bottom row.
        EmfStream stretch(kFrame);
        stretch.StretchDIBits({10, 10, 15, 14}, src, size, dib);
        const int top = topDown ? src.y() : 9 - src.y() - size.height();
        EXPECT_EQ(RenderPicture(stretch.Bytes()).copy(10, 10, 5, 4), dib.expected.copy(src.x(), top, 5, 4)) << topDown;
        // BITBLT: the source is a bitmap surface, counted from its top.
        EmfStream blit(kFrame);
        blit.Blit({10, 10}, size, src, {}, dib);
        EXPECT_EQ(RenderPicture(blit.Bytes()).copy(10, 10, 5, 4), dib.expected.copy(src.x(), src.y(), 5, 4)) << topDown;
    }
}

TEST(EmfRendererTest, StretchedBitmapsRepeatEachPixel)
{
    const TestDib dib = MakeDib(7, 5, {8, 40, false, false, {0, 0, 0}, "8-bit"});
    for (const int factor : {2, 3}) {
        EmfStream emf(kFrame);
        emf.StretchDIBits({4, 2, 4 + 7 * factor, 2 + 5 * factor}, {0, 0}, {7, 5}, dib);
        const QImage image = RenderPicture(emf.Bytes());
        for (int y = 0; y < 5 * factor; ++y)
            for (int x = 0; x < 7 * factor; ++x)
                ASSERT_EQ(image.pixel(4 + x, 2 + y), dib.expected.pixel(x / factor, y / factor))
                    << factor << ": " << x << "," << y;
    }
    // Negative destination extents mirror.
    EmfStream mirrored(kFrame);
    mirrored.StretchDIBits({4 + 7, 2, 4, 2 + 5}, {0, 0}, {7, 5}, dib);
    EXPECT_EQ(RenderPicture(mirrored.Bytes()).copy(4, 2, 7, 5), dib.expected.mirrored(true, false));
}

TEST(EmfRendererTest, BandOfScansLandsAtItsRows)
{
    const TestDib dib = MakeDib(6, 10, {24, 40, false, false, {0, 0, 0}, "24-bit"});
    // Scans 2 .. 5 (from the bottom) carried alone; the source rectangle names rows 2 .. 5 of
    // the whole bitmap from its bottom, which are its rows 4 .. 7 from the top.
    EmfStream emf(kFrame);
    emf.SetDIBitsToDevice({20, 5}, {0, 2}, {6, 4}, 2, 4, dib);
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(image.copy(20, 5, 6, 4), dib.expected.copy(0, 4, 6, 4));
    EXPECT_EQ(CountNot(image, kWhite), CountNotIn(image, QRect(20, 5, 6, 4), kWhite));
}

TEST(EmfRendererTest, ShapesFillWhereTheRecordsPutThem)
{
    const struct {
        const char* what;
        std::function<void(EmfStream&)> draw;
        QPoint inside;
        QPoint outside;
    } cases[] = {
        {"RECTANGLE", [](EmfStream& e) { e.Rectangle({10, 5, 30, 20}); }, {20, 12}, {40, 12}},
        {"ELLIPSE", [](EmfStream& e) { e.Ellipse({40, 4, 80, 44}); }, {60, 24}, {42, 6}},
        {"POLYGON16", [](EmfStream& e) { e.Polygon16({{10, 40}, {50, 40}, {30, 10}}); }, {30, 30}, {12, 12}},
        {"stock black brush",
         [](EmfStream& e) { e.Select(BLACK_BRUSH).Rectangle({60, 30, 90, 45}); }, {75, 37}, {55, 37}},
        {"ROUNDRECT: inside, but not in the rounded-off corner",
         [](EmfStream& e) { e.Record(44, Params().I32(10).I32(4).I32(50).I32(44).I32(20).I32(20)); }, {30, 24}, {11, 5}},
        // Arcs run counter-clockwise (as seen) from the radial through the start point to the
        // radial through the end point: east to north is the upper-right quarter.
        {"PIE east to north: upper right",
         [](EmfStream& e) { e.Record(47, Params().I32(10).I32(4).I32(50).I32(44).I32(50).I32(24).I32(30).I32(4)); },
         {40, 14}, {40, 34}},
        {"PIE east to north, clockwise: all but the upper right",
         [](EmfStream& e) {
             e.Record(57, Params().U32(2)); // SETARCDIRECTION AD_CLOCKWISE
             e.Record(47, Params().I32(10).I32(4).I32(50).I32(44).I32(50).I32(24).I32(30).I32(4));
         },
         {40, 34}, {40, 14}},
        {"CHORD east to west through north: upper half",
         [](EmfStream& e) { e.Record(46, Params().I32(10).I32(4).I32(50).I32(44).I32(50).I32(24).I32(10).I32(24)); },
         {30, 14}, {30, 34}},
    };
    for (const auto& c : cases) {
        EmfStream emf = RedFill();
        c.draw(emf);
        const QImage image = RenderPicture(emf.Bytes());
        EXPECT_NE(image.pixel(c.inside), kWhite) << c.what;
        EXPECT_EQ(image.pixel(c.outside), kWhite) << c.what;
    }
    // The rectangle's pixels are the brush's colour exactly.
    EmfStream emf = RedFill();
    emf.Rectangle({10, 5, 30, 20});
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(10, 5, 20, 15), kRed.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 20 * 15);
}

TEST(EmfRendererTest, PensDrawAlongTheirLines)
{
    EmfStream emf(kFrame);
    emf.CreatePen(1, kBlue, 0).Select(1).MoveTo(5, 30).LineTo(90, 30).MoveTo(50, 2).LineTo(50, 20);
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_GE(CountNotIn(image, QRect(5, 30, 85, 1), kWhite), 80);
    EXPECT_GE(CountNotIn(image, QRect(50, 2, 1, 18), kWhite), 16);
    // Nothing but the two lines: a cosmetic pen is one pixel wide.
    EXPECT_EQ(CountNot(image, kWhite), CountNotIn(image, QRect(5, 30, 86, 1), kWhite) +
                                           CountNotIn(image, QRect(50, 2, 1, 19), kWhite));
}

TEST(EmfRendererTest, GeometricPensHaveTheirWidth)
{
    constexpr std::uint32_t PS_GEOMETRIC = 0x10000, PS_ENDCAP_FLAT = 0x200;
    const struct {
        const char* what;
        std::function<void(EmfStream&)> pen;
        QPoint from, to; // logical units; on the device, a line through the middle row
        int width;       // device pixels
    } cases[] = {
        {"CREATEPEN 6 wide", [](EmfStream& e) { e.CreatePen(1, kBlue, 6); }, {10, 24}, {80, 24}, 6},
        {"EXTCREATEPEN geometric, flat ends, 8 wide",
         [](EmfStream& e) {
             e.Record(95, Params().U32(1).U32(0).U32(0).U32(0).U32(0).U32(PS_GEOMETRIC | PS_ENDCAP_FLAT).U32(8).U32(0)
                              .Colour(kBlue).U32(0).U32(0));
         },
         {10, 24}, {80, 24}, 8},
        // Two device pixels per logical unit: a pen of 3 units is 6 pixels.
        {"CREATEPEN 3 units wide at two pixels per unit",
         [](EmfStream& e) { e.SetMapMode(8).SetWindowExt(48, 24).SetViewportExt(96, 48).CreatePen(1, kBlue, 3); },
         {5, 12}, {40, 12}, 6},
    };
    for (const auto& c : cases) {
        EmfStream emf(kFrame);
        c.pen(emf);
        emf.Select(1).MoveTo(c.from.x(), c.from.y()).LineTo(c.to.x(), c.to.y());
        const QImage image = RenderPicture(emf.Bytes());
        // Across the middle of the line: exactly its width in pixels, centred on it.
        EXPECT_EQ(CountNotIn(image, QRect(45, 0, 1, 48), kWhite), c.width) << c.what;
        EXPECT_EQ(CountNotIn(image, QRect(45, 24 - c.width / 2, 1, c.width), kBlue.rgb()), 0) << c.what;
    }
}

TEST(EmfRendererTest, MappingPlacesLogicalUnitsOnTheDevice)
{
    const struct {
        const char* what;
        std::function<void(EmfStream&)> draw;
        QRect device; // where the red rectangle must land
    } cases[] = {
        {"MM_TEXT", [](EmfStream& e) { e.Rectangle({10, 10, 30, 20}); }, {10, 10, 20, 10}},
        {"window origin",
         [](EmfStream& e) { e.SetWindowOrg(-5, -3).Rectangle({10, 10, 30, 20}); }, {15, 13, 20, 10}},
        {"viewport origin",
         [](EmfStream& e) { e.SetViewportOrg(4, 2).Rectangle({10, 10, 30, 20}); }, {14, 12, 20, 10}},
        {"MM_ANISOTROPIC window 1000 x 500 on viewport 96 x 48",
         [](EmfStream& e) {
             e.SetMapMode(8).SetWindowExt(1000, 500).SetViewportExt(96, 48).Rectangle({500, 250, 750, 500});
         },
         {48, 24, 24, 24}},
        {"MM_ANISOTROPIC with y upward",
         [](EmfStream& e) {
             e.SetMapMode(8).SetWindowExt(96, -48).SetViewportExt(96, 48).SetWindowOrg(0, 48);
             e.Rectangle({0, 48, 20, 38}); // the logical top ten units
         },
         {0, 0, 20, 10}},
        {"MM_ISOTROPIC keeps units square",
         [](EmfStream& e) {
             e.SetMapMode(7).SetWindowExt(100, 100).SetViewportExt(96, 48).Rectangle({0, 0, 50, 50});
         },
         {0, 0, 24, 24}},
        // 0.1 mm units, y upward: 127 units are 12.7 mm, 48 pixels at 96 dpi.
        {"MM_LOMETRIC", [](EmfStream& e) { e.SetMapMode(2).Rectangle({0, 0, 127, -127}); }, {0, 0, 48, 48}},
        {"world transform: scale 2, move 10",
         [](EmfStream& e) {
             e.Record(35, Params().F32(2).F32(0).F32(0).F32(2).F32(10).F32(0));
             e.Rectangle({0, 0, 10, 10});
         },
         {10, 0, 20, 20}},
        {"world transform modified by left multiplication",
         [](EmfStream& e) {
             e.Record(35, Params().F32(2).F32(0).F32(0).F32(2).F32(0).F32(0));
             e.Record(36, Params().F32(1).F32(0).F32(0).F32(1).F32(5).F32(5).U32(2)); // move, then scale
             e.Rectangle({0, 0, 10, 10});
         },
         {10, 10, 20, 20}},
    };
    for (const auto& c : cases) {
        EmfStream emf = RedFill();
        c.draw(emf);
        const QImage image = RenderPicture(emf.Bytes());
        EXPECT_EQ(CountNotIn(image, c.device, kRed.rgb()), 0) << c.what;
        EXPECT_EQ(CountNot(image, kWhite), c.device.width() * c.device.height()) << c.what;
    }
}

TEST(EmfRendererTest, SavedStatesComeBack)
{
    EmfStream emf(kFrame);
    emf.CreateBrush(1, kBlue).CreateBrush(2, kRed).Select(1).Select(NULL_PEN);
    emf.Record(33); // SAVEDC
    emf.Select(2).SetWindowOrg(-40, 0).IntersectClipRect({0, 0, 5, 5});
    emf.Record(34, Params().I32(-1)); // RESTOREDC
    emf.Rectangle({10, 10, 20, 20});
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(10, 10, 10, 10), kBlue.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 100);
}

TEST(EmfRendererTest, ClippingKeepsDrawingInsideTheClip)
{
    auto region = [](std::initializer_list<Ltrb> rects) {
        Params p;
        p.U32(32).U32(1).U32(std::uint32_t(rects.size())).U32(std::uint32_t(rects.size() * 16));
        p.I32(0).I32(0).I32(96).I32(48);
        for (const Ltrb& r : rects)
            p.I32(r.l).I32(r.t).I32(r.r).I32(r.b);
        return p.m_Bytes;
    };
    const struct {
        const char* what;
        std::function<void(EmfStream&)> clip;
        int expectedPixels;
        QRect inside;
    } cases[] = {
        {"INTERSECTCLIPRECT", [](EmfStream& e) { e.IntersectClipRect({10, 10, 20, 20}); }, 100, {10, 10, 10, 10}},
        {"EXCLUDECLIPRECT", [](EmfStream& e) { e.Record(29, Params().I32(0).I32(0).I32(48).I32(48)); }, 48 * 48,
         {48, 0, 48, 48}},
        {"EXTSELECTCLIPRGN copy of two rectangles",
         [&](EmfStream& e) {
             const QByteArray data = region({{0, 0, 4, 4}, {50, 10, 60, 20}});
             e.Record(75, Params().U32(std::uint32_t(data.size())).U32(5).Bytes(data));
         },
         16 + 100, {50, 10, 10, 10}},
        {"EXTSELECTCLIPRGN copy of nothing removes the clip",
         [](EmfStream& e) {
             e.IntersectClipRect({10, 10, 20, 20});
             e.Record(75, Params().U32(0).U32(5));
         },
         96 * 48, {0, 0, 96, 48}},
        {"clip in window units",
         [](EmfStream& e) { e.SetWindowOrg(-10, -10).IntersectClipRect({0, 0, 10, 10}); }, 100, {10, 10, 10, 10}},
    };
    for (const auto& c : cases) {
        EmfStream emf = RedFill();
        c.clip(emf);
        emf.Rectangle({-100, -100, 200, 200});
        const QImage image = RenderPicture(emf.Bytes());
        EXPECT_EQ(CountNot(image, kWhite), c.expectedPixels) << c.what;
        EXPECT_EQ(CountNotIn(image, c.inside, kRed.rgb()), 0) << c.what;
    }
}

TEST(EmfRendererTest, TextIsDrawnWhereItsAlignmentPutsIt)
{
    constexpr std::uint32_t TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24;
    const struct {
        const char* what;
        std::uint32_t align;
        QRect ink; // where all the ink must be, around the reference point (48, 24)
    } cases[] = {
        {"top left", 0, {47, 23, 49, 25}},
        {"top right", TA_RIGHT, {0, 23, 50, 25}},
        {"bottom left", TA_BOTTOM, {47, 0, 49, 26}},
        {"baseline centre", TA_BASELINE | TA_CENTER, {15, 4, 66, 26}},
    };
    for (const auto& c : cases) {
        EmfStream emf(kFrame);
        emf.CreateFont(1, -16, QStringLiteral("DejaVu Sans")).Select(1).SetTextColour(kRed).SetBkMode(1);
        emf.SetTextAlign(c.align).ExtTextOutW(48, 24, QStringLiteral("WWW"));
        const QImage image = RenderPicture(emf.Bytes());
        const int ink = CountNot(image, kWhite);
        EXPECT_GT(ink, 30) << c.what;
        EXPECT_EQ(CountNotIn(image, c.ink, kWhite), ink) << c.what;
    }
}

TEST(EmfRendererTest, OpaqueTextBackgroundAndRectangle)
{
    EmfStream emf(kFrame);
    emf.Record(25, Params().Colour(kBlue)); // SETBKCOLOR
    emf.ExtTextOutW(0, 0, QString(), 2 /* ETO_OPAQUE */, {60, 10, 80, 30});
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(60, 10, 20, 20), kBlue.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 400);
}

TEST(EmfRendererTest, PathsAreFilledWhenTheRecordsSaySo)
{
    auto triangle = [](bool fill) {
        EmfStream emf = RedFill();
        emf.Record(59); // BEGINPATH
        emf.MoveTo(10, 40).LineTo(60, 40).LineTo(35, 5);
        emf.Record(61).Record(60); // CLOSEFIGURE, ENDPATH
        if (fill)
            emf.Record(62, Params().I32(0).I32(0).I32(0).I32(0)); // FILLPATH
        return RenderPicture(emf.Bytes());
    };
    const QImage filled = triangle(true);
    EXPECT_EQ(filled.pixel(35, 30), kRed.rgb());
    EXPECT_EQ(filled.pixel(12, 10), kWhite);
    EXPECT_EQ(filled.pixel(80, 30), kWhite);
    // Without FILLPATH the lines only build the path: nothing is drawn.
    EXPECT_EQ(CountNot(triangle(false), kWhite), 0);
}

TEST(EmfRendererTest, CommentsAndUnknownRecordsAreSkipped)
{
    EmfStream emf = RedFill();
    // An EMF+ record inside a comment: its bytes would fill the picture if they were played.
    Params plus;
    plus.U32(0x2B464D45).U16(0x400A).U16(0).U32(28).U32(16).U32(0).I32(0).I32(0);
    emf.Record(70, Params().U32(std::uint32_t(plus.m_Bytes.size())).Bytes(plus.m_Bytes));
    emf.Record(0x7777, Params().U32(1).U32(2)); // a record type no writer uses
    emf.Rectangle({10, 10, 20, 20});            // the EMF record that accompanies them
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(10, 10, 10, 10), kRed.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 100);
}

TEST(EmfRendererTest, BrokenRecordEndsThePlayingWithWhatCameBefore)
{
    const struct {
        const char* what;
        QByteArray record; // type, size and parameters
    } broken[] = {
        {"POLYGON16 claiming 1000 points", Params().U32(86).U32(8 + 20 + 12).I32(0).I32(0).I32(0).I32(0).U32(1000)
                                                .I16(1).I16(1).I16(5).I16(5).I16(9).I16(1).m_Bytes},
        {"record size 0", Params().U32(43).U32(0).m_Bytes},
        {"record size beyond the file", Params().U32(43).U32(0x10000).I32(0).I32(0).I32(5).I32(5).m_Bytes},
        {"STRETCHDIBITS with its bitmap outside the record",
         Params().U32(81).U32(80).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(1).I32(1)
             .U32(5000).U32(40).U32(5040).U32(4).U32(0).U32(0x00CC0020).I32(1).I32(1).m_Bytes},
        {"RECTANGLE without its rectangle", Params().U32(43).U32(12).I32(1).m_Bytes},
    };
    for (const auto& b : broken) {
        EmfStream before = RedFill();
        before.Rectangle({10, 10, 20, 20});
        QByteArray bytes = before.Bytes();
        bytes.chop(20); // EMR_EOF
        bytes.append(b.record);
        EmfStream after = RedFill(); // a rectangle that must not be drawn
        after.Rectangle({50, 10, 60, 20});
        bytes.append(after.Bytes().mid(108, after.Bytes().size() - 108 - 20));

        QImage image(96, 48, QImage::Format_RGB32);
        EXPECT_FALSE(PlayOnto(bytes, image)) << b.what;
        EXPECT_EQ(CountNotIn(image, QRect(10, 10, 10, 10), kRed.rgb()), 0) << b.what;
        EXPECT_EQ(CountNot(image, kWhite), 100) << b.what;
    }
}

TEST(EmfRendererTest, DrawPartShowsThatPartOfTheWhole)
{
    // A checkerboard of 8-pixel squares: drawing the central half at 96 x 48 must give the
    // centre of the picture drawn at twice that size.
    EmfStream emf = RedFill();
    for (int y = 0; y < 48; y += 8)
        for (int x = (y / 8) % 2 * 8; x < 96; x += 16)
            emf.Rectangle({x, y, x + 8, y + 8});
    const std::unique_ptr<IPicture> picture = LoadPicture(emf.Bytes());
    ASSERT_NE(picture, nullptr);
    const QSize h = picture->HimetricSize();
    QImage whole(192, 96, QImage::Format_RGB32);
    whole.fill(Qt::white);
    QPainter wp(&whole);
    picture->Render(wp, QRect(0, 0, 192, 96), 0, h.height(), h.width(), -h.height());
    wp.end();
    QImage part(96, 48, QImage::Format_RGB32);
    part.fill(Qt::white);
    QPainter pp(&part);
    picture->Render(pp, QRect(0, 0, 96, 48), h.width() / 4, h.height() * 3 / 4, h.width() / 2, -h.height() / 2);
    pp.end();
    EXPECT_EQ(part, whole.copy(48, 24, 96, 48));
    // Nothing is drawn outside the destination rectangle.
    QImage framed(120, 70, QImage::Format_RGB32);
    framed.fill(Qt::white);
    QPainter fp(&framed);
    picture->Render(fp, QRect(10, 10, 96, 48), h.width() / 4, h.height() * 3 / 4, h.width() / 2, -h.height() / 2);
    fp.end();
    EXPECT_EQ(CountNot(framed, kWhite), CountNotIn(framed, QRect(10, 10, 96, 48), kWhite));
    EXPECT_EQ(framed.copy(10, 10, 96, 48), part);
}
