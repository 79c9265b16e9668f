#include "Commands.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

namespace {

void PrintUsage()
{
    std::fprintf(stderr,
                 "usage: varnel-cli COMMAND ARGS...\n"
                 "commands:\n"
                 "  export FILE --format geotiff|world|points|csv -o OUT [--range left,right,top,bottom]   write the geo-coding as GIS tools read it\n"
                 "  fit --width W --height H [--coef c0,...,c15] [--geocoded 0|1] POINTS.csv   fit the geo-coding model to control points\n"
                 "  geotiff FILE   import a TIFF map and report its images and georeferences\n"
                 "  import-points FILE --width W --height H   read control points from a .points or CSV file\n"
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
    QGuiApplication app(argc, argv);

    const std::map<QString, std::function<int(const QStringList&)>> commands = {
        {QStringLiteral("export"), RunExportCommand},
        {QStringLiteral("fit"), RunFitCommand},
        {QStringLiteral("geotiff"), RunGeoTiffCommand},
        {QStringLiteral("import-points"), RunImportPointsCommand},
        {QStringLiteral("info"), RunInfoCommand},
        {QStringLiteral("locate"), RunLocateCommand},
        {QStringLiteral("output"), RunOutputCommand},
        {QStringLiteral("pack"), RunPackCommand},
        {QStringLiteral("picture"), RunPictureCommand},
        {QStringLiteral("recovery"), RunRecoveryCommand},
        {QStringLiteral("unpack"), RunUnpackCommand},
    };
    QStringList args = QGuiApplication::arguments().mid(1);
    if (args.isEmpty() || !commands.count(args.constFirst())) {
        PrintUsage();
        return args.isEmpty() ? 1 : (std::fprintf(stderr, "unknown command: %s\n", qPrintable(args.constFirst())), 1);
    }
    const QString name = args.takeFirst();
    return commands.at(name)(args);
}
