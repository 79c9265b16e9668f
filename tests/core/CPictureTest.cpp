#include "imaging/CPicture.h"
#include "imaging/PictureService.h"
#include "ScriptedUiServices.h"
#include "platform/WinTypes.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct PictureCase {
    const char* file;
    int width;
    int height;
};

// Pixel sizes as the files' own headers state them.
const PictureCase kPictures[] = {
    {"bmp/pal1.bmp", 127, 64},        {"bmp/pal4.bmp", 127, 64},       {"bmp/pal4rle.bmp", 127, 64},
    {"bmp/pal8.bmp", 127, 64},        {"bmp/pal8rle.bmp", 127, 64},    {"bmp/pal8os2.bmp", 127, 64},
    {"bmp/pal8topdown.bmp", 127, 64}, {"bmp/pal8v5.bmp", 127, 64},     {"bmp/rgb16-565.bmp", 127, 64},
    {"bmp/rgb24.bmp", 127, 64},       {"bmp/rgb32.bmp", 127, 64},      {"bmp/rgb32bf.bmp", 127, 64},
    {"bmp/rgba32.bmp", 127, 64},      {"bmp/hopper.bmp", 128, 128},    {"bmp/hopper_rle8.bmp", 128, 128},
    {"bmp/clipboard.dib", 296, 176},  {"bmp/pal8_bmheader.dib", 127, 64},
    {"gif/hopper.gif", 128, 128},     {"gif/transparent.gif", 200, 150}, {"gif/dispose_none.gif", 100, 100},
    {"ico/hopper.ico", 16, 16},       {"ico/black_and_white.ico", 16, 16}, {"ico/python.ico", 16, 16},
    {"jpg/hopper.jpg", 128, 128},     {"jpg/hopper_gray.jpg", 128, 128}, {"jpg/flower.jpg", 480, 360},
    {"jpg/pil_sample_cmyk.jpg", 100, 100}, {"jpg/hopper_orientation_6.jpg", 128, 128},
};

QString PicturePath(const char* file)
{
    return TestDataPath(QStringLiteral("pictures/") + QString::fromLatin1(file));
}

/// The picture drawn whole into an image of its own size.
QImage Rendered(CPicture& picture, int width, int height)
{
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::magenta);
    QPainter painter(&out);
    EXPECT_TRUE(picture.Draw(&painter, QRect(0, 0, width, height)));
    painter.end();
    return out;
}

/// Qt's own reading of a file, as an independent reference for pixels.
QImage Reference(const QString& path, const char* format)
{
    QImage image = QImage::fromData(ReadFileBytes(path), format);
    EXPECT_FALSE(image.isNull()) << path.toStdString();
    return image.convertToFormat(QImage::Format_RGB32);
}

class PictureTest : public ::testing::Test {
protected:
    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(PictureTest, LoadsEveryRasterKindWithItsSizeAndFileLength)
{
    for (const PictureCase& c : kPictures) {
        const QString path = PicturePath(c.file);
        CPicture picture;
        EXPECT_TRUE(picture.LoadFromFile(path)) << c.file;
        EXPECT_NE(picture.m_pPicture, nullptr) << c.file;
        EXPECT_EQ(picture.m_nWidth, c.width) << c.file;
        EXPECT_EQ(picture.m_nHeight, c.height) << c.file;
        EXPECT_EQ(picture.m_nByteSize, QFile(path).size()) << c.file;
    }
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(PictureTest, SizeFollowsTheHimetricRuleAtNinetySixPixelsPerInch)
{
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/pal8.bmp")));
    // 127 pixels are 3360.2 HIMETRIC (rounded to 3360), 64 pixels 1693.3 (1693).
    EXPECT_EQ(picture.m_pPicture->HimetricSize(), QSize(3360, 1693));
    EXPECT_EQ(MulDiv(3360, 96, 2540), 127);
    EXPECT_EQ(MulDiv(1693, 96, 2540), 64);
}

TEST_F(PictureTest, DrawsBitmapsUprightWithTheirOwnPixels)
{
    const char* files[] = {"bmp/pal8.bmp",   "bmp/pal8topdown.bmp", "bmp/pal8os2.bmp", "bmp/pal4rle.bmp",
                           "bmp/rgb24.bmp",  "bmp/rgb32bf.bmp",     "bmp/rgb16-565.bmp", "bmp/hopper.bmp",
                           "bmp/pal8_bmheader.dib"};
    for (const char* file : files) {
        const QString path = PicturePath(file);
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(path)) << file;
        const QImage expected = Reference(path, "bmp");
        EXPECT_EQ(Rendered(picture, picture.m_nWidth, picture.m_nHeight), expected) << file;
    }
}

TEST_F(PictureTest, HeaderlessDibMatchesTheSamePictureWithAFileHeader)
{
    const QByteArray dib = ReadFileBytes(PicturePath("bmp/clipboard.dib"));
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/clipboard.dib")));
    EXPECT_EQ(SniffPictureFormat(dib), PictureFormat::Dib);
    EXPECT_EQ(Rendered(picture, 296, 176), QImage::fromData(dib, "dib").convertToFormat(QImage::Format_RGB32));
}

TEST_F(PictureTest, ContentDecidesTheKindNotTheName)
{
    const struct {
        const char* file;
        const char* disguise;
        PictureFormat format;
    } cases[] = {
        {"jpg/hopper.jpg", "hopper.bmp", PictureFormat::Jpeg},
        {"bmp/pal8.bmp", "pal8.jpg", PictureFormat::Bmp},
        {"gif/hopper.gif", "hopper.ico", PictureFormat::Gif},
        {"ico/hopper.ico", "hopper.dib", PictureFormat::Ico},
        {"bmp/pal8_bmheader.dib", "pal8.dib", PictureFormat::Bmp},
    };
    for (const auto& c : cases) {
        const QByteArray bytes = ReadFileBytes(PicturePath(c.file));
        EXPECT_EQ(SniffPictureFormat(bytes), c.format) << c.file;
        const QString disguised = m_Dir.filePath(QString::fromLatin1(c.disguise));
        WriteFileBytes(disguised, bytes);
        CPicture picture;
        EXPECT_TRUE(picture.LoadFromFile(disguised)) << c.disguise;
    }
}

TEST_F(PictureTest, DrawPartOfTheWholeEqualsDraw)
{
    for (const char* file : {"bmp/hopper.bmp", "jpg/flower.jpg", "gif/transparent.gif"}) {
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(PicturePath(file)));
        const QImage whole = Rendered(picture, 150, 90);
        QImage part(150, 90, QImage::Format_RGB32);
        part.fill(Qt::magenta);
        QPainter painter(&part);
        EXPECT_TRUE(picture.DrawPart(&painter, QRect(0, 0, 150, 90), 0.0, 1.0, 0.0, 1.0));
        painter.end();
        EXPECT_EQ(part, whole) << file;
    }
}

TEST_F(PictureTest, DrawPartOfTheCentreShowsTheCentralHalf)
{
    const QString path = PicturePath("bmp/hopper.bmp");
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(path));
    QImage part(64, 64, QImage::Format_RGB32);
    QPainter painter(&part);
    ASSERT_TRUE(picture.DrawPart(&painter, QRect(0, 0, 64, 64), 0.25, 0.75, 0.25, 0.75));
    painter.end();
    EXPECT_EQ(part, Reference(path, "bmp").copy(32, 32, 64, 64));
}

TEST_F(PictureTest, DrawPartCountsVerticalFractionsFromTheBottom)
{
    const QString path = PicturePath("bmp/hopper.bmp");
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(path));
    // The lower half of the picture (fractions 0 to 0.5 from the bottom) is its bottom 64 rows.
    QImage part(128, 64, QImage::Format_RGB32);
    QPainter painter(&part);
    ASSERT_TRUE(picture.DrawPart(&painter, QRect(0, 0, 128, 64), 0.0, 1.0, 0.0, 0.5));
    painter.end();
    const QImage expected = Reference(path, "bmp").copy(0, 64, 128, 64);
    int differing = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            differing += part.pixel(x, y) != expected.pixel(x, y);
    // HIMETRIC rounding may move the sampling by one source row at the seam.
    EXPECT_LE(differing, 128);
}

TEST_F(PictureTest, DrawingWithoutPictureOrPainterFails)
{
    CPicture empty;
    QImage out(4, 4, QImage::Format_RGB32);
    QPainter painter(&out);
    EXPECT_FALSE(empty.Draw(&painter, QRect(0, 0, 4, 4)));
    EXPECT_FALSE(empty.DrawPart(&painter, QRect(0, 0, 4, 4), 0, 1, 0, 1));
    painter.end();

    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/pal1.bmp")));
    EXPECT_FALSE(picture.Draw(nullptr, QRect(0, 0, 4, 4)));
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(PictureTest, TransparentPixelsLetTheBackgroundThrough)
{
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("gif/transparent.gif")));
    const QImage source = QImage::fromData(ReadFileBytes(PicturePath("gif/transparent.gif")), "gif");
    ASSERT_TRUE(source.hasAlphaChannel());
    const QImage shown = Rendered(picture, 200, 150); // drawn over magenta
    int transparent = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            if (qAlpha(source.pixel(x, y)) == 0) {
                ++transparent;
                ASSERT_EQ(shown.pixel(x, y), QColor(Qt::magenta).rgb()) << x << "," << y;
            }
    EXPECT_GT(transparent, 0);
}

TEST_F(PictureTest, FilesThatAreNoPictureLoadNothingSilently)
{
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"text.bmp", QByteArray("This is a text file, not a picture.\n")},
        {"zeros.jpg", QByteArray(4096, '\0')},
        {"png.gif", QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(64, 'x')},
        {"empty.bmp", QByteArray()},
    };
    for (const auto& c : cases) {
        const QString path = m_Dir.filePath(QString::fromLatin1(c.name));
        WriteFileBytes(path, c.bytes);
        CPicture picture;
        EXPECT_FALSE(picture.LoadFromFile(path)) << c.name;
        EXPECT_EQ(picture.m_pPicture, nullptr) << c.name;
        EXPECT_EQ(picture.m_nWidth, 0) << c.name;
        EXPECT_EQ(picture.m_nHeight, 0) << c.name;
        EXPECT_EQ(picture.m_nByteSize, c.bytes.size()) << c.name;
        CPicture fromMemory;
        EXPECT_FALSE(fromMemory.LoadFromMemory(c.bytes)) << c.name;
    }
    EXPECT_TRUE(m_Ui.m_Messages.empty());
}

TEST_F(PictureTest, MissingFileIsReportedWithTheFileError)
{
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/pal8.bmp")));
    const QString missing = m_Dir.filePath(QStringLiteral("nowhere/map.bmp"));
    EXPECT_FALSE(picture.LoadFromFile(missing));
    EXPECT_EQ(picture.m_pPicture, nullptr); // the earlier picture was released
    EXPECT_EQ(picture.m_nByteSize, 0);
    ASSERT_TRUE(picture.LastError());
    const UiMessage& message = *picture.LastError();
    EXPECT_EQ(message.m_strCaption, QStringLiteral("Picture Error"));
    EXPECT_EQ(message.Icon(), MB_ICONERROR);
    EXPECT_EQ(message.Buttons(), MB_OK);
    EXPECT_TRUE(message.m_strText.contains(missing));
    EXPECT_LE(message.m_strText.size(), 255);
}

TEST_F(PictureTest, TruncatedAndCorruptFilesNeverCrash)
{
    for (const PictureCase& c : kPictures) {
        const QByteArray whole = ReadFileBytes(PicturePath(c.file));
        for (qsizetype cut : {qsizetype(1), qsizetype(2), qsizetype(14), qsizetype(20), qsizetype(54), whole.size() / 3,
                              whole.size() / 2, whole.size() - 1}) {
            CPicture picture;
            picture.LoadFromMemory(whole.left(cut));
            if (picture.m_pPicture) { // a partly decoded picture is fine, if it is a real one
                EXPECT_FALSE(picture.m_pPicture->HimetricSize().isEmpty()) << c.file << " cut " << cut;
            }
        }
        // Flip bytes all over the file.
        QByteArray damaged = whole;
        for (qsizetype i = 10; i < damaged.size(); i += 37)
            damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
        CPicture picture;
        const bool loaded = picture.LoadFromMemory(damaged);
        EXPECT_EQ(loaded, picture.m_pPicture != nullptr) << c.file;
    }
}

TEST_F(PictureTest, HeadersClaimingHugeOrImpossibleSizesAreRefused)
{
    // A BMP header claiming 60000 x 60000 pixels over a few bytes of data, and a header-less
    // DIB whose colour table runs past its end.
    QByteArray bmp = ReadFileBytes(PicturePath("bmp/pal8.bmp")).left(200);
    auto put32 = [](QByteArray& b, int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put32(bmp, 18, 60000);
    put32(bmp, 22, 60000);
    CPicture huge;
    EXPECT_FALSE(huge.LoadFromMemory(bmp));
    EXPECT_EQ(huge.m_pPicture, nullptr);

    QByteArray dib = ReadFileBytes(PicturePath("bmp/clipboard.dib")).left(60);
    put32(dib, 32, 0x10000000); // colours used
    CPicture broken;
    EXPECT_FALSE(broken.LoadFromMemory(dib));
    EXPECT_EQ(broken.m_pPicture, nullptr);
}

TEST_F(PictureTest, LoadFromMemoryKeepsTheSizeFieldsAlone)
{
    CPicture picture;
    picture.m_nWidth = 7;
    picture.m_nHeight = 9;
    EXPECT_TRUE(picture.LoadFromMemory(ReadFileBytes(PicturePath("bmp/pal8.bmp"))));
    EXPECT_NE(picture.m_pPicture, nullptr);
    EXPECT_EQ(picture.m_nWidth, 7);
    EXPECT_EQ(picture.m_nHeight, 9);
    const QByteArray bytes = ReadFileBytes(PicturePath("jpg/hopper.jpg"));
    EXPECT_TRUE(picture.LoadFromMemory(bytes.constData(), bytes.size()));
    EXPECT_NE(picture.m_pPicture, nullptr);

    picture.Free();
    EXPECT_EQ(picture.m_pPicture, nullptr);
    EXPECT_EQ(picture.m_nWidth, 0);
    EXPECT_EQ(picture.m_nHeight, 0);
    EXPECT_EQ(picture.m_nByteSize, 0);
}

TEST_F(PictureTest, SavingABitmapWritesTheBytesThatWereLoaded)
{
    for (const char* file : {"bmp/pal4rle.bmp", "bmp/pal8os2.bmp", "bmp/rgb24.bmp", "bmp/rgba32.bmp"}) {
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(PicturePath(file)));
        const QString saved = m_Dir.filePath(QStringLiteral("saved.bmp"));
        ASSERT_TRUE(picture.SaveToFile(saved)) << file;
        EXPECT_EQ(ReadFileBytes(saved), ReadFileBytes(PicturePath(file))) << file;
        CPicture reloaded;
        ASSERT_TRUE(reloaded.LoadFromFile(saved));
        EXPECT_EQ(reloaded.m_nWidth, picture.m_nWidth);
        EXPECT_EQ(reloaded.m_nHeight, picture.m_nHeight);
    }
}

TEST_F(PictureTest, SavingOtherKindsWritesA24BitBitmapOfThePicture)
{
    for (const char* file : {"jpg/hopper.jpg", "gif/hopper.gif", "ico/hopper.ico", "jpg/flower.jpg"}) {
        CPicture picture;
        ASSERT_TRUE(picture.LoadFromFile(PicturePath(file)));
        const QString saved = m_Dir.filePath(QStringLiteral("saved.bmp"));
        ASSERT_TRUE(picture.SaveToFile(saved)) << file;
        const QByteArray bmp = ReadFileBytes(saved);
        ASSERT_GE(bmp.size(), 54);
        EXPECT_EQ(bmp.left(2), QByteArray("BM"));
        const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bmp.constData() + at); };
        const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bmp.constData() + at); };
        EXPECT_EQ(u32(2), quint32(bmp.size()));
        EXPECT_EQ(u32(10), 54u);
        EXPECT_EQ(u32(14), 40u);
        EXPECT_EQ(qint32(u32(18)), picture.m_nWidth);
        EXPECT_EQ(qint32(u32(22)), picture.m_nHeight); // positive: bottom-up rows
        EXPECT_EQ(u16(28), 24);
        EXPECT_EQ(u32(30), 0u);
        const quint32 row = (quint32(picture.m_nWidth) * 3 + 3) & ~3u;
        EXPECT_EQ(u32(34), row * quint32(picture.m_nHeight));
        // The saved pixels are the picture's pixels.
        CPicture reloaded;
        ASSERT_TRUE(reloaded.LoadFromFile(saved));
        EXPECT_EQ(Rendered(reloaded, picture.m_nWidth, picture.m_nHeight),
                  Rendered(picture, picture.m_nWidth, picture.m_nHeight))
            << file;
    }
}

TEST_F(PictureTest, SavingAHeaderlessDibPutsAFileHeaderInFront)
{
    const QByteArray dib = ReadFileBytes(PicturePath("bmp/clipboard.dib"));
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/clipboard.dib")));
    const QString saved = m_Dir.filePath(QStringLiteral("clip.bmp"));
    ASSERT_TRUE(picture.SaveToFile(saved));
    const QByteArray bmp = ReadFileBytes(saved);
    ASSERT_EQ(bmp.size(), dib.size() + 14);
    EXPECT_EQ(bmp.mid(14), dib);
    // 40-byte header, three 32-bit colour masks, no colour table.
    EXPECT_EQ(qFromLittleEndian<quint32>(bmp.constData() + 10), 14u + 40u + 12u);
    EXPECT_EQ(QImage::fromData(bmp, "bmp").convertToFormat(QImage::Format_RGB32), Rendered(picture, 296, 176));
}

TEST_F(PictureTest, TransparentPixelsAreSavedOverWhite)
{
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("gif/transparent.gif")));
    const QString saved = m_Dir.filePath(QStringLiteral("t.bmp"));
    ASSERT_TRUE(picture.SaveToFile(saved));
    const QImage source = QImage::fromData(ReadFileBytes(PicturePath("gif/transparent.gif")), "gif");
    const QImage written = QImage::fromData(ReadFileBytes(saved), "bmp");
    for (int y = 0; y < 150; y += 7)
        for (int x = 0; x < 200; x += 7)
            if (qAlpha(source.pixel(x, y)) == 0) {
                ASSERT_EQ(written.pixel(x, y), qRgb(255, 255, 255));
            }
}

TEST_F(PictureTest, SavingWithoutPictureOrIntoAMissingFolder)
{
    CPicture empty;
    const QString target = m_Dir.filePath(QStringLiteral("none.bmp"));
    EXPECT_FALSE(empty.SaveToFile(target));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_FALSE(empty.LastError());

    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/pal8.bmp")));
    const QString unreachable = m_Dir.filePath(QStringLiteral("missing/folder/out.bmp"));
    EXPECT_FALSE(picture.SaveToFile(unreachable));
    ASSERT_TRUE(picture.LastError());
    EXPECT_EQ(picture.LastError()->m_strCaption, QStringLiteral("Picture Error"));
    EXPECT_TRUE(picture.LastError()->m_strText.contains(unreachable));
}

TEST_F(PictureTest, SavingOverAnExistingFileReplacesItWhole)
{
    const QString target = m_Dir.filePath(QStringLiteral("map.bmp"));
    WriteFileBytes(target, QByteArray(100000, 'x'));
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(PicturePath("bmp/pal1.bmp")));
    ASSERT_TRUE(picture.SaveToFile(target));
    EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(PicturePath("bmp/pal1.bmp")));
    EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("map.bmp")});
}
