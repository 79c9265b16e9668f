#include "Commands.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {

void PrintUsage()
{
    std::fprintf(stderr,
                 "usage: varnel-cli COMMAND ARGS...\n"
                 "commands:\n"
                 "  fit --width W --height H [--coef c0,...,c15] [--geocoded 0|1] POINTS.csv   fit the geo-coding model to control points\n"
                 "  geotiff FILE   import a TIFF map and report its images and georeferences\n"
                 "  info FILE   report what a workspace (.pws) or projection file (.gpf, .dpf, .cpf) holds\n"
                 "  locate FILE --pixel COLUMN,ROW   latitude and longitude of a picture pixel, as the status bar reads it out\n"
                 "  output WORKSPACE --format gpf|dpf|cpf [--range left,right,top,bottom] -o OUT   write the projection file Output A Geo-Map writes\n"
                 "  pack --format gpf|dpf|cpf --coef c0,...,c15 PICTURE -o OUT   write a projection file of a picture\n"
                 "  picture FILE   load a picture file as the picture service does\n"
                 "  recovery FILE   report what a recovery file left by an interrupted run holds\n"
                 "  unpack FILE [--as dpf|cpf] [-o PAYLOAD]   read a projection file as Open does\n");
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
    const bool draws = !(argc > 1 && std::strcmp(argv[1], "unpack") == 0);
    const std::unique_ptr<QCoreApplication> app =
        draws ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);

    const std::map<QString, std::function<int(const QStringList&)>> commands = {
        {QStringLiteral("fit"), RunFitCommand},
        {QStringLiteral("geotiff"), RunGeoTiffCommand},
        {QStringLiteral("info"), RunInfoCommand},
        {QStringLiteral("locate"), RunLocateCommand},
        {QStringLiteral("output"), RunOutputCommand},
        {QStringLiteral("pack"), RunPackCommand},
        {QStringLiteral("picture"), RunPictureCommand},
        {QStringLiteral("recovery"), RunRecoveryCommand},
        {QStringLiteral("unpack"), RunUnpackCommand},
    };
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || !commands.count(args.constFirst())) {
        PrintUsage();
        return args.isEmpty() ? 1 : (std::fprintf(stderr, "unknown command: %s\n", qPrintable(args.constFirst())), 1);
    }
    const QString name = args.takeFirst();
    return commands.at(name)(args);
}
