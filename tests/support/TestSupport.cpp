#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

QString TestDataPath(const QString& relative)
{
    return QDir(qEnvironmentVariable("VARNEL_TEST_DATA", QStringLiteral(VARNEL_TEST_DATA_DIR))).filePath(relative);
}

QString SharedTestDataPath(const QString& relative)
{
    const QDir shared(qEnvironmentVariable("VARNEL_SHARED_TESTDATA", QStringLiteral(VARNEL_SHARED_TESTDATA_DIR)));
    return shared.exists() ? shared.filePath(relative) : QString();
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString CliPath()
{
    return qEnvironmentVariable("VARNEL_CLI", QStringLiteral(VARNEL_CLI_PATH));
}

CliResult RunCli(const QStringList& args)
{
    QProcess process;
    process.start(CliPath(), args);
    CliResult result;
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "varnel-cli did not finish: " << args.join(' ').toStdString();
        return result;
    }
    result.m_nExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.m_StdOut = process.readAllStandardOutput();
    result.m_StdErr = process.readAllStandardError();
    return result;
}
