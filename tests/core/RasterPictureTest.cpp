#include "imaging/CPicture.h"
#include "imaging/RasterPicture.h"
#include "platform/BinaryIO.h"
#include "ScriptedUiServices.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

QImage Pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 29 + y) & 0xFF, (y * 41 + 7) & 0xFF, (x * y) & 0xFF));
    return image;
}

/// Qt's own 24-bit BMP of image: 40-byte header, rows bottom-up.
QByteArray QtBmp(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "BMP"));
    EXPECT_EQ(qFromLittleEndian<quint16>(bytes.constData() + 28), 24);
    return bytes;
}

/// A 32-bit BMP of image (blue, green, red, 0; rows bottom-up), written field by field.
QByteArray Bmp32(const QImage& image)
{
    QByteArray file;
    BinaryWriter out(file);
    const std::uint32_t pixels = std::uint32_t(image.width()) * image.height() * 4;
    out.WriteUInt8('B');
    out.WriteUInt8('M');
    out.WriteUInt32(54 + pixels);
    out.WriteUInt32(0);
    out.WriteUInt32(54);
    out.WriteUInt32(40);
    out.WriteInt32(image.width());
    out.WriteInt32(image.height());
    out.WriteUInt16(1);
    out.WriteUInt16(32);
    for (int i = 0; i < 6; ++i)
        out.WriteUInt32(0);
    for (int y = image.height() - 1; y >= 0; --y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            out.WriteUInt8(static_cast<std::uint8_t>(qBlue(p)));
            out.WriteUInt8(static_cast<std::uint8_t>(qGreen(p)));
            out.WriteUInt8(static_cast<std::uint8_t>(qRed(p)));
            out.WriteUInt8(0);
        }
    return file;
}

/// The same picture with its rows stored top row first (a negative height).
QByteArray TopDown(const QByteArray& bottomUp)
{
    QByteArray file = bottomUp;
    const qint32 width = qFromLittleEndian<qint32>(bottomUp.constData() + 18);
    const qint32 height = qFromLittleEndian<qint32>(bottomUp.constData() + 22);
    const qsizetype offset = qFromLittleEndian<quint32>(bottomUp.constData() + 10);
    const qsizetype rowBytes = (qsizetype(width) * 3 + 3) & ~qsizetype(3);
    qToLittleEndian<qint32>(-height, file.data() + 22);
    for (qint32 r = 0; r < height; ++r)
        std::memcpy(file.data() + offset + r * rowBytes, bottomUp.constData() + offset + (height - 1 - r) * rowBytes,
                    static_cast<size_t>(rowBytes));
    return file;
}

/// The same picture with a 124-byte (version 5) information header.
QByteArray WithV5Header(const QByteArray& bmp)
{
    const qsizetype offset = qFromLittleEndian<quint32>(bmp.constData() + 10);
    QByteArray file = bmp.left(14 + 40);
    file.append(QByteArray(124 - 40, '\0'));
    qToLittleEndian<quint32>(124, file.data() + 14);
    file.append(bmp.mid(offset));
    qToLittleEndian<quint32>(static_cast<quint32>(file.size()), file.data() + 2);
    qToLittleEndian<quint32>(14 + 124, file.data() + 10);
    return file;
}

QImage Drawn(CPicture& picture, int width, int height, double left = 0, double right = 1, double lower = 0,
             double upper = 1)
{
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::magenta);
    QPainter painter(&out);
    EXPECT_TRUE(picture.DrawPart(&painter, QRect(0, 0, width, height), left, right, lower, upper));
    painter.end();
    return out;
}

/// The picture's pixels lie inside the file bytes it was loaded from: nothing was decoded.
bool DrawsFromTheFileBytes(const CPicture& picture, const QByteArray& file)
{
    const auto* raster = dynamic_cast<const RasterPicture*>(picture.m_pPicture.get());
    if (!raster)
        return false;
    const auto* bits = reinterpret_cast<const char*>(raster->Image().constBits());
    return bits >= file.constData() && bits < file.constData() + file.size();
}

/// A picture whose pixels tell where they are: red is the column, green the row.
QImage PositionPattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x, y, 200));
    return image;
}

/// The first pixel (row by row) where a and b show source pixels more than one column or row
/// apart; (-1, -1) when there is none. Nearest-neighbour stretching may settle a sample that
/// falls exactly between two source pixels either way, which moves it by one pixel at most.
QPoint FirstDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return QPoint(-2, -2);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 1 || std::abs(qGreen(p) - qGreen(q)) > 1 || qBlue(p) != qBlue(q))
                return QPoint(x, y);
        }
    return QPoint(-1, -1);
}

class RasterPictureTest : public ::testing::Test {
protected:
    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(RasterPictureTest, UncompressedBitmapsAreDrawnStraightFromTheirRows)
{
    const QImage source = Pattern(13, 7); // 39 bytes a row: one byte of padding
    const QByteArray bottomUp = QtBmp(source);
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"bottom-up", bottomUp},
        {"top-down", TopDown(bottomUp)},
        {"version 5 header", WithV5Header(bottomUp)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(QImage::fromData(c.file, "BMP").convertToFormat(QImage::Format_RGB32), source); // a sound file
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromMemory(c.file));
        ASSERT_NE(picture.m_pPicture, nullptr);
        EXPECT_TRUE(DrawsFromTheFileBytes(picture, c.file));
        EXPECT_EQ(Drawn(picture, 13, 7), source);
        // The lower right quarter, counted from the bottom edge as the picture service counts: its
        // last pixel is the picture's bottom right one.
        EXPECT_EQ(Drawn(picture, 13, 7, 0.5, 1.0, 0.0, 0.5).pixel(12, 6), source.pixel(12, 6));
        // Saving writes back exactly what was loaded.
        const QString saved = m_Dir.filePath(QStringLiteral("saved.bmp"));
        ASSERT_TRUE(picture.SaveToFile(saved));
        EXPECT_EQ(ReadFileBytes(saved), c.file);
    }
}

TEST_F(RasterPictureTest, DrawingStretchedMatchesTheDecodedPicture)
{
    const QImage source = PositionPattern(40, 30);
    // Drawn from the rows as stored, bottom row first, and stretched: each pixel shows what the
    // decoded picture shows there.
    CPicture wrapped;
    ASSERT_TRUE(wrapped.LoadFromMemory(QtBmp(source)));
    // The same pixels as a 32-bit bitmap, which is decoded into an image of its own.
    CPicture decoded;
    ASSERT_TRUE(decoded.LoadFromMemory(Bmp32(source)));
    ASSERT_NE(decoded.m_pPicture, nullptr);
    for (const QSize size : {QSize(40, 30), QSize(97, 61), QSize(17, 11), QSize(400, 7)}) {
        for (const auto& part : {std::array<double, 4>{0, 1, 0, 1}, std::array<double, 4>{0.2, 0.7, 0.1, 0.9},
                                 std::array<double, 4>{0.5, 1.0, 0.0, 0.5}}) {
            EXPECT_EQ(FirstDifference(Drawn(wrapped, size.width(), size.height(), part[0], part[1], part[2], part[3]),
                                      Drawn(decoded, size.width(), size.height(), part[0], part[1], part[2], part[3])),
                      QPoint(-1, -1))
                << size.width() << "x" << size.height() << " from " << part[0];
        }
    }
}

TEST_F(RasterPictureTest, OtherBitmapsAreDecodedAsBefore)
{
    const QByteArray bottomUp = QtBmp(Pattern(13, 7));
    // Rows that run past the end of the file: the decoder decides what there is to show.
    const QByteArray cut = bottomUp.left(bottomUp.size() - 10);
    CPicture picture;
    picture.LoadFromMemory(cut);
    EXPECT_FALSE(DrawsFromTheFileBytes(picture, cut));
    // A palette bitmap is decoded.
    const QByteArray pal8 = ReadFileBytes(TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")));
    ASSERT_TRUE(picture.LoadFromMemory(pal8));
    ASSERT_NE(picture.m_pPicture, nullptr);
    EXPECT_FALSE(DrawsFromTheFileBytes(picture, pal8));
    // A file whose height is 0 holds no picture.
    QByteArray flat = bottomUp;
    qToLittleEndian<qint32>(0, flat.data() + 22);
    EXPECT_FALSE(picture.LoadFromMemory(flat));
    EXPECT_FALSE(DrawsFromTheFileBytes(picture, flat));
}
