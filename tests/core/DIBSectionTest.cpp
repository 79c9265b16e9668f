#include "imaging/DIBSection.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Bgr {
    std::uint8_t b, g, r;
    friend bool operator==(const Bgr&, const Bgr&) = default;
};

Bgr PixelAt(const DIBSection& dib, int column, int storedRow)
{
    const std::uint8_t* p = dib.StoredRow(storedRow) + column * 3;
    return {p[0], p[1], p[2]};
}

void SetPixel(DIBSection& dib, int column, int storedRow, Bgr value)
{
    std::uint8_t* p = dib.StoredRow(storedRow) + column * 3;
    p[0] = value.b;
    p[1] = value.g;
    p[2] = value.r;
}

/// A distinct colour for every (column, stored row).
Bgr Code(int column, int storedRow)
{
    return {static_cast<std::uint8_t>(10 + column), static_cast<std::uint8_t>(100 + storedRow), 200};
}

DIBSection MakeCoded(int width, int height)
{
    DIBSection dib;
    dib.Create(24, width, height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            SetPixel(dib, c, r, Code(c, r));
    return dib;
}

QRgb AsRgb(Bgr v)
{
    return qRgb(v.r, v.g, v.b);
}

} // namespace

TEST(DIBSection, CreateRoundsRowsUpToFourPixels)
{
    const struct {
        int width, rowPixels;
    } cases[] = {{1, 4}, {3, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 12}, {127, 128}};
    for (const auto& c : cases) {
        DIBSection dib;
        dib.Create(24, c.width, 3);
        ASSERT_NE(dib.m_pBits, nullptr) << c.width;
        EXPECT_EQ(dib.m_nRowPixels, c.rowPixels) << c.width;
        EXPECT_EQ(dib.RowBytes(), c.rowPixels * 3) << c.width;
        EXPECT_EQ(dib.RowBytes() % 4, 0) << c.width;
        EXPECT_EQ(dib.m_nWidth, c.width);
    }
}

TEST(DIBSection, CreateBuildsHeaderAndEmptyGeoRecord)
{
    DIBSection dib;
    dib.Create(24, 5, 3);
    ASSERT_NE(dib.m_pInfoHeader, nullptr);
    const BitmapInfoHeader& h = *dib.m_pInfoHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 8); // the stored row length, not the requested width
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 0u);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(dib.m_nRowPixels, 8);
    EXPECT_EQ(dib.RowBytes(), 24);
    // New sections are black, padding included.
    for (int i = 0; i < 24 * 3; ++i)
        ASSERT_EQ(dib.m_pBits[i], 0) << i;
}

TEST(DIBSection, CreateWithoutUsableSizeOrDepthHasNoBits)
{
    const struct {
        int bits, width, height;
    } cases[] = {{24, 0, 5}, {24, 5, 0}, {24, -3, 5}, {24, 5, -2}, {8, 5, 5}, {1, 5, 5}, {0, 5, 5}};
    for (const auto& c : cases) {
        DIBSection dib;
        dib.Create(c.bits, c.width, c.height);
        EXPECT_EQ(dib.m_pBits, nullptr) << c.bits << " " << c.width << "x" << c.height;
        EXPECT_NE(dib.m_pInfoHeader, nullptr);
    }
    for (int bits : {16, 24, 32}) {
        DIBSection dib;
        dib.Create(bits, 5, 2);
        ASSERT_NE(dib.m_pBits, nullptr) << bits;
        EXPECT_EQ(dib.RowBytes(), 8 * bits / 8);
    }
}

TEST(DIBSection, ReleaseEmptiesEverything)
{
    DIBSection dib = MakeCoded(6, 4);
    dib.Release();
    EXPECT_EQ(dib.m_pBits, nullptr);
    EXPECT_EQ(dib.m_hBitmap, nullptr);
    EXPECT_EQ(dib.m_pInfoHeader, nullptr);
    EXPECT_EQ(dib.m_pDC, nullptr);
    EXPECT_EQ(dib.m_nWidth, 0);
    EXPECT_EQ(dib.m_nHeight, 0);
    EXPECT_EQ(dib.m_nRowPixels, 0);
    EXPECT_EQ(dib.m_nBitCount, 0);
    // A released section can be created again.
    dib.Create(24, 2, 2);
    EXPECT_NE(dib.m_pBits, nullptr);
}

TEST(DIBSection, CopiesAreIndependent)
{
    DIBSection original = MakeCoded(5, 3);

    DIBSection byConstructor(original);
    DIBSection byAssignment;
    byAssignment.Create(24, 50, 50);
    byAssignment = original;
    DIBSection byCopyFrom;
    byCopyFrom.CopyFrom(original);

    for (DIBSection* copy : {&byConstructor, &byAssignment, &byCopyFrom}) {
        ASSERT_NE(copy->m_pBits, nullptr);
        EXPECT_NE(copy->m_pBits, original.m_pBits);
        EXPECT_EQ(copy->m_nWidth, 5);
        EXPECT_EQ(copy->m_nHeight, 3);
        EXPECT_EQ(copy->m_nRowPixels, 8);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 5; ++c)
                ASSERT_EQ(PixelAt(*copy, c, r), Code(c, r));
        SetPixel(*copy, 1, 1, {1, 2, 3});
    }
    EXPECT_EQ(PixelAt(original, 1, 1), Code(1, 1));
}

TEST(DIBSection, CopyingFromEmptySectionOrItself)
{
    DIBSection empty;
    DIBSection target = MakeCoded(3, 3);
    target = empty;
    EXPECT_EQ(target.m_pBits, nullptr);
    EXPECT_EQ(target.m_pInfoHeader, nullptr);
    EXPECT_EQ(target.m_nWidth, 0);

    DIBSection self = MakeCoded(3, 2);
    DIBSection& alias = self;
    self = alias;
    ASSERT_NE(self.m_pBits, nullptr);
    EXPECT_EQ(PixelAt(self, 2, 1), Code(2, 1));
}

TEST(DIBSection, SectionsHeldByValueInAListStayValid)
{
    std::vector<DIBSection> images;
    for (int i = 1; i <= 20; ++i) // growth moves the earlier elements
        images.push_back(MakeCoded(i, 2));
    for (int i = 1; i <= 20; ++i) {
        const DIBSection& dib = images[static_cast<size_t>(i - 1)];
        ASSERT_EQ(dib.m_nWidth, i);
        EXPECT_EQ(PixelAt(dib, i - 1, 1), Code(i - 1, 1));
        QImage out(i, 2, QImage::Format_RGB32);
        QPainter painter(&out);
        dib.Draw(painter, 0, 0);
        painter.end();
        EXPECT_EQ(out.pixel(i - 1, 0), AsRgb(Code(i - 1, 1)));
    }
}

TEST(DIBSection, ResampleTakesNearestRowsAndColumns)
{
    // Expected source indices for each destination index, worked out from
    // trunc(j * source / destination + 0.5) limited to the last source index.
    const struct {
        int from, to;
        std::vector<int> picks;
    } cases[] = {
        {4, 2, {0, 2}},
        {2, 4, {0, 1, 1, 1}},
        {3, 7, {0, 0, 1, 1, 2, 2, 2}},
        {5, 5, {0, 1, 2, 3, 4}},
        {10, 3, {0, 3, 7}},
    };
    for (const auto& c : cases) {
        const DIBSection source = MakeCoded(c.from, c.from);
        DIBSection out;
        out.CreateResampled(c.to, c.to, &source);
        ASSERT_NE(out.m_pBits, nullptr);
        ASSERT_EQ(out.m_nWidth, c.to);
        ASSERT_EQ(out.m_nHeight, c.to);
        for (int i = 0; i < c.to; ++i)
            for (int j = 0; j < c.to; ++j)
                ASSERT_EQ(PixelAt(out, j, i), Code(c.picks[size_t(j)], c.picks[size_t(i)]))
                    << c.from << "->" << c.to << " at " << j << "," << i;
    }
}

TEST(DIBSection, ResampleHandlesUnequalAxes)
{
    DIBSection source = MakeCoded(4, 2);
    DIBSection out;
    out.CreateResampled(2, 4, &source);
    ASSERT_NE(out.m_pBits, nullptr);
    const int columns[] = {0, 2};
    const int rows[] = {0, 1, 1, 1};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 2; ++j)
            EXPECT_EQ(PixelAt(out, j, i), Code(columns[j], rows[i]));
}

TEST(DIBSection, ResampleEdgeCases)
{
    const DIBSection source = MakeCoded(4, 4);

    DIBSection kept = MakeCoded(3, 3);
    kept.CreateResampled(0, 5, &source); // a non-positive size does nothing at all
    kept.CreateResampled(5, -1, &source);
    ASSERT_NE(kept.m_pBits, nullptr);
    EXPECT_EQ(kept.m_nWidth, 3);
    EXPECT_EQ(PixelAt(kept, 2, 2), Code(2, 2));

    DIBSection noSource = MakeCoded(3, 3);
    noSource.CreateResampled(5, 5, nullptr);
    EXPECT_EQ(noSource.m_pBits, nullptr);
    EXPECT_EQ(noSource.m_pInfoHeader, nullptr);

    DIBSection fromEmpty = MakeCoded(3, 3);
    const DIBSection empty;
    fromEmpty.CreateResampled(5, 5, &empty);
    EXPECT_EQ(fromEmpty.m_pBits, nullptr);

    DIBSection self = MakeCoded(4, 4);
    self.CreateResampled(2, 2, &self);
    ASSERT_NE(self.m_pBits, nullptr);
    EXPECT_EQ(self.m_nWidth, 2);
    EXPECT_EQ(PixelAt(self, 1, 1), Code(2, 2));
}

TEST(DIBSection, DrawCopiesOnlyThePictureUpright)
{
    const DIBSection dib = MakeCoded(5, 3);
    QImage canvas(10, 10, QImage::Format_RGB32);
    canvas.fill(qRgb(255, 0, 255));
    QPainter painter(&canvas);
    dib.Draw(painter, 2, 3);
    painter.end();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 3 && y < 6;
            // Stored row 0 is the bottom row of the picture.
            const QRgb expected = inside ? AsRgb(Code(x - 2, 2 - (y - 3))) : qRgb(255, 0, 255);
            ASSERT_EQ(canvas.pixel(x, y), expected) << x << "," << y;
        }
    }
}

TEST(DIBSection, StretchDrawScalesPartsAndMirrors)
{
    const DIBSection dib = MakeCoded(4, 4);
    auto picture = [&](int column, int rowFromTop) { return AsRgb(Code(column, 3 - rowFromTop)); };

    // The right half of the top two rows, doubled.
    QImage canvas(4, 4, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    dib.StretchDraw(painter, 0, 0, 4, 4, 2, 0, 4, 2);
    painter.end();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(canvas.pixel(x, y), picture(2 + x / 2, y / 2)) << x << "," << y;

    // A negative destination width mirrors left to right.
    QImage mirrored(4, 4, QImage::Format_RGB32);
    mirrored.fill(Qt::black);
    QPainter mirror(&mirrored);
    dib.StretchDraw(mirror, 4, 0, 0, 4, 0, 0, 4, 4);
    mirror.end();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(mirrored.pixel(x, y), picture(3 - x, y)) << x << "," << y;

    // Empty extents draw nothing.
    QImage untouched(4, 4, QImage::Format_RGB32);
    untouched.fill(Qt::white);
    QPainter none(&untouched);
    dib.StretchDraw(none, 0, 0, 0, 4, 0, 0, 4, 4);
    dib.StretchDraw(none, 0, 0, 4, 4, 1, 0, 1, 4);
    none.end();
    EXPECT_EQ(untouched.pixel(1, 1), qRgb(255, 255, 255));
}

TEST(DIBSection, MemoryContextsAndBlits)
{
    QImage target(6, 6, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::white);
    const QImage memory = CreateCompatibleMemoryContext(&target, 3, 2);
    EXPECT_EQ(memory.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(memory.size(), QSize(3, 2));
    EXPECT_EQ(memory.pixel(2, 1), qRgb(0, 0, 0));
    EXPECT_EQ(CreateCompatibleMemoryContext(nullptr, 4, 4).format(), QImage::Format_RGB32);

    QImage source(4, 4, QImage::Format_ARGB32);
    source.fill(Qt::transparent);
    source.setPixel(1, 1, qRgba(10, 20, 30, 255));
    QPainter painter(&target);
    BlitRect(painter, 3, 3, 2, 2, source, 1, 1);
    painter.end();
    EXPECT_EQ(target.pixel(3, 3), qRgb(10, 20, 30));
    // A blit copies: transparent source pixels replace the destination.
    EXPECT_EQ(qAlpha(target.pixel(4, 4)), 0);
    EXPECT_EQ(target.pixel(2, 2), qRgb(255, 255, 255));
    EXPECT_EQ(target.pixel(5, 5), qRgb(255, 255, 255));
}
