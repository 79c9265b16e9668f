// Metafile maps through the command-line tool: loaded as the picture service loads them, and
// packed into projection files, whose GPF and DPF payloads must be BMP renderings.

#include "MetafileTestStreams.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kCoefficients = QStringLiteral("1,0.5,0.25,0,0,0,0,0,2,0.125,0.75,0,0,0,0,0");

/// A 96 x 48 enhanced metafile: a red rectangle and a small bitmap.
QByteArray SampleEmf()
{
    EmfStream emf({0, 0, 2540, 1270});
    emf.CreateBrush(1, QColor(220, 20, 30)).Select(1).Select(0x80000008u).Rectangle({10, 10, 40, 30});
    emf.StretchDIBits({50, 5, 67, 14}, {0, 0}, {17, 9}, MakeDib(17, 9, {24, 40, false, false, {0, 0, 0}, "24-bit"}));
    return emf.Bytes();
}

/// A placeable metafile of 1200 x 600 units at 1200 per inch: 96 x 48 pixels.
QByteArray SampleWmf()
{
    WmfStream wmf({0, 0, 1200, 600}, 1200);
    wmf.CreateBrush(QColor(20, 40, 200)).Select(0).Rectangle({100, 100, 500, 400});
    return wmf.Bytes();
}

QJsonObject Json(const CliResult& result)
{
    EXPECT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
    return QJsonDocument::fromJson(result.m_StdOut).object();
}

} // namespace

TEST(MetafileCliTest, MetafilesLoadWithTheSizeTheirHeadersGive)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
    } files[] = {{"map.emf", SampleEmf()}, {"map.wmf", SampleWmf()}, {"map-named-wrongly.bmp", SampleEmf()}};
    for (const auto& f : files) {
        const QString path = dir.filePath(QString::fromLatin1(f.name));
        WriteFileBytes(path, f.bytes);
        const QJsonObject json = Json(RunCli({QStringLiteral("picture"), path}));
        EXPECT_TRUE(json.value(QStringLiteral("loaded")).toBool(false)) << f.name;
        EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 96) << f.name;
        EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 48) << f.name;
        EXPECT_EQ(json.value(QStringLiteral("byte_size")).toInt(), f.bytes.size()) << f.name;
    }
}

TEST(MetafileCliTest, ProjectionFilesCarryABmpRenderingOfTheMetafile)
{
    QTemporaryDir dir;
    for (const char* source : {"map.emf", "map.wmf"}) {
        const QByteArray bytes = QByteArray(source).endsWith("emf") ? SampleEmf() : SampleWmf();
        const QString picture = dir.filePath(QString::fromLatin1(source));
        WriteFileBytes(picture, bytes);
        const QImage rendering = RenderPicture(bytes);
        for (const char* format : {"gpf", "dpf", "cpf"}) {
            const QString out = dir.filePath(QStringLiteral("map.") + QString::fromLatin1(format));
            Json(RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QString::fromLatin1(format),
                         QStringLiteral("--coef"), kCoefficients, picture, QStringLiteral("-o"), out}));
            const QString payloadPath = dir.filePath(QStringLiteral("payload.bin"));
            const QJsonObject json = Json(RunCli({QStringLiteral("unpack"), out, QStringLiteral("-o"), payloadPath}));
            const QByteArray payload = ReadFileBytes(payloadPath);
            if (QByteArray(format) == "cpf") {
                // CPF keeps the picture as it came.
                EXPECT_EQ(payload, bytes) << source << " " << format;
                continue;
            }
            EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 96) << source << " " << format;
            EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 48) << source << " " << format;
            ASSERT_EQ(payload.left(2), QByteArray("BM")) << source << " " << format;
            const QImage bmp = QImage::fromData(payload, "BMP").convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(bmp, rendering) << source << " " << format;
        }
    }
}
