// The metafile player trusts nothing in its input: broken, garbage and hostile metafiles are
// refused or drawn as far as they can be, never beyond the destination rectangle, and never
// with unbounded reading, looping or allocation. Inputs the fuzzer found are kept here as bytes.

#include "imaging/EmfRenderer.h"
#include "imaging/MetafileCanvas.h"
#include "imaging/MetafileObjectTable.h"
#include "imaging/MetafilePicture.h"
#include "imaging/PictureService.h"

#include "MetafileTestStreams.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <random>

namespace {

constexpr Ltrb kFrame{0, 0, 2540, 1270}; // 96 x 48 pixels
constexpr QRgb kWhite = 0xFFFFFFFF;
const QColor kRed(220, 20, 30);
const QColor kBlue(20, 40, 200);
constexpr std::uint32_t NULL_PEN = 0x80000008u;

/// Loads the bytes as whatever the picture service sniffs, draws the picture into the middle
/// of a larger image and returns how many pixels changed outside the destination rectangle
/// (0 when the picture is refused).
int PixelsDrawnOutside(const QByteArray& bytes)
{
    const std::unique_ptr<IPicture> picture = LoadPicture(bytes);
    if (!picture)
        return 0;
    const QSize h = picture->HimetricSize();
    const QRect dest(10, 10, 100, 60);
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    EXPECT_TRUE(picture->Render(painter, dest, 0, h.height(), h.width(), -h.height()));
    EXPECT_TRUE(picture->Render(painter, dest, h.width() / 3, h.height() / 2, h.width() / 3, -h.height() / 3));
    painter.end();
    return CountNot(image, kWhite) - CountNotIn(image, dest, kWhite);
}

QByteArray RandomBytes(std::mt19937& rng, int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(rng() & 0xFF);
    return bytes;
}

/// Records that draw plausible things with garbage in some of their fields.
QByteArray PlausibleRecords(std::mt19937& rng, int count)
{
    static const std::uint32_t kTypes[] = {3,  4,  9,  10, 11, 12, 17, 22, 24, 27, 30, 33, 34, 35, 36, 37, 38, 39,
                                           40, 42, 43, 44, 45, 54, 59, 60, 62, 75, 76, 77, 81, 82, 84, 86, 95, 118};
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t type = kTypes[rng() % (sizeof kTypes / sizeof kTypes[0])];
        const int words = int(rng() % 24);
        Params p;
        p.U32(type).U32(std::uint32_t(8 + words * 4));
        for (int w = 0; w < words; ++w)
            p.U32(rng() % 4 == 0 ? std::uint32_t(rng()) : std::uint32_t(rng() % 200));
        out.append(p.m_Bytes);
    }
    return out;
}

} // namespace

TEST(MetafileRobustnessTest, GarbageAfterValidHeadersStaysInsideTheDestination)
{
    std::mt19937 rng(20240607);
    const QByteArray emfHeader = EmfStream(kFrame).Bytes().left(108);
    QByteArray wmfHeader = WmfStream({0, 0, 96, 48}, 96).Bytes();
    wmfHeader.chop(6); // META_EOF
    for (int round = 0; round < 150; ++round) {
        const int size = int(rng() % 2000);
        EXPECT_EQ(PixelsDrawnOutside(emfHeader + RandomBytes(rng, size)), 0) << round;
        EXPECT_EQ(PixelsDrawnOutside(emfHeader + PlausibleRecords(rng, 40)), 0) << round;
        EXPECT_EQ(PixelsDrawnOutside(wmfHeader + RandomBytes(rng, size)), 0) << round;
    }
}

TEST(MetafileRobustnessTest, GarbageFilesAreRefusedOrDrawnInside)
{
    std::mt19937 rng(77);
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes = RandomBytes(rng, int(44 + rng() % 400)); // room for the marks below
        // Give half of them the marks a sniffer looks for, so that the headers' own checks
        // are what refuses them.
        if (round % 2) {
            bytes[0] = 1, bytes[1] = 0, bytes[2] = 0, bytes[3] = 0;
            bytes[40] = ' ', bytes[41] = 'E', bytes[42] = 'M', bytes[43] = 'F';
        } else {
            bytes[0] = char(0xD7), bytes[1] = char(0xCD), bytes[2] = char(0xC6), bytes[3] = char(0x9A);
        }
        EXPECT_EQ(PixelsDrawnOutside(bytes), 0) << round;
    }
}

TEST(MetafileRobustnessTest, SavedStatesAreCappedAndAbsoluteRestoreWorks)
{
    EmfStream emf(kFrame);
    emf.CreateBrush(1, kRed).CreateBrush(2, kBlue).Select(1).Select(NULL_PEN);
    for (int i = 0; i < 12000; ++i)
        emf.Record(33); // SAVEDC, more than are kept
    emf.Select(2);
    emf.Record(34, Params().I32(-20000)); // more than were saved: ignored
    emf.Rectangle({0, 0, 10, 10});        // still blue
    emf.Record(34, Params().I32(1));      // back to the first saved state
    emf.Rectangle({20, 0, 30, 10});       // red
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(0, 0, 10, 10), kBlue.rgb()), 0);
    EXPECT_EQ(CountNotIn(image, QRect(20, 0, 10, 10), kRed.rgb()), 0);
}

TEST(MetafileRobustnessTest, ObjectIndexesBeyondTheTableAreIgnored)
{
    EmfStream emf(kFrame);
    emf.CreateBrush(1, kRed).Select(1).Select(NULL_PEN);
    emf.CreateBrush(0xFFFFFFF0u, kBlue).Select(0xFFFFFFF0u).Delete(0xFFFFFFF0u).Select(0x7FFFFFFFu);
    emf.Rectangle({0, 0, 10, 10});
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(0, 0, 10, 10), kRed.rgb()), 0);

    MetafileObjectTable table;
    EXPECT_FALSE(table.Store(MetafileObjectTable::kMaxObjects, MetafileBrush{}));
    EXPECT_TRUE(table.Store(MetafileObjectTable::kMaxObjects - 1, MetafileBrush{}));
    EXPECT_EQ(table.Find(5), nullptr);
}

TEST(MetafileRobustnessTest, ExtremeCoordinatesAndTransformsDrawNothingOutside)
{
    const struct {
        const char* what;
        std::function<void(EmfStream&)> draw;
    } cases[] = {
        {"rectangle over the whole integer range",
         [](EmfStream& e) { e.Rectangle({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}); }},
        {"world transform of 1e30",
         [](EmfStream& e) {
             e.Record(35, Params().F32(1e30f).F32(0).F32(0).F32(1e30f).F32(0).F32(0)).Rectangle({0, 0, 5, 5});
         }},
        {"world transform that is not finite",
         [](EmfStream& e) {
             e.Record(35, Params().F32(std::numeric_limits<float>::infinity()).F32(0).F32(0).F32(1).F32(0).F32(0));
             e.Rectangle({0, 0, 5, 5});
         }},
        {"window extent of one unit in two billion",
         [](EmfStream& e) { e.SetMapMode(8).SetWindowExt(INT32_MAX, 1).SetViewportExt(1, INT32_MAX).Ellipse({0, 0, 9, 9}); }},
        {"pen two billion units wide",
         [](EmfStream& e) { e.CreatePen(3, kBlue, INT32_MAX).Select(3).MoveTo(0, 0).LineTo(50, 20); }},
        {"user dash pattern of zeros",
         [](EmfStream& e) {
             e.Record(95, Params().U32(3).U32(0).U32(0).U32(0).U32(0).U32(0x10007).U32(1).U32(0).Colour(kBlue).U32(0)
                              .U32(4).U32(0).U32(0).U32(0).U32(0));
             e.Select(3).MoveTo(-1000000, 10).LineTo(1000000, 10);
         }},
        {"font a billion units high",
         [](EmfStream& e) { e.CreateFont(3, -1000000000, QStringLiteral("Sans")).Select(3).ExtTextOutW(0, 0, QStringLiteral("A")); }},
        {"arc with start and end at the centre",
         [](EmfStream& e) { e.Record(45, Params().I32(0).I32(0).I32(10).I32(10).I32(5).I32(5).I32(5).I32(5)); }},
    };
    for (const auto& c : cases) {
        EmfStream emf(kFrame);
        emf.CreateBrush(1, kRed).Select(1);
        c.draw(emf);
        EXPECT_EQ(PixelsDrawnOutside(emf.Bytes()), 0) << c.what;
    }
}

TEST(MetafileRobustnessTest, BitmapsClaimingMoreThanTheyCarryAreNotDrawn)
{
    // A DIB header of 100000 x 100000 pixels with 16 bytes of rows: not drawn, and the records
    // after it still are.
    Params info;
    info.U32(40).I32(100000).I32(100000).U16(1).U16(24).U32(0).U32(0).I32(0).I32(0).U32(0).U32(0);
    TestDib huge{info.m_Bytes, QByteArray(16, 'x'), QImage()};
    EmfStream emf(kFrame);
    emf.StretchDIBits({0, 0, 40, 40}, {0, 0}, {100000, 100000}, huge);
    emf.CreateBrush(1, kRed).Select(1).Select(NULL_PEN).Rectangle({50, 10, 60, 20});
    const QImage image = RenderPicture(emf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(50, 10, 10, 10), kRed.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 100);
}

TEST(MetafileRobustnessTest, RegionAndPolygonCountsBeyondTheRecordEndThePlaying)
{
    const struct {
        const char* what;
        QByteArray record;
    } cases[] = {
        {"EXTSELECTCLIPRGN counting 2^28 rectangles",
         Params().U32(75).U32(8 + 8 + 32).U32(32).U32(5).U32(32).U32(1).U32(1u << 28).U32(0).I32(0).I32(0).I32(1).I32(1).m_Bytes},
        {"POLYPOLYGON16 whose counts disagree with its total",
         Params().U32(91).U32(8 + 24 + 8 + 8).I32(0).I32(0).I32(0).I32(0).U32(2).U32(2).U32(3).U32(3)
             .I16(0).I16(0).I16(5).I16(5).m_Bytes},
        {"POLYPOLYGON counting four billion polygons",
         Params().U32(8).U32(8 + 24).I32(0).I32(0).I32(0).I32(0).U32(0xFFFFFFFFu).U32(0).m_Bytes},
        {"GRADIENTFILL counting more vertices than it has",
         Params().U32(118).U32(8 + 28).I32(0).I32(0).I32(0).I32(0).U32(1000).U32(1).U32(0).m_Bytes},
        {"EXTTEXTOUTW whose string lies beyond the record",
         Params().U32(84).U32(76).I32(0).I32(0).I32(0).I32(0).U32(1).F32(0).F32(0).I32(0).I32(0).U32(50)
             .U32(1000).U32(0).I32(0).I32(0).I32(0).I32(0).U32(0).m_Bytes},
    };
    for (const auto& c : cases) {
        QByteArray bytes = EmfStream(kFrame).Bytes();
        bytes.chop(20);
        bytes.append(c.record);
        QImage image(96, 48, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        MetafileCanvas canvas(&painter, QTransform(), QSizeF(960 / 254.0, 960 / 254.0));
        EXPECT_FALSE(EmfRenderer(bytes, canvas).Play()) << c.what;
    }
}

TEST(MetafileRobustnessTest, WmfObjectTableAndRegionsTrustNothing)
{
    WmfStream wmf({0, 0, 96, 48}, 96);
    wmf.CreatePen(Qt::black, 0, 5).Select(0).CreateBrush(kRed).Select(1);
    wmf.Select(60000).Delete(60000).Select(7); // entries that do not exist
    // A region whose scan list claims far more than it holds: its bounding box is used.
    wmf.Record(0x06FF, Params().U16(0).U16(6).U16(0).U16(0).I16(30000).I16(0).I16(10).I16(10).I16(20).I16(20)
                           .U16(4000).I16(10).I16(20).I16(10).I16(20));
    wmf.Record(0x012C, Params().U16(2)); // SELECTCLIPREGION
    wmf.Rectangle({0, 0, 96, 48});
    const QImage image = RenderPicture(wmf.Bytes());
    EXPECT_EQ(CountNotIn(image, QRect(10, 10, 10, 10), kRed.rgb()), 0);
    EXPECT_EQ(CountNot(image, kWhite), 100);
}
