// The pixels of TIFF directories: what the streaming decode makes must be exactly what libtiff's
// whole-image RGBA read gives, opaque values unchanged and transparent pixels on black.

#include "TestSupport.h"
#include "TiffTestFiles.h"

#include "formats/TiffDecoder.h"
#include "formats/TiffFile.h"
#include "formats/TiffImport.h"
#include "imaging/DIBSection.h"
#include "formats/TiffMessageScope.h"

#include <QDir>
#include <QTemporaryDir>

#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

std::uint16_t Pattern8(int x, int y, int s)
{
    return std::uint16_t((x * 37 + y * 101 + s * 59 + x * y * 3) & 0xFF);
}

std::uint16_t Pattern16(int x, int y, int s)
{
    return std::uint16_t((x * 4099 + y * 257 + s * 12345 + x * y * 31) & 0xFFFF);
}

/// Decodes directory `directory` of path with the given working-memory limits.
DIBSection DecodeWithLimits(const QString& path, int directory, const TiffDecodeLimits& limits)
{
    DIBSection section;
    bool mapped = false;
    {
        TiffFile probe(path);
        if (!probe || !TIFFSetDirectory(probe.Handle(), tdir_t(directory)))
            return section;
        mapped = !TiffDecodesDirectly(probe.Handle());
    }
    TiffFile file(path, mapped ? TiffFile::Access::Mapped : TiffFile::Access::Read);
    if (!file || !TIFFSetDirectory(file.Handle(), tdir_t(directory)))
        return section;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(file.Handle(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(file.Handle(), TIFFTAG_IMAGELENGTH, &height);
    section.Create(24, int(width), int(height));
    DecodeTiffDirectory(file.Handle(), section, limits);
    return section;
}

/// Checks every directory of path against the whole-image reference: through the import, and
/// (below page-scan sizes) decoded with the smallest strips and bands the decoder allows and
/// with bands of a few strips, so that scanline reading and band boundaries after every strip
/// or row of tiles are exercised.
void ExpectMatchesReference(const QString& path, int directories)
{
    for (int d = 0; d < directories; ++d) {
        SCOPED_TRACE("directory " + std::to_string(d));
        const ReferencePicture reference = ReferenceDecode(path, d);
        ASSERT_TRUE(reference.m_bRead);
        DIBSection imported;
        EXPECT_TRUE(LoadTiffImage(path, imported, d));
        EXPECT_EQ(CompareWithReference(imported, reference), "") << "import";
        if (std::int64_t(reference.m_nWidth) * reference.m_nHeight > 4'000'000)
            continue; // a page scan, whose strips already exceed the import's band size
        const DIBSection small = DecodeWithLimits(path, d, {1, 1});
        EXPECT_EQ(CompareWithReference(small, reference), "") << "smallest strips and bands";
        const DIBSection middle = DecodeWithLimits(path, d, {1, std::int64_t(reference.m_nWidth) * 4 * 5});
        EXPECT_EQ(CompareWithReference(middle, reference), "") << "bands of several strips";
    }
}

struct Layout {
    const char* name;
    TiffContent content;
};

TiffContent Rgb8(int width, int height)
{
    TiffContent content;
    content.m_nWidth = width;
    content.m_nHeight = height;
    content.m_Sample = Pattern8;
    return content;
}

std::vector<Layout> Layouts()
{
    std::vector<Layout> layouts;
    auto add = [&layouts](const char* name, TiffContent content) { layouts.push_back({name, std::move(content)}); };

    TiffContent s = Rgb8(37, 23);
    s.m_nRowsPerStrip = 3;
    add("rgb8 strips", s);
    s.m_nCompression = COMPRESSION_LZW;
    s.m_nPredictor = 2;
    add("rgb8 lzw predictor", s);
    s = Rgb8(37, 23);
    s.m_nCompression = COMPRESSION_ADOBE_DEFLATE;
    add("rgb8 deflate one strip", s);
    s = Rgb8(37, 23);
    s.m_nTileWidth = 16;
    s.m_nTileLength = 16;
    add("rgb8 tiles clipped at the edges", s);
    s = Rgb8(37, 23);
    s.m_nRowsPerStrip = 4;
    s.m_nPlanar = PLANARCONFIG_SEPARATE;
    add("rgb8 planes", s);
    s.m_nTileWidth = 16;
    s.m_nTileLength = 16;
    add("rgb8 planes tiled", s);

    s = Rgb8(29, 17);
    s.m_nSamples = 1;
    s.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    s.m_nRowsPerStrip = 5;
    add("grey8", s);
    s.m_nPhotometric = PHOTOMETRIC_MINISWHITE;
    add("grey8 min-is-white", s);
    s.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    s.m_nTileWidth = 16;
    s.m_nTileLength = 16;
    s.m_nCompression = COMPRESSION_ADOBE_DEFLATE;
    add("grey8 tiles deflate", s);

    s = Rgb8(21, 19);
    s.m_nSamples = 2;
    s.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    s.m_ExtraSamples = {EXTRASAMPLE_ASSOCALPHA};
    s.m_nRowsPerStrip = 4;
    add("grey8 with alpha", s);

    s = Rgb8(21, 19);
    s.m_nSamples = 4;
    s.m_ExtraSamples = {EXTRASAMPLE_ASSOCALPHA};
    s.m_nRowsPerStrip = 4;
    add("rgba8 associated alpha", s);
    s.m_ExtraSamples = {EXTRASAMPLE_UNASSALPHA};
    add("rgba8 unassociated alpha", s);
    s.m_ExtraSamples = {EXTRASAMPLE_UNSPECIFIED};
    add("rgb8 with an unspecified extra sample", s);

    s = Rgb8(19, 13);
    s.m_nBits = 16;
    s.m_Sample = Pattern16;
    s.m_nRowsPerStrip = 2;
    add("rgb16", s);
    s.m_nSamples = 1;
    s.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    add("grey16", s);

    s = Rgb8(33, 14);
    s.m_nSamples = 1;
    s.m_nPhotometric = PHOTOMETRIC_PALETTE;
    s.m_nRowsPerStrip = 3;
    add("palette8", s);
    s.m_nBits = 4;
    s.m_Sample = [](int x, int y, int) { return std::uint16_t((x + 3 * y) & 15); };
    add("palette4", s);
    s.m_nBits = 1;
    s.m_nPhotometric = PHOTOMETRIC_MINISWHITE;
    s.m_Sample = [](int x, int y, int) { return std::uint16_t(((x * x + y) / 3) & 1); };
    add("bilevel", s);
    s.m_nCompression = COMPRESSION_CCITTFAX4;
    s.m_nRowsPerStrip = 14;
    add("bilevel group 4", s);
    s.m_nCompression = COMPRESSION_LZW;
    s.m_nBits = 4;
    s.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    s.m_Sample = [](int x, int y, int) { return std::uint16_t((x + 3 * y) & 15); };
    add("grey4", s);
    s.m_nBits = 2;
    s.m_nPhotometric = PHOTOMETRIC_MINISWHITE;
    add("grey2 min-is-white", s);

    s = Rgb8(20, 9);
    s.m_nSamples = 4;
    s.m_nPhotometric = PHOTOMETRIC_SEPARATED;
    s.m_nRowsPerStrip = 2;
    add("cmyk8", s);

    s = Rgb8(64, 48);
    s.m_nCompression = COMPRESSION_JPEG;
    s.m_bJpegYCbCr = true;
    s.m_nRowsPerStrip = 16;
    s.m_Sample = [](int x, int y, int c) { return std::uint16_t((c == 0 ? x * 4 : c == 1 ? y * 5 : 128 + x - y) & 0xFF); };
    add("jpeg ycbcr strips", s);
    s.m_nTileWidth = 16;
    s.m_nTileLength = 16;
    add("jpeg ycbcr tiles", s);
    s.m_nTileWidth = 0;
    s.m_bJpegYCbCr = false;
    add("jpeg rgb", s);
    return layouts;
}

/// Section pixel (blue, green, red) at picture column x, row y counted from the top.
std::array<int, 3> PixelAt(const DIBSection& section, int x, int y)
{
    const std::uint8_t* p = section.StoredRow(section.m_nHeight - 1 - y) + 3 * x;
    return {p[0], p[1], p[2]};
}

/// An associated colour on black: multiplied by alpha in the file already, so kept, held to alpha.
int Premultiplied(int value, int alpha)
{
    return std::min(value, alpha);
}

} // namespace

TEST(TiffDecode, MatchesTheWholeImageReadOnEveryTestFile)
{
    TiffMessageScope ui;
    int files = 0;
    for (const char* folder : {"geotiff", "tiff"}) {
        const QDir dir(TestDataPath(QString::fromLatin1(folder)));
        for (const QString& name : dir.entryList({QStringLiteral("*.tif"), QStringLiteral("*.tiff")}, QDir::Files)) {
            SCOPED_TRACE(name.toStdString());
            const QString path = dir.filePath(name);
            const RawTiff raw(ReadFileBytes(path));
            ExpectMatchesReference(path, int(raw.Directories().size()));
            ++files;
        }
    }
    EXPECT_EQ(files, 14);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(TiffDecode, MatchesTheWholeImageReadForEveryLayout)
{
    QTemporaryDir dir;
    TiffMessageScope ui;
    for (const Layout& layout : Layouts()) {
        SCOPED_TRACE(layout.name);
        const QString path = dir.filePath(QString::fromLatin1(layout.name).replace(' ', '_') + QStringLiteral(".tif"));
        ASSERT_TRUE(WriteTiff(path, {layout.content}));
        ExpectMatchesReference(path, 1);
    }
    EXPECT_TRUE(ui.Messages().empty()) << ui.Messages()[0].m_strText.toStdString();
}

TEST(TiffDecode, MatchesTheWholeImageReadInEveryOrientation)
{
    QTemporaryDir dir;
    TiffContent strips = Rgb8(13, 11);
    strips.m_nRowsPerStrip = 2;
    TiffContent tiles = Rgb8(37, 23);
    tiles.m_nSamples = 1;
    tiles.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    tiles.m_nTileWidth = 16;
    tiles.m_nTileLength = 16;
    TiffContent alpha = Rgb8(10, 7);
    alpha.m_nSamples = 4;
    alpha.m_ExtraSamples = {EXTRASAMPLE_ASSOCALPHA};
    alpha.m_nRowsPerStrip = 3;
    for (int orientation = ORIENTATION_TOPLEFT; orientation <= ORIENTATION_LEFTBOT; ++orientation) {
        int n = 0;
        for (TiffContent content : {strips, tiles, alpha}) {
            SCOPED_TRACE("orientation " + std::to_string(orientation) + " layout " + std::to_string(n));
            content.m_nOrientation = orientation;
            const QString path = dir.filePath(QStringLiteral("o%1_%2.tif").arg(orientation).arg(n++));
            ASSERT_TRUE(WriteTiff(path, {content}));
            ExpectMatchesReference(path, 1);
        }
    }

    // Independently of libtiff's reader: stored bottom row first, the file's first row is the
    // bottom of the picture.
    TiffContent bottomUp = strips;
    bottomUp.m_nOrientation = ORIENTATION_BOTLEFT;
    const QString path = dir.filePath(QStringLiteral("bottom_up.tif"));
    ASSERT_TRUE(WriteTiff(path, {bottomUp}));
    DIBSection section;
    ASSERT_TRUE(LoadTiffImage(path, section, 0));
    for (int fileRow = 0; fileRow < bottomUp.m_nHeight; ++fileRow) {
        const std::uint8_t* stored = section.StoredRow(fileRow); // stored row 0 is the bottom
        for (int x = 0; x < bottomUp.m_nWidth; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(stored[3 * x + c], Premultiplied(Pattern8(x, fileRow, 2 - c), 255)) << fileRow << "," << x;
    }
}

TEST(TiffDecode, RgbAndGreyKeepEveryValue)
{
    // Every channel value of an opaque pixel survives, 0 to 255, in RGB, grey and min-is-white grey.
    const int values[] = {0, 1, 2, 3, 127, 128, 129, 200, 253, 254, 255};
    const int count = int(std::size(values));
    QTemporaryDir dir;
    TiffContent rgb = Rgb8(count, 3); // width 11: one padding pixel per row
    rgb.m_Sample = [&values, count](int x, int y, int s) { return std::uint16_t(values[(x + y + 4 * s) % count]); };
    rgb.m_nRowsPerStrip = 1;
    TiffContent grey = rgb;
    grey.m_nSamples = 1;
    grey.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    TiffContent inverted = grey;
    inverted.m_nPhotometric = PHOTOMETRIC_MINISWHITE;
    const QString path = dir.filePath(QStringLiteral("formula.tif"));
    ASSERT_TRUE(WriteTiff(path, {rgb, grey, inverted}));

    for (int d = 0; d < 3; ++d) {
        SCOPED_TRACE(d);
        DIBSection section;
        ASSERT_TRUE(LoadTiffImage(path, section, d));
        ASSERT_EQ(section.m_nWidth, count);
        ASSERT_EQ(section.m_nHeight, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < count; ++x) {
                const int r = rgb.m_Sample(x, y, 0), g = rgb.m_Sample(x, y, 1), b = rgb.m_Sample(x, y, 2);
                std::array<int, 3> want{};
                if (d == 0)
                    want = {b, g, r};
                else if (d == 1)
                    want = {r, r, r};
                else
                    want = {255 - r, 255 - r, 255 - r};
                EXPECT_EQ(PixelAt(section, x, y), want) << x << "," << y;
            }
            // The padding column is untouched.
            const std::uint8_t* row = section.StoredRow(y);
            EXPECT_EQ(row[3 * count] | row[3 * count + 1] | row[3 * count + 2], 0);
        }
    }
}

TEST(TiffDecode, AssociatedAlphaIsKeptAndTransparentIsBlack)
{
    const int alphas[] = {0, 1, 128, 254, 255};
    const int colours[] = {0, 1, 100, 200, 255};
    QTemporaryDir dir;
    TiffContent content = Rgb8(5, 5);
    content.m_nSamples = 4;
    content.m_ExtraSamples = {EXTRASAMPLE_ASSOCALPHA};
    content.m_Sample = [&](int x, int y, int s) {
        if (s == 3)
            return std::uint16_t(alphas[y]);
        return std::uint16_t(colours[(x + s) % 5]);
    };
    const QString path = dir.filePath(QStringLiteral("alpha.tif"));
    ASSERT_TRUE(WriteTiff(path, {content}));
    DIBSection section;
    ASSERT_TRUE(LoadTiffImage(path, section, 0));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            const std::array<int, 3> want{Premultiplied(colours[(x + 2) % 5], alphas[y]),
                                          Premultiplied(colours[(x + 1) % 5], alphas[y]),
                                          Premultiplied(colours[x % 5], alphas[y])};
            EXPECT_EQ(PixelAt(section, x, y), want) << x << "," << y;
        }
    }
    // Fully transparent is black.
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(PixelAt(section, x, 0), (std::array<int, 3>{0, 0, 0}));
}

TEST(TiffDecode, UnconvertiblePixelsGiveNoImage)
{
    // 12-bit samples are beyond libtiff's RGBA conversion: no image is kept, and the user is
    // told why.
    QTemporaryDir dir;
    TiffContent content = Rgb8(6, 4);
    content.m_nSamples = 1;
    content.m_nBits = 12;
    content.m_nPhotometric = PHOTOMETRIC_MINISBLACK;
    content.m_Sample = [](int x, int y, int) { return std::uint16_t(x * 500 + y); };
    const QString path = dir.filePath(QStringLiteral("twelve.tif"));
    ASSERT_TRUE(WriteTiff(path, {content}));
    ASSERT_FALSE(ReferenceDecode(path, 0).m_bRead);

    TiffMessageScope ui;
    DIBSection section;
    EXPECT_FALSE(LoadTiffImage(path, section, 0));
    EXPECT_EQ(section.m_pBits, nullptr);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].m_strCaption, QStringLiteral("TIFF Error"));
    EXPECT_TRUE(ui.Messages()[0].m_strText.contains(QStringLiteral("12-bit"))) << ui.Messages()[0].m_strText.toStdString();
}

TEST(TiffDecode, RefusesSectionsItCannotFill)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("small.tif"));
    ASSERT_TRUE(WriteTiff(path, {Rgb8(4, 4)}));
    TiffFile file(path);
    ASSERT_TRUE(file);
    DIBSection empty;
    EXPECT_FALSE(DecodeTiffDirectory(file.Handle(), empty));
    DIBSection wrongDepth;
    wrongDepth.Create(32, 4, 4);
    EXPECT_FALSE(DecodeTiffDirectory(file.Handle(), wrongDepth));
    EXPECT_FALSE(DecodeTiffDirectory(nullptr, wrongDepth));
}
