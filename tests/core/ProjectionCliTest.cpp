#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kCoefficients = QStringLiteral(
    "-3.25e-7,400.125,0,-2800.874985375,-1234.5678901234567,0.1,0,55554.855055555556,0,0,0,0,0,0,0,1e300");

QJsonObject Json(const CliResult& result)
{
    EXPECT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
    return QJsonDocument::fromJson(result.m_StdOut).object();
}

class ProjectionCliTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_Dir.filePath(name); }
    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(ProjectionCliTest, PackedFlavoursUnpackToTheirPayloadAndCoefficients)
{
    const QString bmp = TestDataPath(QStringLiteral("pictures/bmp/rgb24.bmp"));
    const QString jpeg = TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg"));
    const struct {
        const char* format;
        QString picture;
        const char* flavour;
        int width, height;
        bool payloadIsOriginal;
    } cases[] = {
        {"gpf", bmp, "GPF", 127, 64, true},
        {"dpf", bmp, "DPF", 127, 64, true},
        {"dpf", jpeg, "DPF", 128, 128, false}, // a JPEG travels as the BMP the picture service saves
        {"cpf", jpeg, "CPF", 128, 128, true},
    };
    const QStringList expected = kCoefficients.split(QLatin1Char(','));
    for (const auto& c : cases) {
        const QString out = Path(QStringLiteral("map.") + QString::fromLatin1(c.format));
        const CliResult packed = RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QString::fromLatin1(c.format),
                                         QStringLiteral("--coef"), kCoefficients, c.picture, QStringLiteral("-o"), out});
        ASSERT_EQ(packed.m_nExitCode, 0) << packed.m_StdErr.toStdString();

        const QString payload = Path(QStringLiteral("payload.bin"));
        const QJsonObject json = Json(RunCli({QStringLiteral("unpack"), out, QStringLiteral("-o"), payload}));
        EXPECT_EQ(json.value(QStringLiteral("flavour")).toString(), QString::fromLatin1(c.flavour)) << c.format;
        EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), c.width) << c.format;
        EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), c.height) << c.format;
        EXPECT_TRUE(json.value(QStringLiteral("geocoded")).toBool()) << c.format;
        const QJsonArray coefficients = json.value(QStringLiteral("coefficients")).toArray();
        ASSERT_EQ(coefficients.size(), 16);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(coefficients[i].toDouble(), expected[i].toDouble()) << c.format << " c" << i;
        const QByteArray written = ReadFileBytes(payload);
        EXPECT_EQ(json.value(QStringLiteral("payload_bytes")).toInt(), written.size());
        if (c.payloadIsOriginal)
            EXPECT_EQ(written, ReadFileBytes(c.picture)) << c.format;
        else
            EXPECT_EQ(written.left(2), QByteArray("BM")) << c.format;
        const qint64 fileSize = ReadFileBytes(out).size();
        if (QString::fromLatin1(c.format) == QStringLiteral("cpf")) {
            EXPECT_TRUE(json.value(QStringLiteral("variant")).isNull());
            EXPECT_TRUE(json.value(QStringLiteral("compressed_bytes")).isNull());
            EXPECT_EQ(fileSize, 144 + written.size());
        } else {
            EXPECT_EQ(json.value(QStringLiteral("variant")).toInt(-1), 0);
            EXPECT_EQ(json.value(QStringLiteral("compressed_bytes")).toInt(), fileSize - 1177);
        }
    }
}

TEST_F(ProjectionCliTest, ReaderIsChosenByExtensionOrByRequest)
{
    const QString cpf = Path(QStringLiteral("map.cpf"));
    ASSERT_EQ(RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QStringLiteral("cpf"), QStringLiteral("--coef"),
                      kCoefficients, TestDataPath(QStringLiteral("pictures/gif/hopper.gif")), QStringLiteral("-o"), cpf})
                  .m_nExitCode,
              0);
    const QString renamed = Path(QStringLiteral("map.pws"));
    QFile::copy(cpf, renamed);
    EXPECT_EQ(RunCli({QStringLiteral("unpack"), renamed}).m_nExitCode, 1); // no reader for .pws
    const QJsonObject json = Json(RunCli({QStringLiteral("unpack"), renamed, QStringLiteral("--as"), QStringLiteral("cpf")}));
    EXPECT_EQ(json.value(QStringLiteral("flavour")).toString(), QStringLiteral("CPF"));
    // The same bytes read as a DPF are refused (the byte where a DPF keeps its variant is not 0 or 1).
    const CliResult asDpf = RunCli({QStringLiteral("unpack"), renamed, QStringLiteral("--as"), QStringLiteral("dpf")});
    EXPECT_EQ(asDpf.m_nExitCode, 1);
    EXPECT_FALSE(asDpf.m_StdErr.isEmpty());
}

TEST_F(ProjectionCliTest, RefusedAndSingularFiles)
{
    const QString dpf = Path(QStringLiteral("map.dpf"));
    ASSERT_EQ(RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QStringLiteral("dpf"), QStringLiteral("--coef"),
                      kCoefficients, TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), QStringLiteral("-o"), dpf})
                  .m_nExitCode,
              0);
    const QString cut = Path(QStringLiteral("cut.dpf"));
    WriteFileBytes(cut, ReadFileBytes(dpf).left(1500));
    const CliResult refused = RunCli({QStringLiteral("unpack"), cut});
    EXPECT_EQ(refused.m_nExitCode, 1);
    EXPECT_TRUE(refused.m_StdOut.isEmpty());
    EXPECT_TRUE(QString::fromUtf8(refused.m_StdErr).contains(QStringLiteral("cut short or damaged")));

    const QString singular = Path(QStringLiteral("flat.gpf"));
    ASSERT_EQ(RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QStringLiteral("gpf"), QStringLiteral("--coef"),
                      QStringLiteral("0,0,0,5,0,0,0,7,0,0,0,0,0,0,0,0"),
                      TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), QStringLiteral("-o"), singular})
                  .m_nExitCode,
              0);
    const CliResult flat = RunCli({QStringLiteral("unpack"), singular});
    const QJsonObject json = Json(flat);
    EXPECT_FALSE(json.value(QStringLiteral("geocoded")).toBool(true));
    EXPECT_TRUE(QString::fromUtf8(flat.m_StdErr).contains(QStringLiteral("geo-information")));

    EXPECT_EQ(RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QStringLiteral("png"), QStringLiteral("--coef"),
                      kCoefficients, TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), QStringLiteral("-o"), dpf})
                  .m_nExitCode,
              2);
    EXPECT_EQ(RunCli({QStringLiteral("pack"), QStringLiteral("--format"), QStringLiteral("gpf"), QStringLiteral("--coef"),
                      QStringLiteral("1,2"), TestDataPath(QStringLiteral("pictures/bmp/pal8.bmp")), QStringLiteral("-o"), dpf})
                  .m_nExitCode,
              2);
}
