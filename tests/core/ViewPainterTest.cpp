#include "document/CQuilletDoc.h"
#include "imaging/BmpEncoding.h"
#include "view/core/ViewIcons.h"
#include "view/core/ViewPainter.h"
#include "view/core/ViewState.h"

#include "TestDocs.h"
#include "ViewStateProbe.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

/// A picture map of w x h pixels whose left half is red and right half blue.
void LoadTwoColourMap(CQuilletDoc& doc, int w, int h)
{
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w / 2; ++x)
            picture.setPixel(x, y, qRgb(255, 0, 0));
    const QByteArray bmp = EncodeBmp24(picture);
    CPicture loaded;
    loaded.LoadFromMemory(bmp);
    loaded.m_nWidth = w;
    loaded.m_nHeight = h;
    doc.InstallPictureMap(QStringLiteral("/maps/two.bmp"), MapKind::Bmp, std::move(loaded), bmp);
}

QImage Paint(CQuilletDoc& doc, ViewState& view, int cw, int ch, MapPlacement* placement = nullptr)
{
    QImage client(cw, ch, QImage::Format_RGB32);
    client.fill(Qt::white);
    QPainter painter(&client);
    PaintView(painter, doc, view, cw, ch, placement);
    painter.end();
    return client;
}

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);

/// The 32 x 32 block at (x, y) of image equals the icon drawn over background.
bool ShowsIcon(const QImage& image, int x, int y, int id, QRgb background)
{
    QImage expected(32, 32, QImage::Format_RGB32);
    expected.fill(background);
    QPainter painter(&expected);
    painter.drawImage(0, 0, ViewIcon(id));
    painter.end();
    return image.copy(x, y, 32, 32) == expected;
}

} // namespace

TEST(ViewPainter, WholeFrameCentresThePicture)
{
    CQuilletDoc doc;
    ViewState view;
    LoadTwoColourMap(doc, 200, 100);
    MapPlacement m;
    const QImage shown = Paint(doc, view, 201, 201, &m);
    // Twice as wide as high in a square client: rows 50 to 150 hold the picture.
    EXPECT_EQ(m.m_Destination, QRect(0, 50, 200, 100));
    EXPECT_EQ(m.L, 0.0);
    EXPECT_EQ(m.B, 0.0);
    EXPECT_EQ(m.R, 1.0);
    EXPECT_EQ(m.T, 1.0);
    EXPECT_EQ(shown.pixel(50, 100), kRed);
    EXPECT_EQ(shown.pixel(150, 100), kBlue);
    EXPECT_EQ(shown.pixel(100, 30), kWhite);
    EXPECT_EQ(shown.pixel(100, 160), kWhite);
    EXPECT_EQ(shown.pixel(50, 50), kRed);
    EXPECT_EQ(shown.pixel(50, 149), kRed);
    EXPECT_EQ(shown.pixel(50, 150), kWhite);
}

TEST(ViewPainter, ZoomedInClipsTheSourceFractions)
{
    CQuilletDoc doc;
    ViewState view;
    LoadTwoColourMap(doc, 200, 200);
    view.SetWindow({0.25, 0.25, 0.75, 0.75});
    MapPlacement m;
    const QImage shown = Paint(doc, view, 201, 201, &m);
    // The picture spans -100 .. 300 in both directions; the client shows its middle half.
    EXPECT_EQ(m.m_Destination, QRect(0, 0, 201, 201));
    EXPECT_DOUBLE_EQ(m.L, 0.25);
    EXPECT_DOUBLE_EQ(m.R, 301.0 / 400);
    EXPECT_DOUBLE_EQ(m.B, 99.0 / 400);
    EXPECT_DOUBLE_EQ(m.T, 0.75);
    // The red half ends at the middle of the picture, the middle of the client.
    EXPECT_EQ(shown.pixel(90, 100), kRed);
    EXPECT_EQ(shown.pixel(110, 100), kBlue);
    EXPECT_EQ(shown.pixel(2, 2), kRed);
}

TEST(ViewPainter, MarkersAndNumbersSitOnThePoints)
{
    CQuilletDoc doc;
    ViewState view;
    LoadTwoColourMap(doc, 401, 301);
    SetPointsAndModel(doc,
                      {{0, 0, 100.0 / 400, 1 - 100.0 / 300}, {0, 0, 300.0 / 400, 1 - 200.0 / 300},
                       {0, 0, 200.0 / 400, 1 - 250.0 / 300}},
                      false, {});
    const QImage shown = Paint(doc, view, 401, 301);
    doc.SetShowPoints(false);
    const QImage hidden = Paint(doc, view, 401, 301);
    for (const QPoint p : {QPoint(100, 100), QPoint(300, 200), QPoint(200, 250)}) {
        // The marker is centred on the point and differs from the map there...
        int changed = 0;
        for (int dy = -16; dy < 16; ++dy)
            for (int dx = -16; dx < 0; ++dx)
                changed += shown.pixel(p.x() + dx, p.y() + dy) != hidden.pixel(p.x() + dx, p.y() + dy);
        EXPECT_GT(changed, 20) << p.x();
        // ...and the number's white box starts 4 pixels right of and below it.
        EXPECT_EQ(shown.pixel(p.x() + 4, p.y() + 4), kWhite) << p.x();
        int dark = 0;
        for (int dy = 4; dy < 20; ++dy)
            for (int dx = 4; dx < 14; ++dx)
                dark += qGray(shown.pixel(p.x() + dx, p.y() + dy)) < 100;
        EXPECT_GT(dark, 3) << p.x();
    }
    // Far from every point, the two paints agree.
    EXPECT_EQ(shown.copy(0, 230, 100, 70), hidden.copy(0, 230, 100, 70));
}

TEST(ViewPainter, RangeIsDrawnOnlyWithBothCornersOnThePicture)
{
    CQuilletDoc doc;
    ViewState view;
    LoadTwoColourMap(doc, 200, 100); // drawn at rows 50 .. 149 of a 201 x 201 client
    SetPointsAndModel(doc, {}, true, {});
    ViewStateProbe::ActiveTool(view) = Tool::SelectRange;
    ViewStateProbe::RangeStart(view) = QPoint(20, 60);
    ViewStateProbe::RangeEnd(view) = QPoint(180, 140);
    const QImage inside = Paint(doc, view, 201, 201);
    const QRgb pen = qRgb(50, 50, 10);
    int onEdge = 0;
    for (int x = 20; x <= 180; ++x)
        onEdge += inside.pixel(x, 60) == pen;
    EXPECT_GT(onEdge, 40); // dashed
    EXPECT_LT(onEdge, 161);

    ViewStateProbe::RangeEnd(view) = QPoint(180, 160); // below the picture
    const QImage outside = Paint(doc, view, 201, 201);
    for (int x = 20; x <= 180; ++x)
        ASSERT_NE(outside.pixel(x, 60), pen) << x;

    ViewStateProbe::RangeEnd(view) = QPoint(180, 140);
    ViewStateProbe::ActiveTool(view) = Tool::None;
    const QImage toolOff = Paint(doc, view, 201, 201);
    for (int x = 20; x <= 180; ++x)
        ASSERT_NE(toolOff.pixel(x, 60), pen) << x;
}

TEST(ViewPainter, StatusIconSwitchesWithTheGeoCoding)
{
    CQuilletDoc doc;
    ViewState view;
    LoadTwoColourMap(doc, 100, 100);
    const QImage before = Paint(doc, view, 301, 101);
    EXPECT_TRUE(ShowsIcon(before, 301 - 33, 1, IDI_NOT_GEOCODED, kWhite));
    EXPECT_FALSE(ShowsIcon(before, 301 - 33, 1, IDI_GEOCODED, kWhite));
    SetPointsAndModel(doc, {}, true, {});
    const QImage after = Paint(doc, view, 301, 101);
    EXPECT_TRUE(ShowsIcon(after, 301 - 33, 1, IDI_GEOCODED, kWhite));
}

TEST(ViewPainter, NothingIsPaintedWithoutAMap)
{
    CQuilletDoc doc;
    ViewState view;
    QImage client(50, 50, QImage::Format_RGB32);
    client.fill(Qt::white);
    QPainter painter(&client);
    EXPECT_FALSE(PaintView(painter, doc, view, 50, 50));
    painter.end();
    QImage white(50, 50, QImage::Format_RGB32);
    white.fill(Qt::white);
    EXPECT_EQ(client, white);
}

TEST(ViewPainter, DisplayCopyOfTheDestinationSizeIsBlitted)
{
    CQuilletDoc doc;
    ViewState view;
    std::vector<DIBSection> images(1);
    images[0].Create(24, 200, 100);
    doc.InstallTiffMap(QStringLiteral("/maps/scan.tif"), MapKind::Tif, std::move(images));
    DIBSection& copy = ViewStateProbe::DisplayCopy(view);
    copy.Create(24, 200, 100);
    for (int r = 0; r < 100; ++r)
        for (int c = 0; c < 200; ++c) {
            std::uint8_t* p = copy.StoredRow(r) + 3 * c;
            p[0] = static_cast<std::uint8_t>(c);
            p[1] = static_cast<std::uint8_t>(r);
            p[2] = 7;
        }
    MapPlacement m;
    const QImage shown = Paint(doc, view, 201, 201, &m);
    ASSERT_EQ(m.m_Destination.size(), QSize(200, 100));
    for (int y = 0; y < 100; y += 9)
        for (int x = 0; x < 200; x += 7)
            ASSERT_EQ(shown.pixel(m.m_Destination.x() + x, m.m_Destination.y() + y), qRgb(7, 99 - y, x)) << x << "," << y;
}

TEST(ViewPainter, FeedbackDrawsTheBandsAndTheDraggedMarker)
{
    ViewState view;
    QImage blank(200, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QImage drawn = blank;
    QPainter painter(&drawn);
    PaintFeedback(painter, view); // nothing in progress
    painter.end();
    EXPECT_EQ(drawn, blank);

    ViewStateProbe::ActiveTool(view) = Tool::Measure;
    ViewStateProbe::Measuring(view) = true;
    ViewStateProbe::MeasureStart(view) = QPoint(10, 100);
    ViewStateProbe::MeasureEnd(view) = QPoint(190, 100);
    QPainter feedback(&drawn);
    PaintFeedback(feedback, view);
    feedback.end();
    ViewStateProbe::ActiveTool(view) = Tool::MovePoint; // one tool at a time: the marker over the line
    ViewStateProbe::MoveAt(view) = QPoint(100, 40);
    QPainter marker(&drawn);
    PaintFeedback(marker, view);
    marker.end();
    int blue = 0;
    for (int x = 10; x <= 190; ++x)
        blue += drawn.pixel(x, 100) == qRgb(0, 0, 255);
    EXPECT_GT(blue, 40);
    EXPECT_TRUE(ShowsIcon(drawn, 84, 24, IDI_POINT_MARKER, kWhite));
}
