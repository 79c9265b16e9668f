#include "CliMain.h"
#include "CliBasics.h"
#include "Commands.h"

#include "platform/MemoryBudget.h"
#include "platform/Version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

/// The runner of the command called name in program, or null.
const CliRunner* FindCliRunner(const CliProgram& program, const char* name)
{
    const auto found = std::find_if(program.m_Runners.begin(), program.m_Runners.end(), [name](const CliRunner& runner) {
        return std::strcmp(runner.m_Name, name) == 0;
    });
    return found != program.m_Runners.end() ? &*found : nullptr;
}

} // namespace

int RunCli(int argc, char* argv[], const CliProgram& program)
{
    // Pictures and metafiles are rendered without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQtMessages);
    const std::unique_ptr<QCoreApplication> app = program.m_MakeApplication(argc, argv);

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
    const CliCommand* command = FindCliCommand(first.toStdString());
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
    const CliRunner* runner = FindCliRunner(program, command->m_Name);
    if (!runner)
        return CliFail(command->m_Name, QStringLiteral("this program does not run the command"));
    try {
        return runner->m_Run(args);
    } catch (const std::bad_alloc&) {
        // What the command was making when memory ran out has been freed on the way here.
        return CliFail(command->m_Name, OutOfMemoryText());
    }
}
