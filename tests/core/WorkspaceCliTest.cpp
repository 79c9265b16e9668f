// varnel-cli info: workspaces reported as stored, projection files as unpack reports them.

#include "formats/WorkspaceFile.h"

#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kCoefficients = QStringLiteral(
    "-3.25e-7,400.125,0.75,-2800.874985375,-1234.5678901234567,0.1,6,55554.855055555556,8,9,10,11,12,13,14,1e300");

std::array<double, 16> Coefficients()
{
    std::array<double, 16> c{};
    const QStringList parts = kCoefficients.split(QLatin1Char(','));
    for (int i = 0; i < 16; ++i)
        c[i] = parts[i].toDouble();
    return c;
}

QJsonObject Json(const CliResult& result)
{
    EXPECT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(result.m_StdOut, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << result.m_StdOut.toStdString();
    return json.object();
}

void ExpectCoefficients(const QJsonValue& value)
{
    const QJsonArray array = value.toArray();
    ASSERT_EQ(array.size(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_DOUBLE_EQ(array[i].toDouble(), Coefficients()[i]) << "c" << i;
}

void ExpectLatLon(const QJsonValue& value, double latitude, double longitude)
{
    EXPECT_DOUBLE_EQ(value[QStringLiteral("latitude")].toDouble(), latitude);
    EXPECT_DOUBLE_EQ(value[QStringLiteral("longitude")].toDouble(), longitude);
}

class WorkspaceCliTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_Dir.filePath(name); }
    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(WorkspaceCliTest, PictureWorkspaceIsReportedAsStored)
{
    WorkspaceContents contents;
    contents.m_nMapType = 5;
    contents.m_nGeoCoded = 1;
    contents.m_nImageWidth = 321;
    contents.m_nImageHeight = 123;
    contents.m_dGeoCoef = Coefficients();
    contents.m_PictureBytes = QByteArray(777, 'g'); // need not be a picture: it is not decoded
    contents.m_ControlPoints = {{144000.5, -270000.25, 0.25, 0.75}, {144100.0, -269900.0, 0.5, 0.125}};
    const QByteArray file = EncodeWorkspace(contents);
    for (const QString& name : {QStringLiteral("map.pws"), QStringLiteral("MAP.PWS")}) {
        WriteFileBytes(Path(name), file);
        const QJsonObject json = Json(RunCli({QStringLiteral("info"), Path(name)}));
        EXPECT_EQ(json.value(QStringLiteral("kind")).toString(), QStringLiteral("workspace"));
        EXPECT_EQ(json.value(QStringLiteral("geocoded")).toInt(-1), 1);
        EXPECT_EQ(json.value(QStringLiteral("map_type")).toInt(), 5);
        EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 321);
        EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 123);
        ExpectCoefficients(json.value(QStringLiteral("coefficients")));
        EXPECT_EQ(json.value(QStringLiteral("picture_bytes")).toInt(), 777);
        EXPECT_TRUE(json.value(QStringLiteral("tiff")).isNull());
        const QJsonArray points = json.value(QStringLiteral("points")).toArray();
        ASSERT_EQ(points.size(), 2);
        const double expected[2][4] = {{144000.5, -270000.25, 0.25, 0.75}, {144100.0, -269900.0, 0.5, 0.125}};
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(points[i].toArray().size(), 4);
            for (int k = 0; k < 4; ++k)
                EXPECT_DOUBLE_EQ(points[i].toArray()[k].toDouble(), expected[i][k]) << i << "," << k;
        }
    }
}

TEST_F(WorkspaceCliTest, TiffWorkspaceIsReportedWithoutDecodingTheTiff)
{
    WorkspaceContents contents;
    contents.m_nMapType = 10;
    contents.m_nImageWidth = 300;
    contents.m_nImageHeight = 200;
    contents.m_dGeoCoef = Coefficients();
    WorkspaceTiffPart tiff;
    tiff.m_PathBytes = QByteArray("C:\\maps\\a.tif\0", 14); // not there: info only reads the workspace
    tiff.m_nImageCount = 3;
    tiff.m_GeoOrigin = {40.5, -75.25, 0, 0};
    tiff.m_GeoExtent = {0.125, 0.375, 0, 0};
    tiff.m_FrameOrigin = {40.25, -75.5, 0, 0};
    tiff.m_FrameExtent = {0.625, 0.875, 0, 0};
    tiff.m_nGeoTiffFrame = 1;
    tiff.m_nSelectedImage = 2;
    tiff.m_dWinLeft = 0.125;
    tiff.m_dWinRight = 0.875;
    tiff.m_dWinBottom = 0.25;
    tiff.m_dWinTop = 0.75;
    contents.m_Tiff = tiff;
    contents.m_ControlPoints = {{1.5, 2.5, 3.5, 4.5}};
    WriteFileBytes(Path(QStringLiteral("sheet.pws")), EncodeWorkspace(contents));

    const CliResult result = RunCli({QStringLiteral("info"), Path(QStringLiteral("sheet.pws"))});
    EXPECT_TRUE(result.m_StdErr.isEmpty()) << result.m_StdErr.toStdString();
    const QJsonObject json = Json(result);
    EXPECT_EQ(json.value(QStringLiteral("geocoded")).toInt(-1), 0);
    EXPECT_EQ(json.value(QStringLiteral("map_type")).toInt(), 10);
    EXPECT_TRUE(json.value(QStringLiteral("picture_bytes")).isNull());
    const QJsonObject stored = json.value(QStringLiteral("tiff")).toObject();
    EXPECT_EQ(stored.value(QStringLiteral("geotiff_frame")).toInt(-1), 1);
    EXPECT_EQ(stored.value(QStringLiteral("selected_image")).toInt(), 2);
    ExpectLatLon(stored.value(QStringLiteral("geo_origin")), 40.5, -75.25);
    ExpectLatLon(stored.value(QStringLiteral("geo_extent")), 0.125, 0.375);
    ExpectLatLon(stored.value(QStringLiteral("frame_origin")), 40.25, -75.5);
    ExpectLatLon(stored.value(QStringLiteral("frame_extent")), 0.625, 0.875);
    const QJsonObject window = stored.value(QStringLiteral("window")).toObject();
    EXPECT_DOUBLE_EQ(window.value(QStringLiteral("left")).toDouble(), 0.125);
    EXPECT_DOUBLE_EQ(window.value(QStringLiteral("right")).toDouble(), 0.875);
    EXPECT_DOUBLE_EQ(window.value(QStringLiteral("bottom")).toDouble(), 0.25);
    EXPECT_DOUBLE_EQ(window.value(QStringLiteral("top")).toDouble(), 0.75);
    EXPECT_EQ(stored.value(QStringLiteral("image_count")).toInt(), 3);
    EXPECT_EQ(stored.value(QStringLiteral("path")).toString(), QStringLiteral("C:\\maps\\a.tif"));
    EXPECT_EQ(json.value(QStringLiteral("points")).toArray().size(), 1);
}

TEST_F(WorkspaceCliTest, ProjectionFilesAreReportedAsUnpackReportsThem)
{
    for (const char* format : {"dpf", "gpf", "cpf"}) {
        const QString out = Path(QStringLiteral("town.") + QString::fromLatin1(format));
        const CliResult packed =
            RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QString::fromLatin1(format), QStringLiteral("--coef"),
                    kCoefficients, TestDataPath(QStringLiteral("pictures/bmp/rgb24.bmp")), QStringLiteral("-o"), out});
        ASSERT_EQ(packed.m_nExitCode, 0) << packed.m_StdErr.toStdString();
        const CliResult info = RunCli({QStringLiteral("info"), out});
        const CliResult unpack = RunCli({QStringLiteral("unpack"), out});
        EXPECT_EQ(info.m_StdOut, unpack.m_StdOut) << format;
        const QJsonObject json = Json(info);
        EXPECT_EQ(json.value(QStringLiteral("flavour")).toString(), QString::fromLatin1(format).toUpper());
        EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 127);
        EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 64);
        ExpectCoefficients(json.value(QStringLiteral("coefficients")));
    }
}

TEST_F(WorkspaceCliTest, RefusedFilesExitWithAMessage)
{
    WorkspaceContents contents;
    contents.m_nMapType = 2;
    contents.m_PictureBytes = QByteArray(50, 'b');
    contents.m_ControlPoints = {{1, 2, 3, 4}};
    const QByteArray sound = EncodeWorkspace(contents);
    WriteFileBytes(Path(QStringLiteral("short.pws")), sound.left(sound.size() - 1));
    QByteArray wrongTag = sound;
    wrongTag[0] = 'X';
    WriteFileBytes(Path(QStringLiteral("tag.pws")), wrongTag);
    WriteFileBytes(Path(QStringLiteral("broken.dpf")), QByteArray(300, '\x01'));
    WriteFileBytes(Path(QStringLiteral("notes.txt")), sound);

    const struct {
        const char* file;
        const char* says;
    } cases[] = {
        {"short.pws", "cut short"},
        {"tag.pws", "not a work space file"},
        {"missing.pws", "was not found"},
        {"broken.dpf", "varnel-cli info"},
        {"notes.txt", "not a work space"},
    };
    for (const auto& c : cases) {
        const CliResult result = RunCli({QStringLiteral("info"), Path(QString::fromLatin1(c.file))});
        EXPECT_EQ(result.m_nExitCode, 1) << c.file;
        EXPECT_TRUE(result.m_StdOut.isEmpty()) << c.file;
        EXPECT_TRUE(result.m_StdErr.contains(c.says)) << c.file << ": " << result.m_StdErr.toStdString();
    }
    const CliResult usage = RunCli({QStringLiteral("info")});
    EXPECT_EQ(usage.m_nExitCode, 2);
    EXPECT_TRUE(usage.m_StdErr.contains("usage"));
}
