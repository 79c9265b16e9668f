// varnel-cli geotiff: a TIFF map import and its georeferences as JSON.

#include "TestSupport.h"
#include "TiffTestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QJsonArray Images(const CliResult& result)
{
    return QJsonDocument::fromJson(result.m_StdOut).object().value(QStringLiteral("images")).toArray();
}

} // namespace

TEST(GeoTiffCli, ReportsTheImageAndItsGeoreference)
{
    const QString path = TestDataPath(QStringLiteral("geotiff/byte.tif"));
    const RawTiff raw(ReadFileBytes(path));
    const std::vector<double> tie = RawTiff::Doubles(raw.Directories().at(0), 33922);
    const std::vector<double> scale = RawTiff::Doubles(raw.Directories().at(0), 33550);
    ASSERT_GE(tie.size(), 6u);
    ASSERT_GE(scale.size(), 2u);

    const CliResult result = RunCli({QStringLiteral("geotiff"), path});
    ASSERT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
    EXPECT_TRUE(result.m_StdErr.isEmpty()) << result.m_StdErr.toStdString();
    const QJsonArray images = Images(result);
    ASSERT_EQ(images.size(), 1);
    const QJsonObject image = images[0].toObject();
    EXPECT_EQ(image.value(QStringLiteral("directory")).toInt(-1), 0);
    EXPECT_EQ(image.value(QStringLiteral("width")).toInt(), 20);
    EXPECT_EQ(image.value(QStringLiteral("height")).toInt(), 20);
    EXPECT_EQ(image.value(QStringLiteral("bits_per_sample")).toInt(), 8);
    const QJsonObject geo = image.value(QStringLiteral("georeference")).toObject();
    EXPECT_EQ(geo.value(QStringLiteral("tie_x")).toDouble(), tie[3]);
    EXPECT_EQ(geo.value(QStringLiteral("tie_y")).toDouble(), tie[4]);
    EXPECT_EQ(geo.value(QStringLiteral("scale_x")).toDouble(), scale[0]);
    EXPECT_EQ(geo.value(QStringLiteral("scale_y")).toDouble(), scale[1]);
    // "NAD27 / UTM zone 11N"
    EXPECT_EQ(geo.value(QStringLiteral("zone")).toInt(), 11);
    EXPECT_EQ(geo.value(QStringLiteral("has_zone")).toInt(), 1);
    EXPECT_EQ(geo.value(QStringLiteral("datum")).toInt(), 1);
    EXPECT_EQ(geo.value(QStringLiteral("south")).toInt(-1), 0);
}

TEST(GeoTiffCli, ListsEveryKeptImageInOrder)
{
    const CliResult cog = RunCli({QStringLiteral("geotiff"), TestDataPath(QStringLiteral("geotiff/cog_ovr.tif"))});
    ASSERT_EQ(cog.m_nExitCode, 0);
    const QJsonArray overviews = Images(cog);
    ASSERT_EQ(overviews.size(), 5);
    int width = 1 << 30;
    for (int i = 0; i < overviews.size(); ++i) {
        const QJsonObject image = overviews[i].toObject();
        EXPECT_EQ(image.value(QStringLiteral("directory")).toInt(), i);
        EXPECT_LT(image.value(QStringLiteral("width")).toInt(), width);
        width = image.value(QStringLiteral("width")).toInt();
        // Every overview carries the full image's georeference ("WGS 84 / UTM zone 21N").
        const QJsonObject geo = image.value(QStringLiteral("georeference")).toObject();
        EXPECT_EQ(geo.value(QStringLiteral("zone")).toInt(), 21);
        EXPECT_EQ(geo.value(QStringLiteral("datum")).toInt(-1), 0);
    }

    const CliResult plain = RunCli({QStringLiteral("geotiff"), TestDataPath(QStringLiteral("tiff/multipage.tiff"))});
    ASSERT_EQ(plain.m_nExitCode, 0);
    const QJsonArray pages = Images(plain);
    ASSERT_EQ(pages.size(), 3);
    for (const QJsonValue& page : pages) {
        EXPECT_TRUE(page.toObject().value(QStringLiteral("georeference")).isNull());
        EXPECT_EQ(page.toObject().value(QStringLiteral("bits_per_sample")).toInt(), 1);
    }
    EXPECT_EQ(pages[2].toObject().value(QStringLiteral("width")).toInt(), 20);
}

TEST(GeoTiffCli, UnreadableFilesAndFilesWithNoImageLeftAreErrors)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone.tif"));
    const CliResult gone = RunCli({QStringLiteral("geotiff"), missing});
    EXPECT_EQ(gone.m_nExitCode, 1);
    EXPECT_TRUE(gone.m_StdOut.isEmpty());
    EXPECT_TRUE(QString::fromUtf8(gone.m_StdErr).contains(missing));

    const QString text = dir.filePath(QStringLiteral("text.tif"));
    WriteFileBytes(text, QByteArray("plain words"));
    EXPECT_EQ(RunCli({QStringLiteral("geotiff"), text}).m_nExitCode, 1);

    // Pixel data cut short: the image is left out, and with none left there is no answer.
    TiffBytes bytes;
    std::vector<QByteArray> rows(12, QByteArray(6, '\x40'));
    bytes.AddGreyDirectory(6, 12, 1, rows);
    const QByteArray whole = bytes.Build();
    const QString cut = dir.filePath(QStringLiteral("cut.tif"));
    WriteFileBytes(cut, whole.left(whole.size() - 30));
    const CliResult damaged = RunCli({QStringLiteral("geotiff"), cut});
    EXPECT_EQ(damaged.m_nExitCode, 1);
    EXPECT_TRUE(damaged.m_StdOut.isEmpty());
    EXPECT_TRUE(damaged.m_StdErr.contains("TIFF Error")) << damaged.m_StdErr.toStdString();

    EXPECT_EQ(RunCli({QStringLiteral("geotiff")}).m_nExitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("geotiff"), cut, cut}).m_nExitCode, 2);
}

TEST(GeoTiffCli, ReportsTheFrameOfImageZero)
{
    // Corners computed independently with PROJ's own tools (WGS 84 / UTM zone 18N).
    const CliResult geo = RunCli({QStringLiteral("geotiff"), TestDataPath(QStringLiteral("geotiff/RGB.byte.tif"))});
    ASSERT_EQ(geo.m_nExitCode, 0) << geo.m_StdErr.toStdString();
    const QJsonObject frame = QJsonDocument::fromJson(geo.m_StdOut).object().value(QStringLiteral("frame")).toObject();
    EXPECT_TRUE(frame.value(QStringLiteral("geotiff_frame")).toBool());
    EXPECT_TRUE(frame.value(QStringLiteral("geocoded")).toBool());
    const QJsonObject origin = frame.value(QStringLiteral("origin")).toObject();
    const QJsonObject extent = frame.value(QStringLiteral("extent")).toObject();
    EXPECT_NEAR(origin.value(QStringLiteral("latitude")).toDouble(), 23.6059469554, 1e-7);
    EXPECT_NEAR(origin.value(QStringLiteral("longitude")).toDouble(), -78.9586499654, 1e-7);
    EXPECT_NEAR(extent.value(QStringLiteral("latitude")).toDouble(), 25.5060873857 - 23.6059469554, 1e-7);
    EXPECT_NEAR(extent.value(QStringLiteral("longitude")).toDouble(), -76.5749237001 + 78.9586499654, 1e-7);

    // A TIFF without a georeference is a plain picture with the unit frame.
    const CliResult plain = RunCli({QStringLiteral("geotiff"), TestDataPath(QStringLiteral("tiff/hopper.tif"))});
    ASSERT_EQ(plain.m_nExitCode, 0);
    const QJsonObject none = QJsonDocument::fromJson(plain.m_StdOut).object().value(QStringLiteral("frame")).toObject();
    EXPECT_FALSE(none.value(QStringLiteral("geotiff_frame")).toBool(true));
    EXPECT_FALSE(none.value(QStringLiteral("geocoded")).toBool(true));
    EXPECT_EQ(none.value(QStringLiteral("extent")).toObject().value(QStringLiteral("latitude")).toDouble(), 1.0);
}
