// The tool: runs every command of varnel-cli. The launcher starts it for all but unpack, the help
// and the version.

#include "CliMain.h"
#include "Commands.h"

#include <QGuiApplication>

namespace {

const CliRunner kRunners[] = {
    {"export", RunExportCommand},
    {"fit", RunFitCommand},
    {"geocode", RunGeocodeCommand},
    {"geotiff", RunGeoTiffCommand},
    {"import-points", RunImportPointsCommand},
    {"info", RunInfoCommand},
    {"locate", RunLocateCommand},
    {"output", RunOutputCommand},
    {"overlay", RunOverlayCommand},
    {"pack", RunPackCommand},
    {"picture", RunPictureCommand},
    {"recovery", RunRecoveryCommand},
    {"rectify", RunRectifyCommand},
    {"unpack", RunUnpackCommand},
};

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[])
{
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int main(int argc, char* argv[])
{
    return RunCli(argc, argv, CliProgram{kRunners, MakeApplication});
}
