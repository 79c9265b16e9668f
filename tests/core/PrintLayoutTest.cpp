#include "view/core/ViewState.h"
#include "view/core/PrintLayout.h"

#include <QPainter>

#include <gtest/gtest.h>

TEST(Printing, PictureIsScaledToThePageWithItsMargin)
{
    const struct {
        QSize page, bitmap;
        QRect printed;
    } cases[] = {
        // sx = 6, sy = 10: limited by the width.
        {QSize(480, 600), QSize(80, 60), QRect(10, 10, 460, 340)},
        // sx = 7.5, sy = 5: limited by the height, centred across.
        {QSize(600, 300), QSize(80, 60), QRect(110, 10, 380, 280)},
        // Equal ratios count as width-limited.
        {QSize(800, 600), QSize(80, 60), QRect(10, 10, 780, 580)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComputePrintRectangle(c.page, c.bitmap), c.printed) << c.page.width() << "x" << c.page.height();
}

TEST(Printing, PrintsTheLastPaintWithAFrameOrNothing)
{
    ViewState view;
    QImage page(480, 600, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter nothing(&page);
    EXPECT_TRUE(PrintView(nothing, view, page.size()).isEmpty());
    nothing.end();
    QImage white(480, 600, QImage::Format_RGB32);
    white.fill(Qt::white);
    EXPECT_EQ(page, white);

    auto capture = std::make_unique<QImage>(80, 60, QImage::Format_RGB32);
    capture->fill(qRgb(0, 128, 0));
    view.KeepViewBitmap(std::move(capture));
    QPainter painter(&page);
    painter.setPen(QPen(Qt::red, 1));
    const QRect printed = PrintView(painter, view, page.size());
    painter.end();
    EXPECT_EQ(printed, QRect(10, 10, 460, 340));
    EXPECT_EQ(page.pixel(200, 200), qRgb(0, 128, 0));
    EXPECT_EQ(page.pixel(5, 200), qRgb(255, 255, 255));
    EXPECT_EQ(page.pixel(200, 400), qRgb(255, 255, 255));
    // The frame runs along the rectangle's edges.
    EXPECT_EQ(page.pixel(10, 100), qRgb(255, 0, 0));
    EXPECT_EQ(page.pixel(470, 100), qRgb(255, 0, 0));
    EXPECT_EQ(page.pixel(200, 10), qRgb(255, 0, 0));
    EXPECT_EQ(page.pixel(200, 350), qRgb(255, 0, 0));
}
