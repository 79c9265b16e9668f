// Listing and loading the directories of TIFF maps, and the georeference every image carries.

#include "TestSupport.h"
#include "TiffTestFiles.h"

#include "formats/TiffImport.h"
#include "imaging/DIBSection.h"
#include "formats/TiffMessageScope.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

constexpr std::uint16_t kWidthTag = 256;
constexpr std::uint16_t kLengthTag = 257;
constexpr std::uint16_t kBitsTag = 258;
constexpr std::uint16_t kTiePointTag = 33922;
constexpr std::uint16_t kPixelScaleTag = 33550;

/// The images a TIFF map import keeps: scan, then load directory i for the i-th listed entry and
/// keep the sections that have pixel memory.
std::vector<DIBSection> ImportImages(const QString& path)
{
    return ImportTiffImages(path).TakeImages();
}

RawTiff ParseFile(const QString& path)
{
    return RawTiff(ReadFileBytes(path));
}

/// One grey strip per row, every byte of row y equal to value(y).
std::vector<QByteArray> GreyRows(int width, int height, const std::function<int(int)>& value)
{
    std::vector<QByteArray> strips;
    for (int y = 0; y < height; ++y)
        strips.push_back(QByteArray(width, char(value(y))));
    return strips;
}

} // namespace

TEST(TiffScan, ListsEveryDirectoryOfTheTestFiles)
{
    // Directory counts as the files' provenance notes give them; sizes and depths of every
    // directory as the file's own bytes say.
    const struct {
        const char* file;
        int directories;
    } cases[] = {
        {"tiff/multipage.tiff", 3},    {"tiff/g4-multi.tiff", 3},     {"tiff/hopper.tif", 1},
        {"tiff/hopper_lzw.tif", 1},    {"geotiff/cog_ovr.tif", 5},    {"geotiff/cog_rgb.tif", 2},
        {"geotiff/RGB.byte.tif", 1},   {"geotiff/byte.tif", 1},       {"geotiff/rotated.tif", 1},
        {"geotiff/image_web.tif", 1},  {"geotiff/utmsmall.tif", 1},   {"geotiff/rgb-byte-tenth.tif", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = TestDataPath(QString::fromLatin1(c.file));
        const RawTiff raw = ParseFile(path);
        ASSERT_TRUE(raw.Valid());
        ASSERT_EQ(int(raw.Directories().size()), c.directories);

        TiffMessageScope ui;
        std::vector<TIFFSubImage> list;
        ASSERT_EQ(ScanTiffImages(list, path), c.directories);
        ASSERT_EQ(int(list.size()), c.directories);
        for (int i = 0; i < c.directories; ++i) {
            const RawTiff::Directory& directory = raw.Directories()[size_t(i)];
            EXPECT_EQ(list[size_t(i)].m_nDirectory, i);
            EXPECT_EQ(list[size_t(i)].m_nWidth, int(RawTiff::Numbers(directory, kWidthTag).at(0)));
            EXPECT_EQ(list[size_t(i)].m_nHeight, int(RawTiff::Numbers(directory, kLengthTag).at(0)));
            EXPECT_EQ(list[size_t(i)].m_nBitsPerSample, int(RawTiff::Numbers(directory, kBitsTag).at(0)));
            EXPECT_EQ(list[size_t(i)].m_strName, QStringLiteral("image%1").arg(i));
        }
        EXPECT_TRUE(ui.Messages().empty());
    }
}

TEST(TiffScan, AppendsToWhatTheListAlreadyHolds)
{
    std::vector<TIFFSubImage> list(1);
    list[0].m_strName = QStringLiteral("kept");
    EXPECT_EQ(ScanTiffImages(list, TestDataPath(QStringLiteral("tiff/multipage.tiff"))), 3);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].m_strName, QStringLiteral("kept"));
    EXPECT_EQ(list[3].m_nWidth, 20);
    EXPECT_EQ(list[3].m_nBitsPerSample, 1);
}

TEST(TiffScan, FilesThatDoNotOpenListNothingAndSaySo)
{
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.tif"));
    WriteFileBytes(text, QByteArray("this is not a TIFF file"));
    const QString empty = dir.filePath(QStringLiteral("empty.tif"));
    WriteFileBytes(empty, QByteArray());
    for (const QString& path : {dir.filePath(QStringLiteral("missing.tif")), text, empty}) {
        SCOPED_TRACE(path.toStdString());
        TiffMessageScope ui;
        std::vector<TIFFSubImage> list(2);
        EXPECT_EQ(ScanTiffImages(list, path), 0);
        EXPECT_EQ(list.size(), 2u);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].m_strCaption, QStringLiteral("TIFF Error"));
        EXPECT_EQ(ui.Messages()[0].Icon(), MB_ICONERROR);
        EXPECT_EQ(ui.Messages()[0].Buttons(), MB_OK);
    }
}

TEST(TiffLoad, ImportKeepsOneImagePerUsableDirectoryInOrder)
{
    const struct {
        const char* file;
        std::vector<std::pair<int, int>> sizes;
    } cases[] = {
        {"tiff/multipage.tiff", {{10, 10}, {10, 10}, {20, 20}}},
        {"geotiff/cog_rgb.tif", {{383, 232}, {192, 116}}},
        {"tiff/hopper.tif", {{128, 128}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<DIBSection> images = ImportImages(TestDataPath(QString::fromLatin1(c.file)));
        ASSERT_EQ(images.size(), c.sizes.size());
        for (size_t i = 0; i < images.size(); ++i) {
            EXPECT_EQ(images[i].m_nBitCount, 24);
            EXPECT_EQ(images[i].m_nWidth, c.sizes[i].first);
            EXPECT_EQ(images[i].m_nHeight, c.sizes[i].second);
        }
    }
    // The overviews of a cloud-optimised GeoTIFF are images too.
    const QString cog = TestDataPath(QStringLiteral("geotiff/cog_ovr.tif"));
    const RawTiff raw = ParseFile(cog);
    const std::vector<DIBSection> overviews = ImportImages(cog);
    ASSERT_EQ(overviews.size(), 5u);
    for (size_t i = 0; i < overviews.size(); ++i) {
        EXPECT_EQ(overviews[i].m_nWidth, int(RawTiff::Numbers(raw.Directories()[i], kWidthTag).at(0)));
        EXPECT_EQ(overviews[i].m_nHeight, int(RawTiff::Numbers(raw.Directories()[i], kLengthTag).at(0)));
    }
}

TEST(TiffLoad, EveryImageCarriesTheFirstDirectorysGeoreferenceWithItsOwnSize)
{
    for (const char* file : {"geotiff/cog_ovr.tif", "geotiff/cog_rgb.tif"}) {
        SCOPED_TRACE(file);
        const QString path = TestDataPath(QString::fromLatin1(file));
        const RawTiff raw = ParseFile(path);
        const std::vector<double> tie = RawTiff::Doubles(raw.Directories()[0], kTiePointTag);
        const std::vector<double> scale = RawTiff::Doubles(raw.Directories()[0], kPixelScaleTag);
        ASSERT_GE(tie.size(), 6u);
        ASSERT_GE(scale.size(), 2u);
        // The overviews have no geo tags of their own.
        EXPECT_TRUE(RawTiff::Doubles(raw.Directories()[1], kTiePointTag).empty());

        const TiffImport import = ImportTiffImages(path);
        ASSERT_EQ(import.m_Images.size(), raw.Directories().size());
        for (const ImportedTiffImage& imported : import.m_Images) {
            const DIBSection& image = imported.m_Image;
            ASSERT_TRUE(imported.m_Georeference);
            const GeoTiffInfo& info = *imported.m_Georeference;
            EXPECT_EQ(info.m_dTieX, tie[3]);
            EXPECT_EQ(info.m_dTieY, tie[4]);
            EXPECT_EQ(info.m_dScaleX, scale[0]);
            EXPECT_EQ(info.m_dScaleY, scale[1]);
            EXPECT_EQ(info.m_nColumns, image.m_nWidth);
            EXPECT_EQ(info.m_nRows, image.m_nHeight);
            EXPECT_EQ(info.m_bHasZone, 1);
        }
    }
    // A plain TIFF's images carry none.
    const TiffImport plain = ImportTiffImages(TestDataPath(QStringLiteral("tiff/multipage.tiff")));
    ASSERT_FALSE(plain.m_Images.empty());
    for (const ImportedTiffImage& imported : plain.m_Images)
        EXPECT_FALSE(imported.m_Georeference);
}

TEST(TiffLoad, UnreadableDirectoryShiftsTheListedEntries)
{
    // Directory 1 has width 0 between two usable ones: the scan lists directories 0 and 2, and
    // the import decodes both, so no picture is lost.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gap.tif"));
    TiffBytes bytes;
    bytes.AddGreyDirectory(8, 6, 1, GreyRows(8, 6, [](int y) { return 100 + y; }));
    bytes.AddGreyDirectory(0, 6, 6, {QByteArray(1, '\0')});
    bytes.AddGreyDirectory(4, 5, 1, GreyRows(4, 5, [](int) { return 50; }));
    WriteFileBytes(path, bytes.Build());

    TiffMessageScope ui;
    std::vector<TIFFSubImage> list;
    ASSERT_EQ(ScanTiffImages(list, path), 2);
    EXPECT_EQ(list[0].m_nDirectory, 0);
    EXPECT_EQ(list[1].m_nDirectory, 2);
    EXPECT_EQ(list[1].m_nWidth, 4);

    const std::vector<DIBSection> images = ImportImages(path);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].m_nWidth, 4);
    EXPECT_EQ(images[1].m_nHeight, 5);
    EXPECT_EQ(images[0].m_nWidth, 8);
    EXPECT_EQ(images[0].m_nHeight, 6);
    for (int y = 0; y < 6; ++y)
        EXPECT_EQ(images[0].StoredRow(5 - y)[0], 100 + y) << y;

    // Directory 1 leaves the section as it was; directory 2 loads when asked for by its index.
    DIBSection section;
    section.Create(24, 2, 2);
    EXPECT_FALSE(LoadTiffImage(path, section, 1));
    EXPECT_EQ(section.m_nWidth, 2);
    EXPECT_TRUE(LoadTiffImage(path, section, 2));
    EXPECT_EQ(section.m_nWidth, 4);
    EXPECT_EQ(section.StoredRow(0)[0], 50);
    EXPECT_FALSE(LoadTiffImage(path, section, 3));
    EXPECT_FALSE(LoadTiffImage(path, section, -1));
    EXPECT_EQ(section.m_nWidth, 4);
    // libtiff reports the zero width; the messages of each call are collapsed into one box.
    EXPECT_FALSE(ui.Messages().empty());
    for (const auto& message : ui.Messages())
        EXPECT_EQ(message.m_strCaption, QStringLiteral("TIFF Error"));
}

TEST(TiffLoad, FirstDirectoryOfWidthZeroMakesTheFileUnreadable)
{
    // libtiff refuses to open a file whose first directory has no pixels per row, so nothing is
    // listed or loaded, and the user is told.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zero.tif"));
    TiffBytes bytes;
    bytes.AddGreyDirectory(0, 6, 6, {QByteArray(1, '\0')});
    bytes.AddGreyDirectory(8, 6, 1, GreyRows(8, 6, [](int) { return 1; }));
    bytes.AddGreyDirectory(8, 6, 1, GreyRows(8, 6, [](int) { return 2; }));
    WriteFileBytes(path, bytes.Build());
    EXPECT_EQ(RawTiff(bytes.Build()).Directories().size(), 3u);

    TiffMessageScope ui;
    std::vector<TIFFSubImage> list;
    EXPECT_EQ(ScanTiffImages(list, path), 0);
    EXPECT_TRUE(list.empty());
    DIBSection section;
    section.Create(24, 3, 3);
    EXPECT_FALSE(LoadTiffImage(path, section, 0));
    EXPECT_EQ(section.m_nWidth, 3);
    EXPECT_TRUE(ImportImages(path).empty());
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_EQ(ui.Messages()[0].m_strCaption, QStringLiteral("TIFF Error"));
}

TEST(TiffLoad, FileThatCannotBeOpenedLeavesTheSectionAsItWas)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone.tif"));
    TiffMessageScope ui;
    DIBSection section;
    section.Create(24, 5, 4);
    section.StoredRow(0)[0] = 9;
    EXPECT_FALSE(LoadTiffImage(missing, section, 0));
    EXPECT_EQ(section.m_nWidth, 5);
    EXPECT_EQ(section.StoredRow(0)[0], 9);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_TRUE(ui.Messages()[0].m_strText.contains(missing));
}

TEST(TiffLoad, TruncatedPixelDataIsRefusedWholeAndReportedOnce)
{
    // Directories first, then one strip per row; the file ends in the middle of row 9.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut.tif"));
    const int width = 16, height = 20;
    TiffBytes bytes;
    bytes.AddGreyDirectory(width, height, 1, GreyRows(width, height, [](int y) { return 10 * (y + 1); }));
    const QByteArray whole = bytes.Build();
    const qsizetype pixelStart = whole.size() - width * height;
    WriteFileBytes(path, whole.left(pixelStart + 9 * width + 5));

    // Rows 10 to 19 lie beyond the end of the file: that is seen before any pixel memory is
    // taken, and nothing half-loaded is kept.
    TiffMessageScope ui;
    DIBSection section;
    EXPECT_FALSE(LoadTiffImage(path, section, 0));
    EXPECT_EQ(section.m_pBits, nullptr);
    EXPECT_EQ(section.m_nWidth, 0);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].m_strCaption, QStringLiteral("TIFF Error"));
    EXPECT_EQ(ui.Messages()[0].m_strText,
              QStringLiteral("cut.tif is damaged or cut short: strip 10 of image 0 is not in the file."));

    // The import leaves the image out.
    EXPECT_TRUE(ImportImages(path).empty());
}

TEST(TiffLoad, LostDirectoryMeansNoImage)
{
    // libtiff writes the directory after the pixels: cutting the file loses it.
    QTemporaryDir dir;
    const QString whole = dir.filePath(QStringLiteral("whole.tif"));
    TiffContent content;
    content.m_nWidth = 40;
    content.m_nHeight = 30;
    content.m_nCompression = 5; // LZW
    content.m_nRowsPerStrip = 4;
    content.m_Sample = [](int x, int y, int s) { return std::uint16_t((x * 7 + y * 3 + s * 50) & 0xFF); };
    ASSERT_TRUE(WriteTiff(whole, {content}));
    const QByteArray bytes = ReadFileBytes(whole);
    const QString cut = dir.filePath(QStringLiteral("cut.tif"));
    WriteFileBytes(cut, bytes.left(bytes.size() / 2));

    TiffMessageScope ui;
    EXPECT_TRUE(ImportImages(cut).empty());
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_EQ(ui.Messages()[0].m_strCaption, QStringLiteral("TIFF Error"));
}

TEST(TiffLoad, SameImageWhateverTheCompression)
{
    const std::vector<DIBSection> plain = ImportImages(TestDataPath(QStringLiteral("tiff/hopper.tif")));
    const std::vector<DIBSection> lzw = ImportImages(TestDataPath(QStringLiteral("tiff/hopper_lzw.tif")));
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_EQ(lzw.size(), 1u);
    ASSERT_EQ(plain[0].RowBytes(), lzw[0].RowBytes());
    EXPECT_EQ(std::memcmp(plain[0].m_pBits, lzw[0].m_pBits, size_t(plain[0].RowBytes() * plain[0].m_nHeight)), 0);
    // Not a blank picture.
    const std::uint8_t* first = plain[0].m_pBits;
    EXPECT_TRUE(std::any_of(first, first + plain[0].RowBytes() * 128, [first](std::uint8_t v) { return v != first[0]; }));
}
