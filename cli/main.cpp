#include "CliSupport.h"
#include "Commands.h"

#include "platform/Version.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct CliCommand {
    const char* m_Name;
    int (*m_Run)(const QStringList&);
    const char* m_Synopsis; ///< the arguments after the command's name
    const char* m_Purpose;
};

const CliCommand kCommands[] = {
    {"export", RunExportCommand, "FILE --format geotiff|world|points|csv -o OUT [--range left,right,top,bottom]",
     "write the geo-coding as GIS tools read it"},
    {"fit", RunFitCommand, "--width W --height H [--coef c0,...,c15] [--geocoded 0|1] POINTS.csv",
     "fit the geo-coding model to control points"},
    {"geotiff", RunGeoTiffCommand, "FILE", "import a TIFF map and report its images and georeferences"},
    {"import-points", RunImportPointsCommand, "FILE --width W --height H", "read control points from a .points or CSV file"},
    {"info", RunInfoCommand, "FILE", "report what a workspace (.pws) or projection file (.gpf, .dpf, .cpf) holds"},
    {"locate", RunLocateCommand, "FILE --pixel COLUMN,ROW",
     "latitude and longitude of a picture pixel, as the status bar reads it out"},
    {"output", RunOutputCommand, "WORKSPACE --format gpf|dpf|cpf [--range left,right,top,bottom] -o OUT",
     "write the projection file Output A Geo-Map writes"},
    {"pack", RunPackCommand, "--format gpf|dpf|cpf --coef c0,...,c15 PICTURE -o OUT", "write a projection file of a picture"},
    {"picture", RunPictureCommand, "FILE", "load a picture file as the picture service does"},
    {"recovery", RunRecoveryCommand, "FILE", "report what a recovery file left by an interrupted run holds"},
    {"unpack", RunUnpackCommand, "FILE [--as dpf|cpf] [-o PAYLOAD]", "read a projection file as Open does"},
};

const CliCommand* FindCommand(const QString& name)
{
    for (const CliCommand& command : kCommands)
        if (name == QLatin1String(command.m_Name))
            return &command;
    return nullptr;
}

void PrintUsage(std::FILE* to)
{
    std::fprintf(to, "usage: varnel-cli COMMAND ARGS...\n"
                     "commands:\n");
    for (const CliCommand& command : kCommands)
        std::fprintf(to, "  %s %s   %s\n", command.m_Name, command.m_Synopsis, command.m_Purpose);
    std::fprintf(to, "options:\n"
                     "  --help   show this help, or a command's with varnel-cli COMMAND --help\n"
                     "  --version   show the version\n"
                     "  --progress   write the progress of long work on standard error, in whole percentages\n");
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
        return 1;
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
        std::fprintf(stderr, "varnel-cli: unknown option %s\nTry 'varnel-cli --help' for more information.\n", qPrintable(first));
        return 2;
    }
    const CliCommand* command = FindCommand(first);
    if (!command) {
        PrintUsage(stderr);
        std::fprintf(stderr, "unknown command: %s\n", qPrintable(first));
        return 1;
    }
    if (std::any_of(args.cbegin(), args.cend(), IsHelpOption)) {
        std::printf("usage: varnel-cli %s %s\n%s\n", command->m_Name, command->m_Synopsis, command->m_Purpose);
        return 0;
    }
    return command->m_Run(args);
}
