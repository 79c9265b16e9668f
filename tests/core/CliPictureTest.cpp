#include "TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(CliPicture, ReportsSizeAndFileLength)
{
    const QString path = TestDataPath(QStringLiteral("pictures/jpg/flower.jpg"));
    const CliResult result = RunCli({QStringLiteral("picture"), path});
    ASSERT_EQ(result.m_nExitCode, 0) << result.m_StdErr.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(result.m_StdOut).object();
    EXPECT_EQ(json.value(QStringLiteral("loaded")).toBool(false), true);
    EXPECT_EQ(json.value(QStringLiteral("width")).toInt(), 480);
    EXPECT_EQ(json.value(QStringLiteral("height")).toInt(), 360);
    EXPECT_EQ(json.value(QStringLiteral("byte_size")).toInt(), QFile(path).size());
}

TEST(CliPicture, NonPictureAndMissingFileAreErrors)
{
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.bmp"));
    WriteFileBytes(text, QByteArray("not a picture"));
    const CliResult notPicture = RunCli({QStringLiteral("picture"), text});
    EXPECT_EQ(notPicture.m_nExitCode, 1); // no answer, as New refuses it (the hostile inputs' table checks the words)

    const QString missing = dir.filePath(QStringLiteral("gone.bmp"));
    const CliResult error = RunCli({QStringLiteral("picture"), missing});
    EXPECT_EQ(error.m_nExitCode, 1);
    EXPECT_TRUE(error.m_StdOut.isEmpty());
    EXPECT_TRUE(QString::fromUtf8(error.m_StdErr).contains(missing));

    EXPECT_EQ(RunCli({QStringLiteral("picture")}).m_nExitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("no-such-command")}).m_nExitCode, 2);
}
