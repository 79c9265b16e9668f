// The workspace file's layout, byte for byte, and the checks of its reader.

#include "formats/WorkspaceFile.h"
#include "formats/WorkspaceSideFile.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Little-endian values read straight from the bytes, independently of the reader under test.
std::int32_t Int32At(const QByteArray& file, qsizetype offset)
{
    return qFromLittleEndian<qint32>(file.constData() + offset);
}

double DoubleAt(const QByteArray& file, qsizetype offset)
{
    return std::bit_cast<double>(qFromLittleEndian<quint64>(file.constData() + offset));
}

std::uint64_t BitsOf(double value)
{
    return std::bit_cast<std::uint64_t>(value);
}

void PutInt32(QByteArray& file, qsizetype offset, std::int32_t value)
{
    qToLittleEndian<qint32>(value, file.data() + offset);
}

/// Sixteen coefficients that differ in every slot, including the ten the program never sets
/// and values whose bits a careless copy would lose (negative zero, a subnormal, a NaN payload).
std::array<double, 16> UnusualCoefficients()
{
    return {0.015625,
            -2.5,
            -0.0,
            1234.5678901234567,
            -3.25e-7,
            400.125,
            std::numeric_limits<double>::denorm_min(),
            -98765.4321,
            1e300,
            -1e-300,
            std::bit_cast<double>(std::uint64_t{0x7ff8000000012345}),
            std::numeric_limits<double>::infinity(),
            42.0,
            -7.75,
            3.0e8,
            0.1};
}

std::vector<CDataGeo> SevenPoints()
{
    std::vector<CDataGeo> points;
    for (int i = 0; i < 7; ++i)
        points.push_back({3600.0 * (40 + i) + 0.25, -3600.0 * (75 + i) - 0.5, 0.1 * i + 0.05, 0.9 - 0.1 * i});
    return points;
}

/// The picture of a picture map: 12 345 bytes that begin like a JPEG file.
QByteArray JpegLikeBytes()
{
    QByteArray bytes(12345, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
    bytes[0] = '\xff';
    bytes[1] = '\xd8';
    bytes[2] = '\xff';
    return bytes;
}

void ExpectCommonPart(const QByteArray& file, int geoCoded, int mapType, int width, int height,
                      const std::array<double, 16>& coefficients)
{
    ASSERT_GE(file.size(), 148);
    EXPECT_EQ(file.left(4), QByteArray("\x20\x53\x57\x50", 4));
    EXPECT_EQ(Int32At(file, 4), geoCoded);
    EXPECT_EQ(Int32At(file, 8), mapType);
    EXPECT_EQ(Int32At(file, 12), width);
    EXPECT_EQ(Int32At(file, 16), height);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(BitsOf(DoubleAt(file, 20 + 8 * i)), BitsOf(coefficients[i])) << "c" << i;
}

void ExpectPointsAt(const QByteArray& file, qsizetype offset, const std::vector<CDataGeo>& points)
{
    ASSERT_EQ(Int32At(file, offset), static_cast<int>(points.size()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const qsizetype at = offset + 4 + 32 * static_cast<qsizetype>(i);
        EXPECT_EQ(DoubleAt(file, at), points[i].m_dLatitude) << i;
        EXPECT_EQ(DoubleAt(file, at + 8), points[i].m_dLongitude) << i;
        EXPECT_EQ(DoubleAt(file, at + 16), points[i].m_dImageX) << i;
        EXPECT_EQ(DoubleAt(file, at + 24), points[i].m_dImageY) << i;
    }
}

/// The workspace of a picture map of kind mapType with the given picture bytes and points.
WorkspaceContents PictureContents(int mapType, const QByteArray& picture, const std::vector<CDataGeo>& points)
{
    WorkspaceContents contents;
    contents.m_nMapType = mapType;
    contents.m_nGeoCoded = 1;
    contents.m_nImageWidth = 640;
    contents.m_nImageHeight = 480;
    contents.m_dGeoCoef = UnusualCoefficients();
    contents.m_PictureBytes = picture;
    contents.m_ControlPoints = points;
    return contents;
}

/// The workspace of a TIFF map (kind 9) with two images whose path is the 13-character text
/// C:\maps\a.tif, shown with a GeoTIFF frame in a zoomed window.
WorkspaceContents TiffContents()
{
    WorkspaceContents contents;
    contents.m_nMapType = 9;
    contents.m_nGeoCoded = 1;
    contents.m_nImageWidth = 300;
    contents.m_nImageHeight = 200;
    contents.m_dGeoCoef = UnusualCoefficients();
    WorkspaceTiffPart tiff;
    tiff.m_nGeoTiffFrame = 1;
    tiff.m_nSelectedImage = 1;
    tiff.m_GeoOrigin = {40.5, -75.25, 0, 0};
    tiff.m_GeoExtent = {0.125, 0.375, 0, 0};
    tiff.m_FrameOrigin = {40.25, -75.5, 0, 0};
    tiff.m_FrameExtent = {0.625, 0.875, 0, 0};
    tiff.m_dWinLeft = 0.125;
    tiff.m_dWinRight = 0.875;
    tiff.m_dWinBottom = 0.25;
    tiff.m_dWinTop = 0.75;
    tiff.m_nImageCount = 2;
    tiff.m_PathBytes = QByteArray("C:\\maps\\a.tif\0", 14);
    contents.m_Tiff = tiff;
    contents.m_ControlPoints = {{145800.5, -271800.25, -75.1, 40.6}, {145900.0, -271700.0, -75.2, 40.7}};
    return contents;
}

QByteArray SmallPictureWorkspace()
{
    return EncodeWorkspace(PictureContents(2, QByteArray("0123456789"), {{1, 2, 0.25, 0.5}, {3, 4, 0.75, 0.125}}));
}

QByteArray SmallTiffWorkspace()
{
    return EncodeWorkspace(TiffContents());
}

QByteArray EmptyWorkspace()
{
    return EncodeWorkspace(WorkspaceContents{});
}

} // namespace

TEST(WorkspaceLayout, PictureMapWithSevenPointsFromA12345ByteFileIs12725Bytes)
{
    const QByteArray picture = JpegLikeBytes();
    const QByteArray file = EncodeWorkspace(PictureContents(7, picture, SevenPoints()));

    // 4 + 4 + 4 + 4 + 4 + 128 + 4 + 12 345 + 4 + 7 x 32
    ASSERT_EQ(file.size(), 12725);
    ExpectCommonPart(file, 1, 7, 640, 480, UnusualCoefficients());
    EXPECT_EQ(Int32At(file, 148), 12345);
    EXPECT_EQ(file.mid(152, 12345), picture);
    ExpectPointsAt(file, 152 + 12345, SevenPoints());
}

TEST(WorkspaceLayout, EveryPictureKindStoresItsBytesAndPoints)
{
    for (int kind = 1; kind <= 8; ++kind) {
        const QByteArray file = EncodeWorkspace(PictureContents(kind, QByteArray("abc"), {{1, 2, 3, 4}}));
        ASSERT_EQ(file.size(), 148 + 4 + 3 + 4 + 32) << kind;
        EXPECT_EQ(Int32At(file, 8), kind);
        EXPECT_EQ(Int32At(file, 148), 3);
        EXPECT_EQ(file.mid(152, 3), QByteArray("abc"));
        ExpectPointsAt(file, 155, {{1, 2, 3, 4}});
    }
}

TEST(WorkspaceLayout, TiffMapStoresViewStateFramePathAndPoints)
{
    const WorkspaceContents contents = TiffContents();
    const QByteArray file = EncodeWorkspace(contents);

    // 257 + P bytes, then N and two points; P = 13 characters + 1.
    ASSERT_EQ(file.size(), 257 + 14 + 4 + 2 * 32);
    ExpectCommonPart(file, 1, 9, 300, 200, UnusualCoefficients());
    EXPECT_EQ(file.at(148), '\x01');
    EXPECT_EQ(Int32At(file, 149), 1);
    const double frame[] = {40.5, -75.25, 0.125, 0.375, 40.25, -75.5, 0.625, 0.875};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(DoubleAt(file, 153 + 8 * i), frame[i]) << i;
    // The window in the order left, right, bottom, top.
    EXPECT_EQ(DoubleAt(file, 217), 0.125);
    EXPECT_EQ(DoubleAt(file, 225), 0.875);
    EXPECT_EQ(DoubleAt(file, 233), 0.25);
    EXPECT_EQ(DoubleAt(file, 241), 0.75);
    EXPECT_EQ(Int32At(file, 249), 2);
    EXPECT_EQ(Int32At(file, 253), 14);
    EXPECT_EQ(file.mid(257, 14), QByteArray("C:\\maps\\a.tif\0", 14));
    ExpectPointsAt(file, 271, contents.m_ControlPoints);
}

TEST(WorkspaceLayout, TiffKindTenAndAPathOfOtherLengths)
{
    const struct {
        int kind;
        QString path;
        QByteArray stored; // what the file holds, terminating zero included
    } cases[] = {
        {10, QStringLiteral("/maps/b.tiff"), QByteArray("/maps/b.tiff\0", 13)},
        {9, QString(), QByteArray(1, '\0')},
        // Non-ASCII characters are kept as UTF-8, so P counts bytes.
        {9, QStringLiteral("/k\u00e4rten/c.tif"), QByteArray("/k\xc3\xa4rten/c.tif\0", 15)},
    };
    for (const auto& c : cases) {
        WorkspaceContents contents;
        contents.m_nMapType = c.kind;
        WorkspaceTiffPart tiff;
        tiff.m_PathBytes = c.path.toUtf8() + QByteArray(1, '\0');
        contents.m_Tiff = tiff;
        const QByteArray file = EncodeWorkspace(contents);
        ASSERT_EQ(file.size(), 257 + c.stored.size() + 4) << c.path.toStdString();
        EXPECT_EQ(Int32At(file, 8), c.kind);
        EXPECT_EQ(Int32At(file, 249), 0);
        EXPECT_EQ(Int32At(file, 253), c.stored.size());
        EXPECT_EQ(file.mid(257, c.stored.size()), c.stored);
        EXPECT_EQ(Int32At(file, 257 + c.stored.size()), 0);
    }
}

TEST(WorkspaceLayout, OtherKindsEndAfterTheCommonPart)
{
    for (const int kind : {0, 11, -1, 1000}) {
        WorkspaceContents contents;
        contents.m_nMapType = kind;
        contents.m_nImageWidth = 12;
        contents.m_nImageHeight = 34;
        contents.m_ControlPoints = {{1, 2, 3, 4}}; // not stored without map data
        contents.m_PictureBytes = QByteArray("xyz");
        const QByteArray file = EncodeWorkspace(contents);
        ASSERT_EQ(file.size(), 148) << kind;
        ExpectCommonPart(file, 0, kind, 12, 34, std::array<double, 16>{});
    }
}

TEST(WorkspaceParse, PictureWorkspaceReadsBackEveryValue)
{
    const QByteArray picture = JpegLikeBytes();
    const Parsed<WorkspaceContents> contents = ParseWorkspace(EncodeWorkspace(PictureContents(7, picture, SevenPoints())));
    ASSERT_TRUE(contents) << contents.Why().toStdString();
    EXPECT_EQ(contents->m_nGeoCoded, 1);
    EXPECT_EQ(contents->m_nMapType, 7);
    EXPECT_EQ(contents->m_nImageWidth, 640);
    EXPECT_EQ(contents->m_nImageHeight, 480);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(BitsOf(contents->m_dGeoCoef[i]), BitsOf(UnusualCoefficients()[i])) << "c" << i;
    ASSERT_TRUE(contents->m_PictureBytes);
    EXPECT_EQ(*contents->m_PictureBytes, picture);
    EXPECT_FALSE(contents->m_Tiff);
    EXPECT_EQ(contents->m_ControlPoints, SevenPoints());
}

TEST(WorkspaceParse, TiffWorkspaceReadsBackEveryValue)
{
    const Parsed<WorkspaceContents> contents = ParseWorkspace(SmallTiffWorkspace());
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->m_nMapType, 9);
    EXPECT_FALSE(contents->m_PictureBytes);
    ASSERT_TRUE(contents->m_Tiff);
    const WorkspaceTiffPart& tiff = *contents->m_Tiff;
    EXPECT_EQ(tiff.m_nGeoTiffFrame, 1);
    EXPECT_EQ(tiff.m_nSelectedImage, 1);
    EXPECT_EQ(tiff.m_GeoOrigin, (CDataGeo{40.5, -75.25, 0, 0}));
    EXPECT_EQ(tiff.m_GeoExtent, (CDataGeo{0.125, 0.375, 0, 0}));
    EXPECT_EQ(tiff.m_FrameOrigin, (CDataGeo{40.25, -75.5, 0, 0}));
    EXPECT_EQ(tiff.m_FrameExtent, (CDataGeo{0.625, 0.875, 0, 0}));
    EXPECT_EQ(tiff.m_dWinLeft, 0.125);
    EXPECT_EQ(tiff.m_dWinRight, 0.875);
    EXPECT_EQ(tiff.m_dWinBottom, 0.25);
    EXPECT_EQ(tiff.m_dWinTop, 0.75);
    EXPECT_EQ(tiff.m_nImageCount, 2);
    EXPECT_EQ(tiff.MapPath(), QStringLiteral("C:\\maps\\a.tif"));
    ASSERT_EQ(contents->m_ControlPoints.size(), 2u);
    EXPECT_EQ(contents->m_ControlPoints[1], (CDataGeo{145900.0, -271700.0, -75.2, 40.7}));
}

TEST(WorkspaceParse, StoredPathIsTheTextUpToTheFirstZero)
{
    const struct {
        QByteArray stored;
        QString path;
    } cases[] = {
        {QByteArray("/a.tif\0junk\0", 12), QStringLiteral("/a.tif")},
        {QByteArray("/no/terminator.tif"), QStringLiteral("/no/terminator.tif")},
        {QByteArray(), QString()},
        {QByteArray("\0/hidden.tif", 12), QString()},
    };
    for (const auto& c : cases) {
        QByteArray file = SmallTiffWorkspace();
        const QByteArray points = file.mid(271);
        file.truncate(253);
        file.append(QByteArray(4, '\0')).append(c.stored).append(points);
        PutInt32(file, 253, static_cast<std::int32_t>(c.stored.size()));
        const Parsed<WorkspaceContents> contents = ParseWorkspace(file);
        ASSERT_TRUE(contents) << c.stored.toStdString();
        EXPECT_EQ(contents->m_Tiff->MapPath(), c.path);
        EXPECT_EQ(contents->m_ControlPoints.size(), 2u);
    }
}

TEST(WorkspaceParse, EveryShorterFileIsRefused)
{
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"picture", SmallPictureWorkspace()},
        {"tiff", SmallTiffWorkspace()},
        {"no map", EmptyWorkspace()},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(ParseWorkspace(c.file)) << c.name;
        for (qsizetype length = 0; length < c.file.size(); ++length) {
            const Parsed<WorkspaceContents> parsed = ParseWorkspace(c.file.left(length));
            const QString& error = parsed.Why();
            EXPECT_FALSE(parsed) << c.name << " cut at " << length;
            EXPECT_FALSE(error.isEmpty()) << c.name << " cut at " << length;
        }
    }
}

TEST(WorkspaceParse, CountsBeyondTheDataAreRefused)
{
    const QByteArray picture = SmallPictureWorkspace(); // L = 10 at 148, N = 2 at 162
    const QByteArray tiff = SmallTiffWorkspace();       // M = 2 at 249, P = 14 at 253, N = 2 at 271
    const struct {
        const char* name;
        QByteArray file;
        qsizetype offset;
        std::int32_t value;
    } cases[] = {
        {"picture length one more than there is", picture, 148, 10 + 4 + 64 + 1},
        {"picture length far beyond", picture, 148, std::numeric_limits<std::int32_t>::max()},
        {"picture length negative", picture, 148, -1},
        {"one point more", picture, 162, 3},
        {"points far beyond", picture, 162, std::numeric_limits<std::int32_t>::max()},
        {"points whose bytes overflow 32 bits", picture, 162, 0x08000000},
        {"points negative", picture, 162, -2},
        {"path one more than there is", tiff, 253, 14 + 4 + 64 + 1},
        {"path far beyond", tiff, 253, std::numeric_limits<std::int32_t>::max()},
        {"path negative", tiff, 253, -14},
        {"image count negative", tiff, 249, -1},
        {"one TIFF point more", tiff, 271, 3},
        {"TIFF points negative", tiff, 271, std::numeric_limits<std::int32_t>::min()},
    };
    for (const auto& c : cases) {
        QByteArray file = c.file;
        PutInt32(file, c.offset, c.value);
        const Parsed<WorkspaceContents> parsed = ParseWorkspace(file);
        const QString& error = parsed.Why();
        EXPECT_FALSE(parsed) << c.name;
        EXPECT_TRUE(error.contains(QStringLiteral("cut short or damaged"))) << c.name << ": " << error.toStdString();
    }
}

TEST(WorkspaceParse, AFileWithoutTheTagIsRefused)
{
    const QByteArray sound = SmallPictureWorkspace();
    const QByteArray tags[] = {QByteArray("PWS "), QByteArray(4, '\0'), QByteArray(" SWQ"), QByteArray(" FPC"),
                               QByteArray("\x20\x53\x57\x00", 4)};
    for (const QByteArray& tag : tags) {
        const Parsed<WorkspaceContents> parsed = ParseWorkspace(tag + sound.mid(4));
        const QString& error = parsed.Why();
        EXPECT_FALSE(parsed) << tag.toHex().toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("not a work space file"))) << error.toStdString();
    }
}

TEST(WorkspaceParse, BytesAfterTheLastValueAreRefused)
{
    // A count that is too small leaves bytes over at the end, so the file must end exactly.
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"picture", SmallPictureWorkspace() + QByteArray("trailing")},
        {"tiff", SmallTiffWorkspace() + QByteArray(1, '\0')},
        {"no map", EmptyWorkspace() + QByteArray(4, '\0')},
    };
    for (const auto& c : cases) {
        const Parsed<WorkspaceContents> parsed = ParseWorkspace(c.file);
        const QString& error = parsed.Why();
        EXPECT_FALSE(parsed) << c.name;
        EXPECT_TRUE(error.contains(QStringLiteral("cut short or damaged"))) << c.name;
    }
    QByteArray smaller = SmallPictureWorkspace();
    PutInt32(smaller, 148, 9); // one picture byte fewer than there are
    EXPECT_FALSE(ParseWorkspace(smaller));
}

TEST(WorkspaceParse, EncodingParsedContentsGivesTheSameBytes)
{
    for (const QByteArray& file : {SmallPictureWorkspace(), SmallTiffWorkspace(), EmptyWorkspace()}) {
        const Parsed<WorkspaceContents> contents = ParseWorkspace(file);
        ASSERT_TRUE(contents);
        EXPECT_EQ(EncodeWorkspace(*contents), file);
    }
}

TEST(WorkspaceSideFile, KeepsReferencesRelativeToTheWorkspaceFolderOnlyWhenBelowIt)
{
    // Beside /maps/usa.pws; read back, every reference is absolute again.
    const QString workspace = QStringLiteral("/maps/usa.pws");
    const WorkspaceSideFile side{{}, {"/maps/ref/county.tif", "/data/roads.gpkg", "/mapsold/rivers.shp", "/maps/a=b c.kml"}};
    const char* text = "# Varnel geo-coding of usa.pws\ntransform=affine\nfit_crs=geographic\nreference=ref/county.tif\n"
                       "reference=/data/roads.gpkg\nreference=/mapsold/rivers.shp\nreference=a=b c.kml\n";
    EXPECT_EQ(WorkspaceSideFileText(side, workspace), QByteArray(text));
    // Written by Varnel, by hand or by an older Varnel: the references each gives, or why it is refused.
    const struct { const char* text; QStringList references; const char* refusal; } cases[] = {
        {text, side.m_References, nullptr},
        {"transform=helmert\nfit_crs=utm\n", {}, nullptr},
        {"reference=../up/a.tif\n  reference = /x/./b.tif ", {"/up/a.tif", "/x/b.tif"}, nullptr},
        {"reference=\n", {}, "line 1 is not a setting"},
        {"fit_crs=geographic\nreferences=a.tif\n", {}, "line 2 is not a setting"},
    };
    for (const auto& c : cases) {
        const Parsed<WorkspaceSideFile> read = ParseWorkspaceSideFile(c.text, workspace);
        EXPECT_EQ(read ? read->m_References.join('|') : read.Why().left(23), c.refusal ? c.refusal : c.references.join('|'));
    }
    // Only a default choice without references goes without a side file (a stale one is removed).
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("w.pws"));
    for (const QStringList& references : {QStringList{dir.filePath(QStringLiteral("gone.tif"))}, QStringList{}}) {
        ASSERT_TRUE(WriteWorkspaceSideFile(path, {{}, references}));
        EXPECT_EQ(QFileInfo::exists(path + QStringLiteral(".geocoding")), !references.isEmpty());
        EXPECT_EQ(ReadWorkspaceSideFile(path)->m_References, references);
    }
}
