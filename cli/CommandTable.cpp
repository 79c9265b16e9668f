#include "Commands.h"

#include <QLatin1String>

namespace {

const CliCommand kCommands[] = {
    {"export", RunExportCommand, "FILE --format geotiff|world|points|csv -o OUT [--range left,right,top,bottom]",
     "write the geo-coding as GIS tools read it"},
    {"fit", RunFitCommand, "--width W --height H [--coef c0,...,c15] [--geocoded 0|1] POINTS.csv",
     "fit the geo-coding model to control points",
     "  POINTS.csv: header latitude,longitude,x,y; latitude and longitude in decimal degrees,\n"
     "  x and y in frame units (fraction of the width from the left, of the height from the bottom)\n"},
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

const CliOption kOptions[] = {
    {"--help", "show this help, or a command's with varnel-cli COMMAND --help"},
    {"--version", "show the version"},
    {"--progress", "write the progress of long work on standard error, in whole percentages"},
};

} // namespace

std::span<const CliOption> CliOptions()
{
    return kOptions;
}

std::span<const CliCommand> CliCommands()
{
    return kCommands;
}

const CliCommand* FindCliCommand(const QString& name)
{
    for (const CliCommand& command : kCommands)
        if (name == QLatin1String(command.m_Name))
            return &command;
    return nullptr;
}

QString CliUsage(const char* name)
{
    const CliCommand* command = FindCliCommand(QLatin1String(name));
    return command != nullptr
        ? QStringLiteral("usage: varnel-cli %1 %2").arg(QLatin1String(command->m_Name), QLatin1String(command->m_Synopsis))
        : QStringLiteral("usage: varnel-cli COMMAND ARGS...");
}
