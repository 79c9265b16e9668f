// What the user is shown when libtiff or libgeotiff has something to say during a TIFF import.

#include "TestSupport.h"
#include "TiffTestFiles.h"

#include "formats/TiffImport.h"
#include "formats/TiffMessageScope.h"
#include "imaging/DIBSection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <tiffio.h>

#include <gtest/gtest.h>

namespace {

/// Scans and loads every listed entry, as the New command does.
int ImportCount(const QString& path)
{
    std::vector<TIFFSubImage> list;
    const int count = ScanTiffImages(list, path);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        DIBSection section;
        LoadTiffImage(path, section, i);
        kept += section.m_pBits ? 1 : 0;
    }
    return kept;
}

int CountMessages(TIFF*, void* count, const char*, const char*, va_list)
{
    ++*static_cast<int*>(count);
    return 1;
}

/// How many warnings and errors plain libtiff gives when it opens path: without the tag
/// extenders (libgeotiff's, GDAL's) that other work in this process may have registered, which
/// teach it the GeoTIFF tags.
int PlainLibtiffMessages(const QString& path)
{
    const TIFFExtendProc extenders = TIFFSetTagExtender(nullptr);
    int count = 0;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetWarningHandlerExtR(options, CountMessages, &count);
    TIFFOpenOptionsSetErrorHandlerExtR(options, CountMessages, &count);
    TIFF* tif = TIFFOpenExt(QFile::encodeName(path).constData(), "r", options);
    TIFFOpenOptionsFree(options);
    if (tif)
        TIFFClose(tif);
    TIFFSetTagExtender(extenders);
    return count;
}

/// A grey picture in one-row strips whose file ends after `keptRows` rows.
QString WriteTruncated(const QTemporaryDir& dir, int rows, int keptRows)
{
    const int width = 8;
    std::vector<QByteArray> strips;
    for (int y = 0; y < rows; ++y)
        strips.push_back(QByteArray(width, char(y)));
    TiffBytes bytes;
    bytes.AddGreyDirectory(width, std::uint32_t(rows), 1, strips);
    const QByteArray whole = bytes.Build();
    const QString path = dir.filePath(QStringLiteral("cut%1.tif").arg(rows));
    WriteFileBytes(path, whole.left(whole.size() - width * (rows - keptRows)));
    return path;
}

} // namespace

TEST(TiffMessages, GoodFilesImportWithoutAWord)
{
    // GeoTIFFs carry private tags that plain libtiff warns about; the import shows nothing.
    const QString cog = TestDataPath(QStringLiteral("geotiff/cog_ovr.tif"));
    ASSERT_GT(PlainLibtiffMessages(cog), 0);
    for (const char* folder : {"geotiff", "tiff"}) {
        const QDir dir(TestDataPath(QString::fromLatin1(folder)));
        for (const QString& name : dir.entryList(QDir::Files)) {
            SCOPED_TRACE(name.toStdString());
            TiffMessageScope ui;
            EXPECT_GT(ImportCount(dir.filePath(name)), 0);
            GeoTiffInfo info;
            ReadGeoTiffInfo(dir.filePath(name), info);
            EXPECT_TRUE(ui.Messages().empty()) << ui.Messages()[0].m_strText.toStdString();
        }
    }
}

TEST(TiffMessages, WhatLibtiffReadsPastIsNotWorthABox)
{
    // A private tag libtiff does not know, one of a type it cannot store (an error to libtiff,
    // though it only leaves the tag out), entries out of tag order.
    const std::function<void(TiffBytes&)> oddities[] = {
        [](TiffBytes& bytes) { bytes.AddShort(65000, 7); },
        [](TiffBytes& bytes) { bytes.AddShort(42112, 7); },
        [](TiffBytes& bytes) { bytes.Unsort(); },
    };
    QTemporaryDir dir;
    for (const auto& oddity : oddities) {
        TiffBytes bytes;
        bytes.AddGreyDirectory(4, 2, 2, {QByteArray(8, 'x')});
        oddity(bytes);
        // The type of tag 42112 (SHORT) becomes 0, which no TIFF defines.
        const QByteArray file = bytes.Build().replace(QByteArray("\x80\xA4\x03\0", 4), QByteArray("\x80\xA4\0\0", 4));
        const QString path = dir.filePath(QStringLiteral("odd.tif"));
        WriteFileBytes(path, file);
        ASSERT_GT(PlainLibtiffMessages(path), 0);

        TiffMessageScope ui;
        EXPECT_EQ(ImportCount(path), 1);
        EXPECT_TRUE(ui.Messages().empty()) << ui.Messages()[0].m_strText.toStdString();
    }
}

TEST(TiffMessages, RepeatedWarningsShowTheFirstAndACount)
{
    // Within one scope: the first text, and how many more there were.
    TiffMessageScope scope;
    TiffMessageScope::Report(TiffMessageScope::Kind::Warning, QStringLiteral("first"));
    TiffMessageScope::Report(TiffMessageScope::Kind::Warning, QStringLiteral("second"));
    TiffMessageScope::Report(TiffMessageScope::Kind::Warning, QStringLiteral("third"));
    ASSERT_EQ(scope.Messages().size(), 1u);
    EXPECT_TRUE(scope.Messages()[0].m_strText.startsWith(QStringLiteral("first")));
    EXPECT_TRUE(scope.Messages()[0].m_strText.contains(QStringLiteral("2 more like this")));
    EXPECT_FALSE(scope.Messages()[0].m_strText.contains(QStringLiteral("second")));
}

TEST(TiffMessages, FloodsCollapseToOneBoxPerKind)
{
    QTemporaryDir dir;
    const QString path = WriteTruncated(dir, 300, 10);
    // 290 missing strips give one box, and no image is kept.
    TiffMessageScope ui;
    DIBSection section;
    LoadTiffImage(path, section, 0);
    EXPECT_EQ(section.m_pBits, nullptr);
    int errors = 0;
    for (const auto& message : ui.Messages()) {
        EXPECT_EQ(message.Buttons(), MB_OK);
        if (message.m_strCaption == QStringLiteral("TIFF Error")) {
            ++errors;
            EXPECT_EQ(message.Icon(), MB_ICONERROR);
        } else {
            EXPECT_EQ(message.m_strCaption, QStringLiteral("TIFF Warning"));
        }
    }
    EXPECT_EQ(errors, 1);
    EXPECT_LE(ui.Messages().size(), 2u);
}

TEST(TiffMessages, OneScopeAroundAWholeImportShowsOneBox)
{
    QTemporaryDir dir;
    const QString first = WriteTruncated(dir, 40, 5);
    const QString second = WriteTruncated(dir, 50, 20);
    TiffMessageScope wholeImport;
    EXPECT_EQ(ImportCount(first), 0);
    EXPECT_EQ(ImportCount(second), 0);
    GeoTiffInfo info;
    EXPECT_FALSE(ReadGeoTiffInfo(dir.filePath(QStringLiteral("missing.tif")), info));
    ASSERT_EQ(wholeImport.Messages().size(), 1u);
    EXPECT_EQ(wholeImport.Messages()[0].m_strCaption, QStringLiteral("TIFF Error"));

    // The import of a whole map gives its own one box.
    const TiffImport import = ImportTiffImages(first);
    EXPECT_TRUE(import.m_Images.empty());
    EXPECT_TRUE(import.m_Messages.empty()); // told to the scope already open
}

TEST(TiffMessages, LongPathsShowTheirEnds)
{
    // A message longer than any first guess at a buffer (libtiff puts file names in them), the path cut.
    QTemporaryDir dir;
    const QString longName = dir.filePath(QString(200, QLatin1Char('a')) + QLatin1Char('/') + QString(200, QLatin1Char('b')) +
                                          QLatin1Char('/') + QString(200, QLatin1Char('c')) + QStringLiteral(".tif"));
    TiffMessageScope ui;
    std::vector<TIFFSubImage> list;
    EXPECT_EQ(ScanTiffImages(list, longName), 0);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_TRUE(ui.Messages()[0].m_strText.startsWith(longName.left(100) + QChar(0x2026) + longName.right(99) + QLatin1Char(':')))
        << ui.Messages()[0].m_strText.toStdString();
}
