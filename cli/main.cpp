#include "CliSupport.h"
#include "Commands.h"

#include "platform/MemoryBudget.h"
#include "platform/Version.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

void PrintUsage(std::FILE* to)
{
    std::fprintf(to, "usage: varnel-cli COMMAND ARGS...\n"
                     "commands:\n");
    for (const CliCommand& command : CliCommands())
        std::fprintf(to, "  %s %s   %s\n", command.m_Name, command.m_Synopsis, command.m_Purpose);
    std::fprintf(to, "options:\n");
    for (const CliOption& option : CliOptions())
        std::fprintf(to, "  %s   %s\n", option.m_Name, option.m_Purpose);
}

bool IsHelpOption(const QString& arg)
{
    return arg == QStringLiteral("--help") || arg == QStringLiteral("-h");
}

/// The tool's standard error carries its own messages only; Qt's diagnostics would drown them.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char* argv[])
{
    // Pictures and metafiles are rendered without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQtMessages);
    // Reading a projection file draws nothing: unpack skips the platform plugin and its font
    // set-up, a noticeable part of the time it takes.
    int named = 1;
    while (named < argc && std::strcmp(argv[named], "--progress") == 0)
        ++named;
    const bool draws = !(named < argc && std::strcmp(argv[named], "unpack") == 0);
    const std::unique_ptr<QCoreApplication> app =
        draws ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);

    QStringList args = QCoreApplication::arguments().mid(1);
    // --progress may come before or after the command.
    if (args.removeAll(QStringLiteral("--progress")) > 0)
        EnableCliProgress();
    if (args.isEmpty()) {
        PrintUsage(stderr);
        return kCliUsageStatus;
    }
    const QString first = args.takeFirst();
    if (IsHelpOption(first)) {
        PrintUsage(stdout);
        return 0;
    }
    if (first == QStringLiteral("--version") || first == QStringLiteral("-v")) {
        std::printf("varnel-cli %s\n", qPrintable(VarnelVersion()));
        return 0;
    }
    if (first.startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "varnel-cli: unknown option %s\nTry 'varnel-cli --help' for more information.\n",
                     qPrintable(QuotedField(first)));
        return kCliUsageStatus;
    }
    const CliCommand* command = FindCliCommand(first);
    if (!command) {
        PrintUsage(stderr);
        std::fprintf(stderr, "unknown command: %s\n", qPrintable(QuotedField(first)));
        return kCliUsageStatus;
    }
    if (std::any_of(args.cbegin(), args.cend(), IsHelpOption)) {
        std::printf("%s\n%s\n%s", qPrintable(CliUsage(command->m_Name)), command->m_Purpose,
                    command->m_Details ? command->m_Details : "");
        return 0;
    }
    try {
        return command->m_Run(args);
    } catch (const std::bad_alloc&) {
        // What the command was making when memory ran out has been freed on the way here.
        return CliFail(command->m_Name, OutOfMemoryText());
    }
}
