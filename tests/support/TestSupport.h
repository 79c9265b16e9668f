#pragma once
// Helpers shared by the tests: where test files are, temporary folders, and small checks.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

/// A file in tests/data.
QString TestDataPath(const QString& relative);
/// A file in the shared third-party test data beside the project, or empty when that folder
/// is absent (tests that need it skip).
QString SharedTestDataPath(const QString& relative);
/// The whole content of a file (fails the test when it cannot be read).
QByteArray ReadFileBytes(const QString& path);
/// Writes bytes to a new file.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
/// Path of the varnel-cli executable under test.
QString CliPath();

struct CliResult {
    int m_nExitCode = -1;
    QByteArray m_StdOut;
    QByteArray m_StdErr;
};
/// Runs varnel-cli with the arguments and waits for it.
CliResult RunCli(const QStringList& args);
