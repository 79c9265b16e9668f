#include "FuzzHarness.h"

#include "platform/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>

#include <unistd.h>

namespace {

void QuietMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

QString ScratchFolder()
{
    static const QString folder = [] {
        const QString path = QDir::tempPath() + QStringLiteral("/varnel-fuzz-%1").arg(::getpid());
        QDir().mkpath(path);
        return path;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietMessages);
    static QGuiApplication app(*argc, *argv);
    SetMemoryCeiling(kFuzzMemoryCeiling);
    return 0;
}

QByteArray FuzzBytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

QString FuzzScratchPath(const QString& name)
{
    return ScratchFolder() + QLatin1Char('/') + name;
}

QString FuzzInputFile(const std::uint8_t* data, std::size_t size)
{
    const QString path = FuzzScratchPath(QStringLiteral("input"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}

void FuzzProcessEvents()
{
    QCoreApplication::processEvents();
}
